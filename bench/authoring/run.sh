#!/usr/bin/env bash
# Patch authoring on real trees: `mendwell-build diff` turns two product trees into a patch, the patch is
# assembled and `mendwell-build verify` applies it (and a run failing on its last entry) on fresh machines.
# Prints the time and peak memory of diff against `zip -r` of the new tree, and the payload against the
# best per-file choice of bsdiff, xdelta3 -9, zstd -19 --patch-from and HDiffPatch (hdiffz -m-6 with zstd
# and with bzip2, hdiffz -s-64) plus a zip of the added files.
#   bench/authoring/run.sh [BIN]     BIN: release bin folder (default build/release/bin)
#   ONLY=corpus|small|debian         one of the three runs
#   PACKAGES_PAIR="libssl3 openssl"  the packages of the Debian run (two versions of each)
# Everything is made in build/bench-authoring (packages come from apt-get download, never into the tree).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="$(cd "${1:-$root/build/release/bin}" && pwd)"
work="$root/build/bench-authoring"
mkdir -p "$work/debs"
cd "$work"

for tool in bsdiff xdelta3 zstd zip; do
  command -v "$tool" >/dev/null || { echo "missing $tool (./build.sh installs it)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (./build.sh installs it)" >&2; exit 2; }
# HDiffPatch from the released source beside the project, built once into build/peers (benchmarks only).
hdiff="$root/build/peers/hdiffz"
[ -x "$hdiff" ] || "$root/../shared/peers/build-hdiffpatch.sh" "$root/build/peers" >/dev/null 2>&1 ||
  { echo "note: HDiffPatch could not be built; its choices are left out" >&2; hdiff=""; }

