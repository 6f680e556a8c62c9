#!/usr/bin/env bash
# Mendwell build driver. Verbs:
#   demo   install what is missing, build (release) and run the patch on a fresh emulated machine
#          (demo --wizard: through the wizard; without a display, scripted with screenshots)
#   test   install what is missing, build with AddressSanitizer + UBSan and run every test
#   build  install what is missing and build the test preset only
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libexpat1-dev zlib1g-dev libminizip-dev
  libboost-regex-dev libxerces-c-dev libsqlite3-dev libzstd-dev libssl-dev qt6-base-dev duktape-dev
  binutils-mingw-w64-i686 zip unzip
  poppler-data icc-profiles-free t1-cyrillic xfonts-scalable libz-mingw-w64)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

usage() {
  sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
}

case "${1:-}" in
  test)
    install_missing
    build test
    ctest --preset test
    ;;
  demo)
    install_missing
    build release
    exec tools/demo.sh build/release/bin "${@:2}"
    ;;
  build)
    install_missing
    build test
    ;;
  -h|--help|help) usage ;;
  *) usage; exit 2 ;;
esac
