#!/usr/bin/env bash
# The Mendwell demo: a fresh emulated machine, a registered sample product, a patch made from two sample
# trees of the product (mendwell-build diff), assembled, checked with mendwell-build verify and applied
# with -SILENT, then what the run left behind. Usage: tools/demo.sh BIN_DIR [--wizard]
# With --wizard the patch is applied through the wizard instead: a real window on a display; without
# one, the wizard is played by a script, drawn offscreen, and each page is saved as a PNG.
set -uo pipefail

BIN="$(cd "${1:?usage: tools/demo.sh BIN_DIR}" && pwd)"
HERE="$(cd "$(dirname "$0")/.." && pwd)"
TREES="$HERE/docs/examples/sample-trees"
PRODUCT_CODE='{5A7C1E2B-0D3F-4C58-9E61-7B2A4D8F9C10}'
INSTALL_DIR='C:\Program Files\Orvex\Lumen TX4'

DEMO="$(mktemp -d "${TMPDIR:-/tmp}/mendwell-demo.XXXXXX")"
if [ -z "${MENDWELL_DEMO_KEEP:-}" ]; then
  trap 'rm -rf "$DEMO"' EXIT
fi
export MENDWELL_MACHINE="$DEMO/machine"

step() { printf '\n== %s\n' "$*"; }

step "A fresh machine"
# A machine for tests: the demo kills a run through the patcher's fault hook further down.
"$BIN/machine" create "$MENDWELL_MACHINE" --test || exit 1

UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\'"$PRODUCT_CODE"
step "The machine: its profile, drive C:, the product's installed-programs entry and a service"
sed 's/^/  /' "$MENDWELL_MACHINE/machine.ini"
echo 'C:\'
"$BIN/machine" ls 'C:\' | sed 's/^/  /'
"$BIN/machine" reg add "$UNINSTALL_KEY" /v DisplayName /t REG_SZ /d "Lumen TX4" /f >/dev/null &&
  "$BIN/machine" reg add "$UNINSTALL_KEY" /v DisplayVersion /t REG_SZ /d "9.0" /f >/dev/null || exit 1
"$BIN/machine" reg query "$UNINSTALL_KEY"
"$BIN/machine" service add LumenLicensing --display "Lumen Licensing Service" --state running || exit 1
"$BIN/machine" service query LumenLicensing

step "The installed product: Lumen TX4 9.0"
product="$("$BIN/machine" path "$INSTALL_DIR")"
mkdir -p "$product"
cp -r "$TREES/old/." "$product/"
"$BIN/tally" add "$PRODUCT_CODE" --installdir "$INSTALL_DIR" --version 9.0 --language en_US \
  --product-code "$PRODUCT_CODE" --collection LumenTX4-Suite --installed 1780000000 --modified 1780000000 || exit 1
"$BIN/tally" list

show_product() {
  (cd "$product" && find . -type f | sort | while read -r f; do
    printf '  %s: %s\n' "${f#./}" "$(tr -d '\r' <"$f" | head -c 200 | tr '\n' '|')"
  done)
}
echo "Product files before the patch (name: content, lines joined by |):"
show_product

# The same machine, kept as it is now, for the failing patch further down.
cp -a "$MENDWELL_MACHINE" "$DEMO/machine-before"

step "Making the patch from two trees of the product: mendwell-build diff ($TREES)"
# The new tree's empty folder is made here: git keeps no empty folders.
cp -r "$TREES" "$DEMO/trees" && mkdir -p "$DEMO/trees/new/Presets/Publishing"
echo "Files that differ between the old (9.0) and the new (9.0.3) tree:"
(cd "$DEMO/trees" && diff -rq old new | sed 's/^/  /')
"$BIN/mendwell-build" diff --old "$DEMO/trees/old" --new "$DEMO/trees/new" --config "$DEMO/trees/config.xml" \
  --rules "$DEMO/trees/rules.txt" -o "$DEMO/patch" || exit 1