# The newest two versions of a package, fetched and unpacked into debs/PKG-VERSION (symbolic links
# dropped: a patch carries files). Prints "OLD NEW".
unpack_two() {
  local pkg=$1 v
  local versions=()
  mapfile -t versions < <(apt-cache madison "$pkg" | awk '{print $3}' | awk '!seen[$0]++' | head -2)
  [ ${#versions[@]} -eq 2 ] || { echo "fewer than two versions of $pkg" >&2; return 1; }
  for v in "${versions[@]}"; do
    local dir="debs/$pkg-$v"
    if [ ! -d "$dir" ]; then
      (cd debs && apt-get download -q "$pkg=$v" >/dev/null 2>&1) || { echo "cannot download $pkg=$v" >&2; return 1; }
      mkdir -p "$dir.tmp" && dpkg-deb -x debs/"$pkg"_*"${v#*:}"_*.deb "$dir.tmp" || return 1
      find "$dir.tmp" -type l -delete
      mv "$dir.tmp" "$dir"
    fi
  done
  echo "debs/$pkg-${versions[1]} debs/$pkg-${versions[0]}"
}

config() {  # NAME OUT
  cat >"$2" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<PatcherConfig>
  <Name>$1</Name>
  <PatcherID>{3C1F6B0A-8E52-4D7A-9B1E-2F6A0C4D8E71}</PatcherID>
  <BuildNumber>1</BuildNumber>
  <ComboPatch>false</ComboPatch>
  <ProductData>
    <OrvexCode><GUID>{7E2D4C61-5B3A-4F19-8C0E-1A9B2D3F4E50}</GUID></OrvexCode>
    <OldVersion>1.0</OldVersion>
    <NewVersion>1.1</NewVersion>
  </ProductData>
</PatcherConfig>
XML
}

# measure OUTVAR command...: "seconds peak-KiB" of one run (children included), output in LOG
measure() {
  local out=$1; shift
  /usr/bin/time -v -o time.txt "$@" >>log.txt 2>&1 || { echo "FAILED: $* (see $work/log.txt)" >&2; return 1; }
  local wall kib
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' time.txt)
  kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' time.txt)
  printf -v "$out" '%s %s' "$wall" "$kib"
}

# The peers' payload: for each file in both trees with other bytes, the smallest of bsdiff, xdelta3 -9,
# zstd -19 --patch-from and the three hdiffz settings; plus a zip -9 of the files only in the new tree. Renamed files cost
# nothing either way (diff finds them by content). Sets PEER_CHANGED, PEER_ADDED.
peers() {
  local old=$1 new=$2 rel best size
  PEER_CHANGED=0 PEER_ADDED=0
  rm -rf peer && mkdir peer
  # the contents of files gone from the old tree: a new file holding one of them is a rename
  (cd "$old" && find . -type f -print0 | while IFS= read -r -d '' rel; do
    [ -f "$new/$rel" ] || md5sum <"$rel" | cut -c1-32
  done) >peer/gone-sums
  local added=()
  local -A gone=()
  while read -r rel; do gone[$rel]=$((${gone[$rel]:-0} + 1)); done <peer/gone-sums
  while IFS= read -r -d '' rel; do
    rel=${rel#./}
    if [ -f "$old/$rel" ]; then
      cmp -s "$old/$rel" "$new/$rel" && continue
      bsdiff "$old/$rel" "$new/$rel" peer/d.bs
      xdelta3 -9 -D -f -e -s "$old/$rel" "$new/$rel" peer/d.xd3 2>/dev/null  # -D: gzip files as they are
      zstd -q -f -19 --long=31 --patch-from="$old/$rel" "$new/$rel" -o peer/d.zst 2>/dev/null
      local made=(peer/d.bs peer/d.xd3 peer/d.zst)
      if [ -n "$hdiff" ]; then
        "$hdiff" -f -m-6 -c-zstd-21-24 "$old/$rel" "$new/$rel" peer/d.hz1 >/dev/null 2>&1 && made+=(peer/d.hz1)
        "$hdiff" -f -m-6 -c-bzip2-9 "$old/$rel" "$new/$rel" peer/d.hz2 >/dev/null 2>&1 && made+=(peer/d.hz2)
        "$hdiff" -f -s-64 -c-zstd-21-24 "$old/$rel" "$new/$rel" peer/d.hz3 >/dev/null 2>&1 && made+=(peer/d.hz3)
      fi
      best=$(stat -c %s "${made[@]}" | sort -n | head -1)
      rm -f peer/d.hz1 peer/d.hz2 peer/d.hz3
      PEER_CHANGED=$((PEER_CHANGED + best))
    else
      # like diff, each gone file makes one rename: a second new copy of its bytes is added
      local sum
      sum=$(md5sum <"$new/$rel" | cut -c1-32)
      if [ "${gone[$sum]:-0}" -gt 0 ]; then
        gone[$sum]=$((gone[$sum] - 1))
      else
        added+=("$rel")
      fi
    fi
  done < <(cd "$new" && find . -type f -print0 | LC_ALL=C sort -z)
  if [ ${#added[@]} -gt 0 ]; then
    (cd "$new" && printf '%s\n' "${added[@]}" | zip -q -9 -@ "$work/peer/added.zip")
    PEER_ADDED=$(stat -c %s peer/added.zip)
  fi
}

# run NAME OLD NEW: diff (against zip -r of NEW), assemble, verify, peers; one result line.
run() {
  local name=$1 old new d z v
  old=$(cd "$2" && pwd) new=$(cd "$3" && pwd)
  rm -rf "patch-$name" "patcher-$name" new.zip
  config "$name" "config-$name.xml"
  echo "== $name: $(find "$old" -type f | wc -l) files old, $(find "$new" -type f | wc -l) new"
  measure d "$bin/mendwell-build" diff --old "$old" --new "$new" --config "config-$name.xml" -o "patch-$name"
  measure z zip -q -r new.zip "$new"
  grep '^wrote ' log.txt | tail -1 | sed 's/^/  /'
  "$bin/mendwell-build" assemble "patch-$name" -o "patcher-$name" >assemble.txt 2>&1
  cat assemble.txt >>log.txt
  measure v "$bin/mendwell-build" verify "patcher-$name" --old "$old" --new "$new" || v="0 0"
  tail -n 8 log.txt | grep -E 'identical|difference|return code|verify:' | sed 's/^/  /'
  peers "$old" "$new"
  local raw zipped
  raw=$(du -sb --apparent-size "patch-$name/payload" | cut -f1)
  zipped=$(sed -n 's/.*PATCHFILES\/100 .*(\([0-9]*\) bytes).*/\1/p' assemble.txt)
  read -r ds dk <<<"$d"; read -r zs zk <<<"$z"; read -r vs vk <<<"$v"
  printf '  diff %.2f s, %d MiB peak; zip -r %.2f s, %d MiB peak; ratio %.2f (time), %.2f (memory); verify %.1f s\n' \
    "$ds" $((dk / 1024)) "$zs" $((zk / 1024)) "$(echo "$ds / $zs" | bc -l)" "$(echo "$dk / $zk" | bc -l)" "$vs"
  printf '  payload %d bytes (payload archive in the patcher: %d); peers %d (changed files %d + zip of added %d); ratio %.3f\n' \
    "$raw" "$zipped" $((PEER_CHANGED + PEER_ADDED)) "$PEER_CHANGED" "$PEER_ADDED" \
    "$(echo "$zipped / ($PEER_CHANGED + $PEER_ADDED)" | bc -l)"
}

# The corpus: about 3000 real files of this machine's /usr (binaries and libraries as the payload
# benchmark takes them, plus documentation, profiles and fonts), names Windows takes, one spelling per
# name; three Debian libraries in their older version. The new tree is the old one changed in every way
# the manifest knows.
windows_names() {  # keeps paths whose every name Windows takes and whose lower-case spelling is unique
  awk '{ n = split($0, part, "/"); bad = length($0) > 190
      for (i = 1; i <= n && !bad; i++)
        if (part[i] ~ /[<>:"|?*\\]/ || part[i] ~ /[ .]$/ || tolower(part[i]) ~ /^(con|prn|aux|nul|com[1-9]|lpt[1-9])(\.|$)/) bad = 1
      key = tolower($0); if (!bad && !(key in seen)) { seen[key] = 1; print } }'
}

corpus() {
  rm -rf corpus && mkdir -p corpus/old
  (cd /usr && find bin lib -maxdepth 4 -type f -readable -size +4k -size -400k 2>/dev/null || true) | LC_ALL=C sort |
    windows_names | awk 'NR % 4 != 3' | sed -n '1,2400p' >corpus/base.txt
  (cd /usr && find share/doc share/color share/fonts share/poppler -maxdepth 4 -type f -readable -size +1k -size -200k 2>/dev/null || true) |
    LC_ALL=C sort | windows_names | awk 'NR % 5 == 0' | sed -n '1,600p' >>corpus/base.txt
  (cd /usr && tar cf - -T "$work/corpus/base.txt") | (cd corpus/old && tar xf -)
  chmod -R u+rw corpus/old
  # three libraries in two Debian versions: the older in the old tree, the newer in the new one
  local libs=() pair
  for pkg in libssl3 zlib1g libexpat1; do
    pair=$(unpack_two "$pkg") || continue
    libs+=("$pair")
    read -r o _ <<<"$pair"; cp -r "$o/." corpus/old/
  done
  cp -a corpus/old corpus/new
  local n=0 rel
  while IFS= read -r rel; do
    n=$((n + 1))
    local f="corpus/new/$rel"
    if [ $((n % 37)) -eq 0 ]; then            # removed
      rm "$f"
    elif [ $((n % 41)) -eq 0 ]; then          # renamed, into another folder
      mkdir -p corpus/new/moved && mv "$f" "corpus/new/moved/$n-$(basename "$rel")"
    elif [ $((n % 58)) -eq 0 ]; then          # edited in place: a line in front
      { printf 'edited %d\n' "$n"; cat "$f"; } >"$f.tmp" && mv "$f.tmp" "$f"
    elif [ $((n % 29)) -eq 0 ]; then          # edited in place: bytes in the middle
      printf 'MENDWELL EDIT %06d' "$n" | dd of="$f" bs=1 seek=$(($(stat -c %s "$f") / 3)) conv=notrunc status=none
    fi
  done <corpus/base.txt
  rm -rf corpus/new/lib/x86_64-linux-gnu/sasl2  # a whole folder removed
  # added: other real files, some in new folders; an empty folder added, one removed
  (cd /usr && find share/doc -maxdepth 3 -type f -readable -size +1k -size -100k 2>/dev/null || true) | LC_ALL=C sort |
    windows_names | grep -vxF -f corpus/base.txt | awk 'NR % 20 == 1' | sed -n '1,120p' >corpus/added.txt
  (cd /usr && tar cf - -T "$work/corpus/added.txt") | (cd corpus/new && mkdir -p added && cd added && tar xf -)
  chmod -R u+rw corpus/new
  mkdir -p corpus/new/empty/folder corpus/old/gone/empty
  for pair in "${libs[@]}"; do
    read -r o n2 <<<"$pair"
    (cd "$o" && find . -type f) | while IFS= read -r rel; do rm -f "corpus/new/$rel"; done
    cp -r "$n2/." corpus/new/
  done
}

# Many small binary files, most changed by a few bytes (what a data set gets in a point release): 500
# files of 1 to 24 KB cut from the older libcrypto; in the new tree four in five get one to three edits of
# one to four bytes each, the fifth stays as it was.
small_files() {
  local pair o
  pair=$(unpack_two libssl3) || return 1
  read -r o _ <<<"$pair"
  rm -rf small && mkdir -p small/old small/new
  python3 - "$o/usr/lib/x86_64-linux-gnu/libcrypto.so.3" small <<'PY'
import os, random, sys
data = open(sys.argv[1], 'rb').read()
rng = random.Random(26)
for i in range(500):
    size = rng.randint(1024, 24 * 1024)
    at = rng.randrange(0, len(data) - size)
    old = bytes(data[at:at + size])
    new = bytearray(old)
    if i % 5:
        for _ in range(rng.randint(1, 3)):
            n = rng.randint(1, 4)
            p = rng.randrange(0, size - n)
            new[p:p + n] = bytes(rng.randrange(256) for _ in range(n))
    name = f"data/set{i // 100}/record{i:04d}.bin"
    for side, content in (("old", old), ("new", bytes(new))):
        path = os.path.join(sys.argv[2], side, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
PY
}

: >log.txt
if [ "${ONLY:-small}" = small ]; then
  small_files && run small small/old small/new
fi
if [ "${ONLY:-corpus}" = corpus ]; then
  corpus
  run corpus corpus/old corpus/new
fi
if [ "${ONLY:-debian}" = debian ]; then
  for pkg in ${PACKAGES_PAIR:-libssl3 openssl}; do
    pair=$(unpack_two "$pkg") || continue
    read -r o n <<<"$pair"
    run "$pkg" "$o" "$n"
  done
fi
