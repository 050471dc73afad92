#!/usr/bin/env bash
# Set-up, build and checks of the QAL3 libraries and the qal3 tool.
#
#   ./build.sh demo   install what is missing, build, run qal3 on the examples
#   ./build.sh test   install what is missing, build, run the whole test suite
#   ./build.sh asan   build and test under AddressSanitizer + UBSan (leaks fail)
#   ./build.sh bench  build the benchmarks (Release) into build-bench/
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake make g++ pkg-config libxerces-c-dev libgtest-dev libbenchmark-dev)
JOBS=$(nproc 2>/dev/null || echo 2)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y "${missing[@]}" >/dev/null 2>&1 || { apt-get update >/dev/null && apt-get install -y "${missing[@]}" >/dev/null; }
  else
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

demo() {
  local q=build/tools/qal3
  echo "== qal3 evlist examples/evlist_basic.xml"
  "$q" evlist examples/evlist_basic.xml
  for step in demo_chan demo_trigger demo_envdict demo_gige; do "$step"; done
}

demo_chan() {
  [ -f examples/chan_descriptions.xml ] || return 0
  echo "== qal3 chan convert --to daqvars examples/chan_descriptions.xml"
  build/tools/qal3 chan convert --to daqvars examples/chan_descriptions.xml
}

demo_trigger() {
  [ -f examples/triggers.xml ] && [ -f examples/spectrum.txt ] || return 0
  echo "== qal3 trigger test examples/triggers.xml --spectrum examples/spectrum.txt"
  build/tools/qal3 trigger test examples/triggers.xml --spectrum examples/spectrum.txt
}

demo_envdict() {
  [ -f examples/envdict.xml ] || return 0
  echo "== qal3 envdict examples/envdict.xml"
  build/tools/qal3 envdict examples/envdict.xml
}

demo_gige() {
  [ -f examples/gige_camera.xml ] || return 0
  echo "== qal3 gige examples/gige_camera.xml"
  build/tools/qal3 gige examples/gige_camera.xml
}

case "${1:-}" in
  demo)
    ensure_packages
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    demo
    ;;
  test)
    ensure_packages
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build --output-on-failure -j"$JOBS"
    ;;
  asan)
    ensure_packages
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DQAL3_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-asan --output-on-failure -j"$JOBS"
    ;;
  bench)
    ensure_packages
    build build-bench -DCMAKE_BUILD_TYPE=Release -DQAL3_BUILD_BENCH=ON -DQAL3_BUILD_TESTS=OFF
    ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