echo "The manifest's file and folder entries (registry and Add/Remove entries come from patch-extras.xml):"
grep -E '<Operation>|Path dir=|<DirectoryBase>' "$DEMO/patch/manifest.xml" | sed 's/^ */  /'

step "Assembling the patch, signed: mendwell-build keygen, assemble --sign, inspect"
"$BIN/mendwell-build" keygen "$DEMO/Orvex Release" | tee "$DEMO/keygen.txt" | sed 's/^/  /' || exit 1
fingerprint="$(sed -n 's/^fingerprint: //p' "$DEMO/keygen.txt")"
"$BIN/mendwell-build" assemble "$DEMO/patch" -o "$DEMO/LumenTX4_903_Update" --sign "$DEMO/Orvex Release.pem" ||
  exit 1
"$BIN/mendwell-build" inspect "$DEMO/LumenTX4_903_Update" | sed 's/^/  /'
echo "The machine accepts patches signed by this key only (HKLM\SOFTWARE\Orvex\Patcher, SignedBy):"
"$BIN/machine" reg add 'HKLM\SOFTWARE\Orvex\Patcher' /v SignedBy /t REG_MULTI_SZ /d "$fingerprint" /f >/dev/null || exit 1
"$BIN/machine" reg query 'HKLM\SOFTWARE\Orvex\Patcher' | sed 's/^/  /'

step "Checking the patcher: mendwell-build verify (fresh machines; the patch, then a run failing on its last entry)"
"$BIN/mendwell-build" verify "$DEMO/LumenTX4_903_Update" --old "$DEMO/trees/old" --new "$DEMO/trees/new" || exit 1

