#!/usr/bin/env bash
# Screenshots of the publishing extension's dialogs for docs/vireo: the authoring tool stand-in is
# installed on a scratch machine, a movie published, and every dialog opened by a dialog script whose
# "shot" steps Qt draws offscreen.
#   tools/vireo-screenshots.sh [BIN_DIR] [OUT_DIR]     (defaults: build/test/bin, docs/vireo)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$here/build/test/bin}" && pwd)
out=$(mkdir -p "${2:-$here/docs/vireo}" && cd "${2:-$here/docs/vireo}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export MENDWELL_MACHINE="$work/machine"
export QT_QPA_PLATFORM=offscreen
# Qt's offscreen platform and the leak checker of a sanitizer build do not get on in a loaded extension.
export ASAN_OPTIONS=detect_leaks=0
export MENDWELL_UI_SCRIPT="$work/boxes"
"$bin/machine" create "$MENDWELL_MACHINE" >/dev/null
"$bin/lumen" install 'C:\Orvex\Lumen' --bin "$bin" >/dev/null
mkdir -p "$MENDWELL_MACHINE/drive_c/Movies" "$MENDWELL_MACHINE/drive_c/certs"
lumen="$MENDWELL_MACHINE/drive_c/Orvex/Lumen/Lumen.exe"
doc='C:\Movies\Demo.lud'
"$lumen" "$doc" new --kite
"$lumen" "$doc" publish

play() {  # COMMAND SCRIPT
  printf '%s\n' "$2" >"$work/script"
  MENDWELL_DIALOG_SCRIPT="$work/script" "$lumen" "$doc" "$1" >/dev/null 2>&1 || true
}

play settings "shot $out/app-settings.png
click 5113
click 5117
type 5155 Demo.Document
type 5156 demo
type 5157 A demo document
type 5158 application/x-demo
shot $out/file-type.png
click 1
shot $out/advanced-settings.png
click 1
click 4012
shot $out/icon-preview.png
close
click 5078
click 5083
type 5092 Orvex Demo
type 5094 Publishing
type 5093 Orvex
shot $out/self-signed-certificate.png
close
shot $out/digital-signature.png
close
click 1"
# Packaging with timestamps when the timestamp server cannot be reached.
play package "type 5110 C:\\certs\\none.p12
click 5083
type 5092 Orvex Demo
type 5094 Publishing
type 5093 Orvex
type 5096 secret
type 5097 secret
type 5099 C:\\certs\\demo.p12
click 1
await text 5110 demo.p12
type 5084 secret
click 1
shot $out/timestamp-retry.png
close"
play info "shot $out/introduction.png
click 1"
ls "$out"
