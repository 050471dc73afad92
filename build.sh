#!/usr/bin/env bash
# Set-up, build and checks of the QAL3 libraries and the qal3 tool.
#
#   ./build.sh demo   install what is missing, build the tool, run it on the examples
#   ./build.sh test   install what is missing, build, run the whole test suite
#   ./build.sh abi    build the libraries as test does and compare their ABI
#                     with the baselines in tests/api (tests/api/check-abi.sh;
#                     tests/api/update-abi.sh regenerates them)
#   ./build.sh asan   build and test under AddressSanitizer + UBSan (leaks fail)
#   ./build.sh tsan   build and test under ThreadSanitizer (any report fails;
#                     known harmless races inside Xerces: tests/tsan.supp)
#   ./build.sh docs   build the reference manual (Doxygen; any warning fails)
#                     into build/docs/reference/html/
#   ./build.sh bench  build the benchmarks (Release) into build-bench/
#   ./build.sh format check that every C++ source is in the style of
#                     .clang-format (clang-format -i puts one back in it)
#   ./build.sh fuzz   where clang is present: build the fuzz targets and fuzz
#                     each for FUZZ_SECONDS (20) over its committed corpus;
#                     any finding fails (its input is kept in build-fuzz/findings/)
#   ./build.sh deb    build the Debian packages of this machine (amd64) into
#                     build-deb/packages/
#                     (cpack -G DEB; tests/package/check-debs.sh checks them)
#   ./build.sh armhf  cross-build everything for 32-bit ARM into build-armhf/
#                     (cmake/toolchain-armhf.cmake, Debian multiarch), run
#                     the whole test suite under qemu-user, and build the
#                     armhf Debian packages into build-armhf-deb/packages/
#
# Missing Debian packages are installed when run as root; otherwise the
# script names them and stops.
set -euo pipefail
cd "$(dirname "$0")"

# abigail-tools (abidw, abidiff) serves the ABI check. libhdf5-dev and
# libzip-dev let the qal3 tool read HDF5 and .npz recordings (a build
# without them reads neither). The last five are optional for the qal3
# Python module (chunked and cluster replays, tables as DataFrames and
# xarray Datasets, HDF5 recordings); its tests use them.
PACKAGES=(cmake make g++ pkg-config libxerces-c-dev libgtest-dev libbenchmark-dev locales
  libacl1-dev libattr1-dev acl nlohmann-json3-dev libxml2-utils librsvg2-bin abigail-tools
  libhdf5-dev libzip-dev
  pybind11-dev python3-dev python3-numpy python3-pytest
  python3-dask python3-distributed python3-pandas python3-h5py python3-xarray)
# Making the Debian packages: dpkg-shlibdeps, the file utility CPack uses,
# lintian to check them.
DEB_PACKAGES=(dpkg-dev file lintian)
# The reference manual (./build.sh docs, and its Debian package).
DOC_PACKAGES=(doxygen)
# The 32-bit ARM cross build: compiler, emulator, armhf libraries (multiarch).
# Without HDF5 and libzip: libhdf5-dev is not multiarch (its armhf package
# does not install beside the amd64 one), so that tool reads .npy only.
ARMHF_PACKAGES=(g++-arm-linux-gnueabihf qemu-user libxerces-c-dev:armhf libgtest-dev:armhf
  libacl1-dev:armhf libattr1-dev:armhf)
JOBS=$(nproc 2>/dev/null || echo 2)

APT_LOG=$(mktemp)
trap 'rm -f "$APT_LOG"' EXIT

# apt-get update, tried three times with a pause between (a mirror may be
# mid-sync for a while). Its messages go to $APT_LOG. Returns its status.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update >"$APT_LOG" 2>&1 && return 0
    [ "$try" -lt 3 ] && sleep $((try * 15))
  done
  return 1
}

# The packages of "$@" not installed here.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# Installs "$@" (as root); without them from the current indexes, updates
# the indexes (retried) and tries again, also when an index failed to
# update: the ones that did may be enough. Returns apt-get's status; its
# messages are in $APT_LOG.
install_packages() {
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y "$@" >"$APT_LOG" 2>&1 && return 0
  apt_update || true
  apt-get install -y "$@" >>"$APT_LOG" 2>&1
}

