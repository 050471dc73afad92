#!/bin/bash
# Compares the binary interface of each shared library of a build with its
# committed baseline tests/api/<library>.abi (abidiff of libabigail), so
# that the interface of a .so.1 does not change by accident:
#
#   - a removed function or variable, a changed parameter or return type, a
#     changed record layout (also of a record reached through a pointer or
#     a container) fails;
#   - added functions and variables, with the records only they use, and
#     enumerators added at the end of an enumeration pass;
#   - a library whose SONAME differs from its baseline's starts a new major
#     version: that is reported and passes, and its baseline is to be
#     regenerated (update-abi.sh).
#
# abidiff's exit status is a set of bits: 1 error, 2 usage error, 4 ABI
# change, 8 incompatible ABI change. With --no-added-syms an addition sets
# none of them, and an added enumerator is a harmless change, which sets
# none either; any other change sets 4 or 8.
#
# Usage: tests/api/check-abi.sh BUILD_DIRECTORY
set -euo pipefail

build=${1:?usage: check-abi.sh BUILD_DIRECTORY}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/api/abi-settings.sh
. "$here/abi-settings.sh"
abi_check_build "$build"

report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
for name in "${ABI_LIBRARIES[@]}"; do
  lib=$build/$name.so
  baseline=$here/$name.abi
  old=$(sed -n "1s/.* soname='\([^']*\)'.*/\1/p" "$baseline")
  new=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  if [ "$old" != "$new" ]; then
    echo "$name: SONAME $new (baseline: $old): a new major version starts; regenerate the baseline:"
    echo "  tests/api/update-abi.sh $build"
    continue
  fi
  rc=0
  abidiff --no-added-syms --headers-dir2 "$build/include/qal3" "${ABI_READ_OPTIONS[@]}" \
    "$baseline" "$lib" >"$report" 2>&1 || rc=$?
  if (( rc & 3 )); then
    cat "$report"
    echo "$name: abidiff failed (status $rc)"
    status=1
  elif (( rc & 12 )); then
    cat "$report"
    echo "$name: the ABI of $old changed (above, $( ((rc & 8)) && echo incompatible || echo changed types))."
    echo "  Within $old only additions are allowed; any other change needs a new major version:"
    echo "  follow \"A new major version\" in docs/ARCHITECTURE.md (project version, changelog,"
    echo "  README, then the baselines with update-abi.sh and update-symbols.sh)."
    status=1
  else
    echo "$name: the ABI of $old is kept"
  fi
done
exit $status
