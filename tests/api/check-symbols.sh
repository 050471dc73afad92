#!/bin/bash
# Compares the interface a built shared library exports (list-symbols.sh)
# with the committed list tests/api/<library>.symbols, so that the exported
# API does not change by accident: a symbol that appears or disappears fails
# the test with a diff (- committed, + built).
#
# Internal names never belong to the interface: a symbol in a qal3::
# namespace (qal3::pull, qal3::reader, ...) or in an anonymous namespace
# fails the test whatever the list says.
#
# The lists are written in the names of a 64-bit Linux build, where size_t
# (and Xerces' XMLSize_t) is unsigned long. For a target whose size_t is
# another type, such as unsigned int on 32-bit ARM, give that type with
# --size-t: the list's unsigned long is read as that type before comparing.
# (The interface has no unsigned long of its own; sizes are size_t.)
#
# Usage: check-symbols.sh [--size-t TYPE] LIBRARY LIST [NM [CXXFILT]]
set -euo pipefail

usage="usage: check-symbols.sh [--size-t TYPE] LIBRARY LIST [NM [CXXFILT]]"
size_t="unsigned long"
if [ "${1:-}" = --size-t ]; then
  size_t=${2:?$usage}
  shift 2
fi
lib=${1:?$usage}
list=${2:?$usage}
here=$(cd "$(dirname "$0")" && pwd)

built=$(mktemp)
expected=$(mktemp)
trap 'rm -f "$built" "$expected"' EXIT
"$here/list-symbols.sh" "$lib" "${3:-nm}" "${4:-c++filt}" >"$built"
if [ "$size_t" = "unsigned long" ]; then
  cp "$list" "$expected"
else
  # unsigned long long is a type of its own and stays.
  sed -e 's/unsigned long long/\x01/g' -e "s/unsigned long/$size_t/g" -e 's/\x01/unsigned long long/g' \
    "$list" | LC_ALL=C sort -u >"$expected"
fi

status=0
if grep -E '(^|[^A-Za-z0-9_])qal3::|\(anonymous namespace\)' "$built" >/dev/null; then
  echo "$(basename "$lib") exports internal names (give them hidden visibility):"
  grep -E '(^|[^A-Za-z0-9_])qal3::|\(anonymous namespace\)' "$built" | sed 's/^/  /'
  status=1
fi

if ! diff -u --label "committed $(basename "$list")" --label "built $(basename "$lib")" "$expected" "$built"; then
  echo
  echo "The symbols exported by $(basename "$lib") differ from the committed list (- committed, + built)."
  echo "If the change of the API is intended, update the lists and commit them:"
  echo "  tests/api/update-symbols.sh <build directory>"
  status=1
fi
exit $status
