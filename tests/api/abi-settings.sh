# shellcheck shell=bash
# What check-abi.sh and update-abi.sh share (sourced by both): the
# libraries, how libabigail reads them, and the build their baselines are
# made from.

ABI_LIBRARIES=(libQAL3XML libQAL3USERTRIG libQAL3CHECK libQAL3evutl)
# A library is read with its public headers (<build>/include/qal3, given
# with the build): types declared elsewhere that no public declaration
# reaches are left out, and so are the symbols abi.suppr names.
ABI_READ_OPTIONS=(--drop-private-types --suppressions "$(dirname "${BASH_SOURCE[0]}")/abi.suppr")

# The baselines are of the build ./build.sh test and ./build.sh abi make,
# on x86-64 with Debian 12's g++: RelWithDebInfo (-O2 -g), no sanitizers,
# no flags of one's own. Another kind of build describes the same interface
# with other debug information (other inlined copies, other instrumented
# symbols), so it is refused rather than compared.
abi_check_build() {  # abi_check_build BUILD_DIRECTORY
  local cache=$1/CMakeCache.txt entry
  if [ ! -f "$cache" ]; then
    echo "no $cache: configure and build first (./build.sh abi)" >&2
    return 1
  fi
  for entry in CMAKE_BUILD_TYPE:STRING=RelWithDebInfo CMAKE_CXX_FLAGS:STRING= QAL3_SANITIZE:BOOL=OFF \
      QAL3_SANITIZE_THREAD:BOOL=OFF QAL3_BUILD_FUZZ:BOOL=OFF; do
    if ! grep -qx "$entry" "$cache"; then
      echo "$1 is not the kind of build the ABI baselines are made from: it lacks $entry (./build.sh abi makes one)" >&2
      return 1
    fi
  done
  if [ "$(uname -m)" != x86_64 ] || grep -q '^CMAKE_TOOLCHAIN_FILE:' "$cache"; then
    echo "$1 is not an x86-64 build: the ABI baselines are of x86-64 builds" >&2
    return 1
  fi
}
