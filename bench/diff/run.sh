#!/usr/bin/env bash
# Difference makers side by side on real pairs: qdiff (each method) against bsdiff/bspatch,
# xdelta3 -9, zstd -19 --long --patch-from and HDiffPatch (hdiffz -m-6 with zstd and with bzip2, hdiffz
# -s-64). Prints one table row per pair and tool:
# difference size, make time and peak memory, apply time and peak memory; checks every apply.
#   bench/diff/run.sh [BIN]        BIN: folder with qdiff (default build/release/bin)
#   LARGE=1 bench/diff/run.sh      also the ~100 MB pair (libLLVM 14 and 15; slow)
# Pairs come from apt-get download into build/bench-diff (never into the source tree).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
bin="${1:-$root/build/release/bin}"
work="$root/build/bench-diff"
mkdir -p "$work"
cd "$work"

for tool in bsdiff xdelta3; do
  command -v "$tool" >/dev/null || apt-get install -y -qq "$tool" >/dev/null
done
# HDiffPatch from the released source beside the project, built once into build/peers (benchmarks only).
peers="$root/build/peers"
if [ ! -x "$peers/hdiffz" ]; then
  "$root/../shared/peers/build-hdiffpatch.sh" "$peers" >/dev/null 2>&1 ||
    echo "note: HDiffPatch could not be built (../shared/peers/build-hdiffpatch.sh); its rows are skipped" >&2
fi
hdiff="" hpatch=""
[ -x "$peers/hdiffz" ] && hdiff="$peers/hdiffz" hpatch="$peers/hpatchz"

# fetch PACKAGE VERSION MEMBER OUT
fetch() {
  local dir="deb-$1-$2"
  if [ ! -d "$dir" ]; then
    apt-get download -q "$1=$2" >/dev/null 2>&1
    mkdir -p "$dir" && dpkg-deb -x "$1"_*"${2#*:}"_*.deb "$dir"
  fi
  cp "$dir/$3" "$4"
}
versions() { apt-cache madison "$1" | awk '{print $3}' | head -2; }

pairs=()
add_pair() {  # name package member [package2 member2]
  local name=$1 p1=$2 m1=$3 p2=${4:-$2} m2=${5:-$3}
  local v1 v2
  if [ "$p1" = "$p2" ]; then
    read -r v2 v1 < <(versions "$p1" | tr "\n" " ") || true
  else
    v1=$(versions "$p1" | head -1); v2=$(versions "$p2" | head -1)
  fi
  fetch "$p1" "$v1" "$m1" "$name.old" && fetch "$p2" "$v2" "$m2" "$name.new" && pairs+=("$name")
}
add_pair libssl libssl3 usr/lib/x86_64-linux-gnu/libssl.so.3
add_pair libcrypto libssl3 usr/lib/x86_64-linux-gnu/libcrypto.so.3
add_pair openssl openssl usr/bin/openssl
if [ "${LARGE:-0}" = 1 ]; then
  add_pair libLLVM libllvm14 usr/lib/x86_64-linux-gnu/libLLVM-14.so.1 libllvm15 usr/lib/x86_64-linux-gnu/libLLVM-15.so.1
fi

# measure OUTVAR command...: seconds and peak KiB of one run
measure() {
  local out=$1; shift
  /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; return 1; }
  printf -v "$out" '%s' "$(cat time.txt)"
}

printf '| pair | old | new | tool | difference | make s | make MiB | apply s | apply MiB |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for p in "${pairs[@]}"; do
  old=$p.old new=$p.new
  row() {  # tool diff make apply
    read -r ms mk <<<"$3"; read -r as ak <<<"$4"
    cmp -s "$new" out || { echo "MISMATCH: $1 on $p" >&2; }
    printf '| %s | %d | %d | %s | %d | %s | %d | %s | %d |\n' "$p" "$(stat -c %s "$old")" "$(stat -c %s "$new")" \
      "$1" "$(stat -c %s "$2")" "$ms" $((mk / 1024)) "$as" $((ak / 1024))
    rm -f out
  }
  for m in zstd match exe; do
    measure mk "$bin/qdiff" "$old" "$new" d.qdr --method "$m"
    measure ap "$bin/qdiff" --apply "$old" d.qdr out
    row "qdiff $m" d.qdr "$mk" "$ap"
  done
  measure mk bsdiff "$old" "$new" d.bsdiff; measure ap bspatch "$old" out d.bsdiff; row bsdiff d.bsdiff "$mk" "$ap"
  measure mk xdelta3 -9 -f -e -s "$old" "$new" d.xd3; measure ap xdelta3 -f -d -s "$old" d.xd3 out
  row "xdelta3 -9" d.xd3 "$mk" "$ap"
  measure mk zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o d.zst
  measure ap zstd -q -f -d --long=31 --patch-from="$old" d.zst -o out
  row "zstd -19 --patch-from" d.zst "$mk" "$ap"
  if [ -n "$hdiff" ]; then
    for opts in "-m-6 -c-zstd-21-24" "-m-6 -c-bzip2-9" "-s-64 -c-zstd-21-24"; do
      # shellcheck disable=SC2086
      measure mk "$hdiff" -f $opts "$old" "$new" d.hdz
      measure ap "$hpatch" -f "$old" d.hdz out
      row "hdiffz $opts" d.hdz "$mk" "$ap"
    done
  fi
  rm -f d.qdr d.bsdiff d.xd3 d.zst d.hdz
done
