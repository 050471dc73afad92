#!/usr/bin/env bash
# Checks the Debian packages as Debian checks packages, on this machine, as
# root (CI runs it after ./build.sh armhf and ./build.sh deb):
#
#   1. lintian: no error and no warning on any package (amd64 and armhf);
#   2. the amd64 packages installed with apt-get, then, from the installed
#      files alone: the tool runs and finds its schemas, its manual page and
#      completion are in place, the reference manual is installed, each
#      library is installed without a run path (the tool and the Python
#      module have none either), Debian's python3 imports qal3, and
#      the C++ example (examples/cpp) builds through
#      find_package(QAL3) and through pkg-config and runs;
#   3. the armhf library and -dev packages installed beside them (multiarch),
#      each library there without a run path, the example cross-built
#      against them and run under qemu;
#   4. everything purged, and nothing of the packages left.
#
# The packages are removed again however the checks end, so that no later
# build picks up installed headers or libraries.
set -euo pipefail
cd "$(dirname "$0")/../.."
SRC=$PWD
AMD64=(build-deb/packages/*.deb)
ARMHF_ALL=() ARMHF=()  # every armhf package; the library and -dev ones
if compgen -G "build-armhf-deb/packages/*.deb" >/dev/null; then
  ARMHF_ALL=(build-armhf-deb/packages/*.deb)
  ARMHF=(build-armhf-deb/packages/libqal3*.deb)
fi
[ -e "${AMD64[0]}" ] || { echo "no packages in build-deb/packages: run ./build.sh deb first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "$0: run as root (it installs and removes the packages)" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
WORK=$(mktemp -d)
# The shared libraries the library packages install: .so.N of the project's
# major version.
MAJOR=$(sed -n 's/^project(QAL3 VERSION \([0-9]*\)\..*/\1/p' CMakeLists.txt)
LIBRARIES=(libQAL3evutl.so.$MAJOR libQAL3XML.so.$MAJOR libQAL3USERTRIG.so.$MAJOR libQAL3CHECK.so.$MAJOR)

step() {  # step NAME COMMAND...: runs it (stopping at its first failure), then reports how long it took
  local name=$1 start=$SECONDS status
  shift
  echo "== $name"
  set +e
  (set -e; "$@")
  status=$?
  set -e
  echo "== $name: $((SECONDS - start)) s"
  return $status
}

names() {  # the package names (name:arch) of the given .deb files
  local deb
  for deb in "$@"; do echo "$(dpkg-deb -f "$deb" Package):$(dpkg-deb -f "$deb" Architecture)"; done
}

purge() {
  local installed=()
  mapfile -t installed < <(dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' 2>/dev/null |
    awk '$1 != "un" && $2 ~ /^(libqal3|qal3|python3-qal3)/ { print $2 }')
  [ ${#installed[@]} -eq 0 ] || apt-get purge -y "${installed[@]}" >/dev/null
}
trap 'purge; rm -rf "$WORK"' EXIT

no_run_path() {  # no_run_path FILE...: each file is installed and has no run path
  local f
  for f in "$@"; do
    [ -e "$f" ] || { echo "$f is not installed"; return 1; }
    if readelf -d "$f" | grep -E 'RPATH|RUNPATH'; then echo "$f has a run path"; return 1; fi
  done
}

lint() {
  lintian --fail-on error,warning "${AMD64[@]}" "${ARMHF_ALL[@]}" 2>&1 | { grep -v 'running with root privileges' || true; }
}

install_amd64() {
  purge
  apt-get install -y --no-install-recommends man-db "${AMD64[@]/#/./}" >/dev/null
}

check_installed() (
  cd "$WORK"  # nothing of the source or build tree on any path
  set -x
  command -v qal3 | grep -qx /usr/bin/qal3
  qal3 --version
  qal3 evlist "$SRC/examples/evlist_basic.xml" >/dev/null
  qal3 check "$SRC/examples/triggers.xml"  # reads the installed schemas
  test -f /usr/share/qal3/schema/triggers.xsd
  test "$(man -w qal3)" = /usr/share/man/man1/qal3.1.gz
  man -P cat qal3 | grep evlist >/dev/null
  bash -c 'source /usr/share/bash-completion/completions/qal3 && complete -p qal3'
  test -f /usr/share/doc/libqal3-doc/html/index.html
  test -f /usr/share/doc/libqal3-doc/html/python/qal3.html
  local multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  no_run_path /usr/bin/qal3 "${LIBRARIES[@]/#//usr/lib/$multiarch/}" /usr/lib/python3/dist-packages/qal3/_core*.so
  env -u PYTHONPATH /usr/bin/python3 -c \
    "import qal3, sys; e = qal3.read_evlist(sys.argv[1]); print(qal3.__file__, len(e), 'entries')" \
    "$SRC/examples/evlist_basic.xml" | grep '^/usr/lib/python3/dist-packages/qal3/'
  cmake -S "$SRC/examples/cpp" -B find-package >/dev/null
  cmake --build find-package >/dev/null
  find-package/daq_consumer "$SRC/examples/chan_descriptions.xml" "$SRC/examples/triggers.xml"
  cmake -S "$SRC/examples/cpp" -B pkg-config -DUSE_PKG_CONFIG=ON >/dev/null
  cmake --build pkg-config >/dev/null
  pkg-config/daq_consumer "$SRC/examples/chan_descriptions.xml" "$SRC/examples/triggers.xml" 5 >/dev/null
)

check_armhf() (
  apt-get install -y "${ARMHF[@]/#/./}" >/dev/null
  cd "$WORK"
  set -x
  no_run_path "${LIBRARIES[@]/#//usr/lib/arm-linux-gnueabihf/}"
  cmake -S "$SRC/examples/cpp" -B armhf -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchain-armhf.cmake" >/dev/null
  cmake --build armhf >/dev/null
  file armhf/daq_consumer | grep 'ARM, EABI5' >/dev/null
  qemu-arm -L / armhf/daq_consumer "$SRC/examples/chan_descriptions.xml" "$SRC/examples/triggers.xml"
)

remove_all() {
  local packages
  mapfile -t packages < <(names "${AMD64[@]}" "${ARMHF[@]}")
  purge
  local left=0 p
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${db:Status-Abbrev}\n' "$p" 2>/dev/null | grep -qv '^un'; then
      echo "still known to dpkg: $p"; left=1
    fi
  done
  for p in /usr/bin/qal3 /usr/include/qal3 /usr/lib/*/libQAL3* /usr/lib/*/cmake/QAL3 \
      /usr/lib/*/pkgconfig/QAL3* /usr/lib/python3/dist-packages/qal3 /usr/share/qal3 \
      /usr/share/man/man1/qal3.1.gz /usr/share/bash-completion/completions/qal3 \
      /usr/share/doc/libqal3* /usr/share/doc/qal3 /usr/share/doc/python3-qal3 /usr/share/doc-base/libqal3-doc \
      /usr/share/lintian/overrides/libqal3* /usr/share/lintian/overrides/qal3 \
      /usr/share/lintian/overrides/python3-qal3; do
    if [ -e "$p" ] || [ -L "$p" ]; then echo "left behind: $p"; left=1; fi
  done
  [ $left -eq 0 ] && echo "nothing of ${#packages[@]} packages left"
  return $left
}

step "lintian" lint
step "install the amd64 packages" install_amd64
step "use the installed files" check_installed
if [ ${#ARMHF[@]} -gt 0 ]; then
  step "armhf: install beside, cross-build the example, run under qemu" check_armhf
else
  echo "== no armhf packages (./build.sh armhf makes them): armhf check skipped"
fi
step "purge, nothing left" remove_all
