#!/usr/bin/env bash
# Mendwell build driver. Verbs:
#   demo   install what is missing, build (release) and run the patch on a fresh emulated machine
#          (demo --wizard: through the wizard; without a display, scripted with screenshots)
#   test   install what is missing, build with AddressSanitizer + UBSan and run every test, then build
#          the fuzz targets (clang, build/fuzz) and run each over its corpus plus a few seconds
#   build  install what is missing and build the test preset only
#   fuzz [TARGET] [SECONDS]  build the fuzz targets and run one (or each) for SECONDS (default 600)
#   chaos [SECONDS]  build the test preset's scenarios and run the rollback checker on new seeds for
#          SECONDS (default 600) after its open findings and more seeds; chaos --seed N[,M...] runs those
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libexpat1-dev zlib1g-dev libminizip-dev
  libboost-regex-dev libxerces-c-dev libsqlite3-dev libzstd-dev libdivsufsort-dev libssl-dev qt6-base-dev
  duktape-dev binutils-mingw-w64-i686 zip unzip clang libclang-rt-14-dev
  poppler-data icc-profiles-free t1-cyrillic xfonts-scalable fonts-wqy-microhei libz-mingw-w64
  bsdiff xdelta3 zstd time bc g++-mingw-w64-i686 g++-mingw-w64-x86-64)

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
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
}

# The fuzz targets have a build tree of their own, made with clang and libFuzzer.
build_fuzz() {
  CC=clang CXX=clang++ cmake -S tests/fuzz -B build/fuzz -G Ninja >/dev/null
  cmake --build build/fuzz -j 2
}

# Runs each target (or the one named) for $2 seconds on its scratch corpus and its seeds; new inputs
# stay in build/fuzz/corpus/<target>, crashes in build/fuzz/crashes/.
run_fuzz() {
  local only="${1:-}" seconds="${2:-600}" found=0
  mkdir -p build/fuzz/crashes
  for program in build/fuzz/bin/fuzz_*; do
    local name="${program##*/fuzz_}"
    [ -n "$only" ] && [ "$only" != "$name" ] && continue
    found=1
    mkdir -p "build/fuzz/corpus/$name"
    echo "== $name: ${seconds}s"
    local log="build/fuzz/$name.log"
    if ! "$program" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/crashes/$name-" "build/fuzz/corpus/$name" "tests/fuzz/corpus/$name" \
      >"$log" 2>&1; then
      tail -n 40 "$log"
      echo "$name: failed (input in build/fuzz/crashes, log in $log)"
      return 1
    fi
    grep -E '^#[0-9]+ +DONE|^stat::number_of_executed_units' "$log" || true
  done
  [ "$found" -eq 1 ] || { echo "no fuzz target named $only"; return 2; }
}

case "${1:-}" in
  test)
    install_missing
    build test
    ctest --preset test
    build_fuzz
    ctest --test-dir build/fuzz -j 2 --output-on-failure
    ;;
  fuzz)
    install_missing
    build_fuzz
    run_fuzz "${2:-}" "${3:-600}"
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
  chaos)
    install_missing
    cmake --preset test >/dev/null
    cmake --build --preset test --target scenarios_tests
    # The test preset's environment, as ctest would set it.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      QT_QPA_PLATFORM=offscreen LSAN_OPTIONS="suppressions=$PWD/tests/lsan_qt.supp"
    checker=(nice build/test/bin/scenarios_tests --gtest_also_run_disabled_tests)
    if [ "${2:-}" = "--seed" ]; then
      MENDWELL_CHAOS_SEEDS="${3:?chaos --seed needs a seed}" "${checker[@]}" \
        --gtest_filter=RollbackChecker.DISABLED_Chaos
    else
      MENDWELL_CHAOS_SECONDS="${2:-600}" "${checker[@]}" \
        --gtest_filter='RollbackChecker.DISABLED_OpenFindings:RollbackChecker.DISABLED_MoreSeeds:RollbackChecker.DISABLED_Chaos'
    fi
    ;;
  -h|--help|help) usage ;;
  *) usage; exit 2 ;;
esac