ensure_packages() {  # ensure_packages [package...] (default: PACKAGES)
  local missing wanted=("$@")
  [ $# -eq 0 ] && wanted=("${PACKAGES[@]}")
  mapfile -t missing < <(missing_packages "${wanted[@]}")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    install_packages "${missing[@]}" || { tail -n 20 "$APT_LOG" >&2; exit 1; }
  else
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

# Debian multiarch for armhf: the foreign architecture is added (as root)
# before its packages can be installed. When they cannot be installed
# because an index is missing or out of step with the amd64 packages
# installed, says so in one line and ends the step (status 0); any other
# failure to install them fails it.
ensure_armhf() {
  ensure_packages
  if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "The armhf architecture is not enabled; as root run: dpkg --add-architecture armhf && apt-get update" >&2
      exit 1
    fi
    dpkg --add-architecture armhf
    apt_update || true
  fi
  local missing
  mapfile -t missing < <(missing_packages "${ARMHF_PACKAGES[@]}")
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    ensure_packages "${missing[@]}"
  fi
  echo "Installing: ${missing[*]}"
  install_packages "${missing[@]}" && return 0
  if grep -qE "unmet dependencies|Unable to locate package|has no installation candidate|Failed to fetch|Mirror sync in progress|Hash Sum mismatch|unexpected size" "$APT_LOG"; then
    local why
    why=$(grep -m1 -oE "Mirror sync in progress|Hash Sum mismatch|File has unexpected size|Failed to fetch [^ ]*|Unable to locate package [^ ]*|has no installation candidate|unmet dependencies" "$APT_LOG" | head -n1)
    echo "armhf: SKIPPED: the armhf packages cannot be installed from Debian's indexes today ($why)"
    exit 0
  fi
  tail -n 20 "$APT_LOG" >&2
  exit 1
}

build() {  # build <dir> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  # shellcheck disable=SC2086  # TARGET holds one target or several
  cmake --build "$dir" -j"$JOBS" ${TARGET:+--target $TARGET}
}

# The Debian packages of one architecture: a build for /usr with Debian's
# build flags for that architecture (hardening), without the tests, then
# cpack. deb_packages <dir> <debian arch> [cmake options...]
deb_packages() {
  local dir=$1 arch=$2; shift 2
  local flags multiarch
  flags=$(DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)
  eval "$flags"
  # The multiarch library folder (GNUInstallDirs leaves it out of cross builds).
  multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DQAL3_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" \
    -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" "$@"
  rm -rf "$dir/packages"
  (cd "$dir" && cpack -G DEB >/dev/null)
  ls "$dir"/packages/*.deb
}

QAL3=build/tools/qal3

# Runs one qal3 command on the examples, showing it first.
show() {
  echo "== qal3 $*"
  "$QAL3" "$@"
}

demo() {
  show evlist examples/evlist_basic.xml
  show chan convert --to daqvars examples/chan_descriptions.xml
  show trigger test examples/triggers.xml --spectrum examples/spectrum.txt
  show envdict examples/envdict.xml
  show gige examples/gige_camera.xml
  show check examples/triggers.xml
}

# The suite under ThreadSanitizer. Reports go to files (tests capture
# standard error), and any report fails the run, also one from a process
# whose exit status a test does not look at.
tsan_test() {
  local reports=$PWD/build-tsan/tsan-report status=0
  rm -f "$reports".*
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp log_path=$reports" \
    ctest --test-dir build-tsan --output-on-failure -j"$JOBS" || status=$?
  if compgen -G "$reports.*" >/dev/null; then
    cat "$reports".*
    echo "ThreadSanitizer reports: $(ls "$reports".* | wc -l) (above)" >&2
    return 1
  fi
  return $status
}

# True when clang can build a libFuzzer target here.
have_libfuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir=$(mktemp -d)
  printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local rc=$?
  rm -rf "$dir"
  return $rc
}

# Limits of every input: what a reader does in time and memory linear in
# its input stays far below them (64 KB read in milliseconds, with a few MB
# more), while a quadratic walk or an expansion bounded only in count
# breaks them. The RSS limit leaves room for the instrumented build's own
# heap (ASan's quarantine is cut to 64 MB). One dictionary serves every
# target: they all read the same XML families, and it holds the names of
# all of them with the DOCTYPE, ENTITY and ATTLIST tokens.
FUZZ_TIMEOUT=2   # seconds per input
FUZZ_RSS_MB=512

# Fuzzes every target for $1 seconds over its committed corpus. New inputs
# go to a scratch corpus, so the committed one stays as it is.
fuzz_all() {
  local seconds=$1 failed=() src t work
  local findings=build-fuzz/findings
  rm -rf "$findings" && mkdir -p "$findings"
  for src in fuzz/fuzz_*.cpp; do
    t=$(basename "$src" .cpp)
    t=${t#fuzz_}
    work=$(mktemp -d)
    mkdir -p "$findings/$t"
    echo "== fuzz_$t: ${seconds}s"
    if ! ASAN_OPTIONS=quarantine_size_mb=64 build-fuzz/fuzz/fuzz_"$t" -close_fd_mask=3 -max_total_time="$seconds" \
        -max_len=65536 -timeout=$FUZZ_TIMEOUT -rss_limit_mb=$FUZZ_RSS_MB -dict=fuzz/qal3.dict \
        -artifact_prefix="$findings/$t/" "$work" fuzz/corpus/"$t" >"$findings/$t.log" 2>&1; then
      failed+=("$t")
      tail -n 20 "$findings/$t.log"
    else
      grep -E '^#[0-9]+[[:space:]]+DONE' "$findings/$t.log" || true
    fi
    rm -rf "$work"
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]} (inputs in $findings/)" >&2
    return 1
  fi
}

case "${1:-}" in
  demo)
    ensure_packages
    TARGET=qal3 build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    demo
    ;;
  test)
    ensure_packages
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    ctest --test-dir build --output-on-failure -j"$JOBS"
    ;;
  abi)
    ensure_packages
    TARGET="QAL3evutl QAL3XML QAL3USERTRIG QAL3CHECK" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    tests/api/check-abi.sh build
    ;;
  asan)
    ensure_packages
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DQAL3_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-asan --output-on-failure -j"$JOBS"
    ;;
  tsan)
    ensure_packages
    build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAL3_SANITIZE_THREAD=ON
    tsan_test
    ;;
  docs)
    ensure_packages
    ensure_packages "${DOC_PACKAGES[@]}"
    TARGET=docs build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAL3_BUILD_DOCS=ON
    echo "Reference manual: build/docs/reference/html/index.html"
    ;;
  bench)
    ensure_packages
    build build-bench -DCMAKE_BUILD_TYPE=Release -DQAL3_BUILD_BENCH=ON -DQAL3_BUILD_TESTS=OFF
    ;;
  format)
    ensure_packages clang-format
    git ls-files -z -- '*.cpp' '*.h' '*.hpp' | xargs -0 clang-format --dry-run -Werror
    echo "Every C++ source is formatted."
    ;;
  fuzz)
    have_libfuzzer || exit 0  # no clang with libFuzzer here: nothing to do
    ensure_packages
    CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAL3_BUILD_FUZZ=ON -DQAL3_BUILD_TESTS=OFF
    fuzz_all "${FUZZ_SECONDS:-20}"
    ;;
  armhf)
    ensure_armhf
    build build-armhf -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake"
    ctest --test-dir build-armhf --output-on-failure -j"$JOBS"
    ensure_packages "${DEB_PACKAGES[@]}"
    deb_packages build-armhf-deb armhf -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake"
    ;;
  deb)
    ensure_packages
    ensure_packages "${DEB_PACKAGES[@]}" "${DOC_PACKAGES[@]}"
    deb_packages build-deb "$(dpkg --print-architecture)" -DQAL3_BUILD_DOCS=ON \
      -DCMAKE_INSTALL_DOCDIR=share/doc/libqal3-doc
    ;;
  *)
    awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0" >&2
    exit 2
    ;;
esac