if [ "${2:-}" = "--wizard" ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    step "Running the patcher's wizard: LumenTX4_903_Update (close it with Finish)"
    "$DEMO/LumenTX4_903_Update"
    rc=$?
  else
    shots="${MENDWELL_DEMO_SHOTS:-$HERE/build/demo-wizard}"
    mkdir -p "$shots"
    step "No display: the wizard played by a script, pages saved in $shots"
    cat >"$DEMO/wizard-script" <<SCRIPT
shot $shots/1-welcome.png
click 1
await visible 205
shot $shots/2-installing.png
await text 1 Finish
shot $shots/5-finished.png
click 1
SCRIPT
    QT_QPA_PLATFORM=offscreen MENDWELL_DIALOG_SCRIPT="$DEMO/wizard-script" \
      MENDWELL_DIALOG_RECORD="$DEMO/wizard-record" "$DEMO/LumenTX4_903_Update"
    rc=$?
    echo "What the wizard showed:"
    sed 's/^/  /' "$DEMO/wizard-record"
    ls -1 "$shots"/*.png | sed 's/^/  /'
  fi
else
  step "Running the patcher: LumenTX4_903_Update -SILENT"
  "$DEMO/LumenTX4_903_Update" -SILENT
  rc=$?
fi
printf '\n\nProcess return code: %d\n' "$rc"

step "The work folder (%TEMP%\\Patcher)"
temp="$("$BIN/machine" path 'C:\Users\User\AppData\Local\Temp\Patcher')"
if [ -d "$temp" ]; then
  (cd "$temp" && find . | sort | sed 's|^\./||;/^\.$/d')
else
  echo "(none)"
fi

step "The log (C:\\Users\\User\\AppData\\Roaming\\Orvex\\PatcherLogs)"
logs="$("$BIN/machine" path 'C:\Users\User\AppData\Roaming\Orvex\PatcherLogs')"
found=0
for log in "$logs"/*.log; do
  [ -f "$log" ] || continue
  found=1
  echo "--- $(basename "$log")"
  iconv -f UTF-16LE -t UTF-8 "$log" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r'
done
[ "$found" = 1 ] || echo "(no log)"

step "The same patcher started by the update manager: qud-run --install-path ... --report C:\\QUD\\result.xml"
mkdir -p "$("$BIN/machine" path 'C:\QUD')"
"$BIN/qud-run" --install-path "$INSTALL_DIR\\" --report 'C:\QUD\result.xml' -- "$DEMO/LumenTX4_903_Update"
qud_rc=$?
printf 'qud-run return code: %d\n' "$qud_rc"
"$BIN/machine" acl 'C:\QUD\result.xml'
echo "The log of this run:"
for log in "$logs"/*.log; do
  [ -f "$log" ] || continue
  iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' |
    awk '/patching starts\./ { run = "" } { run = run $0 "\n" } END { printf "%s", run }'
done

step "The machine afterwards"
echo "Product folder $INSTALL_DIR (name: content):"
if [ -d "$product" ]; then show_product; else echo "  (gone)"; fi
history="$("$BIN/machine" path 'C:\Program Files\Common Files\Orvex\Installers')/$PRODUCT_CODE.patch"
echo "Patch history file (C:\Program Files\Common Files\Orvex\Installers\\$PRODUCT_CODE.patch):"
if [ -f "$history" ]; then
  iconv -f UTF-16LE -t UTF-8 "$history" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r' | sed 's/^/  /'
else
  echo "  (none: the patch was not applied)"
fi
echo "Installed-product database:"
"$BIN/tally" list | sed 's/^/  /'
echo "Installed-programs entry and service:"
"$BIN/machine" reg query "$UNINSTALL_KEY" | sed 's/^/  /'
"$BIN/machine" service query LumenLicensing | sed 's/^/  /'

step "The same patcher with one byte of its manifest altered after signing: refused, nothing changed"
cp "$DEMO/LumenTX4_903_Update" "$DEMO/altered"
at="$(grep -boa '<Manifest' "$DEMO/altered" | tail -1 | cut -d: -f1)"
printf 'm' | dd of="$DEMO/altered" bs=1 seek="$((at + 1))" conv=notrunc status=none
"$BIN/mendwell-build" inspect "$DEMO/altered" | sed 's/^/  /'
"$DEMO/altered" -SILENT >/dev/null
printf 'Process return code: %d\n' "$?"
echo "The log of this run:"
iconv -f UTF-16LE -t UTF-8 "$logs"/*.log | tr -d '\r' |
  awk '/patching starts\./ { run = "" } { run = run $0 "\n" } END { printf "%s", run }' | sed 's/^/  /'

step "A patch the pre-flight refuses: the registry key it writes is denied, so nothing is changed"
# The machine as it was before the first patch. Every entry is judged before the first change, so the
# denied key refuses the whole patch (6) with the files and folders untouched.
export MENDWELL_MACHINE="$DEMO/machine-before"
product="$("$BIN/machine" path "$INSTALL_DIR")"
"$BIN/machine" reg add 'HKLM\SOFTWARE\Orvex\Lumen\9.0' /v Version /d 9.0 /f >/dev/null &&
  "$BIN/machine" reg deny 'HKLM\SOFTWARE\Orvex\Lumen\9.0' >/dev/null || exit 1
denied=1
state() {
  (cd "$MENDWELL_MACHINE/drive_c/Program Files" && find . | sort | while read -r f; do
    if [ -f "$f" ]; then printf '%s %s\n' "$f" "$(md5sum <"$f" | cut -c1-32)"; else printf '%s/\n' "$f"; fi
  done)
  # The export reads through the denied key, so the denial is lifted for it alone.
  [ "$denied" = 1 ] && "$BIN/machine" reg deny 'HKLM\SOFTWARE\Orvex\Lumen\9.0' --off >/dev/null
  "$BIN/machine" reg export 'HKLM\SOFTWARE\Orvex' "$DEMO/reg.txt" >/dev/null && iconv -f UTF-16LE -t UTF-8 "$DEMO/reg.txt" | tr -d '\r'
  [ "$denied" = 1 ] && "$BIN/machine" reg deny 'HKLM\SOFTWARE\Orvex\Lumen\9.0' >/dev/null
  return 0
}
logs2="$("$BIN/machine" path 'C:\Users\User\AppData\Roaming\Orvex\PatcherLogs')"
state >"$DEMO/before.txt"
echo "Before (files with their MD5, then the registry):"
sed 's/^/  /' "$DEMO/before.txt"
"$DEMO/LumenTX4_903_Update" -SILENT >/dev/null
printf 'Process return code: %d\n' "$?"
echo "What the log says about it:"
iconv -f UTF-16LE -t UTF-8 "$logs2"/*.log | tr -d '\r' | grep -E 'ERROR|Rolling back|Overwriting|Adding|Creating dir' | sed 's/^/  /'
state >"$DEMO/after.txt"
echo "Differences between the machine before and after the refused run (none expected):"
if diff "$DEMO/before.txt" "$DEMO/after.txt" >/dev/null; then echo "  (none)"; else diff "$DEMO/before.txt" "$DEMO/after.txt" | sed 's/^/  /'; fi

step "A patcher killed in the middle of its run, and the next start that rolls it back"
# The kill is injected (MENDWELL_FAULT, for tests only): SIGKILL once the third entry has changed a file.
"$BIN/machine" reg deny 'HKLM\SOFTWARE\Orvex\Lumen\9.0' --off >/dev/null
denied=0
state >"$DEMO/before.txt"
MENDWELL_FAULT=killafter:3 "$DEMO/LumenTX4_903_Update" -SILENT >/dev/null 2>&1
printf 'Killed run: process return code %d; journal left behind:\n' "$?"
find "$("$BIN/machine" path 'C:\Users\User\AppData\Local\Temp\Patcher')" -name '*.journal' | sed 's/^/  /'
echo "Changed by the killed run:"
state >"$DEMO/killed.txt"
diff "$DEMO/before.txt" "$DEMO/killed.txt" | sed 's/^/  /'
"$DEMO/LumenTX4_903_Update" -SILENT -CHECK >/dev/null
printf 'Next start (-SILENT -CHECK: it recovers, then only reports its plan): return code %d\n' "$?"
iconv -f UTF-16LE -t UTF-8 "$logs2"/*.log | tr -d '\r' | grep -E 'did not finish|Rolling back|is rolled back' | sed 's/^/  /'
state >"$DEMO/after.txt"
echo "Differences between the machine before the killed run and after the recovery (none expected):"
if diff "$DEMO/before.txt" "$DEMO/after.txt" >/dev/null; then echo "  (none)"; else diff "$DEMO/before.txt" "$DEMO/after.txt" | sed 's/^/  /'; fi
export MENDWELL_MACHINE="$DEMO/machine"
product="$("$BIN/machine" path "$INSTALL_DIR")"

if [ -x "$BIN/lumen" ]; then
  step "The authoring tool and its publishing extension (Vireo): publish and test a movie"
  "$BIN/lumen" install "$INSTALL_DIR" | sed 's/^/  /'
  lumen="$("$BIN/machine" path "$INSTALL_DIR\\Lumen.exe")"
  mkdir -p "$("$BIN/machine" path 'C:\Users\User\Documents')"
  movie='C:\Users\User\Documents\My Movie.lud'
  "$lumen" "$movie" new --kite && "$lumen" "$movie" publish --verbose | sed 's/^/  /'
  echo "The application descriptor beside the movie:"
  sed 's/^\xEF\xBB\xBF//' "$("$BIN/machine" path 'C:\Users\User\Documents\My Movie-app.xml')" | sed 's/></>\n</g' |
    sed 's/^/  /'
  echo
  "$lumen" "$movie" test && sleep 1
  echo "The debug launcher's report:"
  sed 's/^/  /' "$("$BIN/machine" path "$INSTALL_DIR\\KIK\\bin\\kdl.log")"
fi

if [ -n "${MENDWELL_DEMO_KEEP:-}" ]; then
  step "Kept for inspection: $DEMO"
fi
echo
case "$rc" in
  0) echo "The patch was applied." ;;
  9) echo "The patch was not applied (return code 9): see the ERROR lines of the log above." ;;
  *) echo "The patcher ended with return code $rc." ;;
esac
exit 0
