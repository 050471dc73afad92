#!/bin/bash
# Regenerates the committed ABI baselines tests/api/<library>.abi (abidw of
# libabigail, Debian abigail-tools) from the libraries of a build: after a
# new SONAME, or an intended addition to the interface. Review the diff
# before committing.
#
#   ./build.sh abi                # builds the libraries and compares (build/)
#   tests/api/update-abi.sh build
#
# The baselines hold no paths (neither the library's nor the compilation
# folder, and file names alone as locations), so every checkout of the same
# sources gives the same files; abi-settings.sh names the build they are of.
#
# Usage: tests/api/update-abi.sh BUILD_DIRECTORY
set -euo pipefail

build=${1:?usage: update-abi.sh BUILD_DIRECTORY}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/api/abi-settings.sh
. "$here/abi-settings.sh"
abi_check_build "$build"

for name in "${ABI_LIBRARIES[@]}"; do
  abidw --no-corpus-path --no-comp-dir-path --short-locs --headers-dir "$build/include/qal3" \
    "${ABI_READ_OPTIONS[@]}" --out-file "$here/$name.abi" "$build/$name.so"
  echo "$here/$name.abi: $(grep -c '<elf-symbol ' "$here/$name.abi") symbols"
done
