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
# The lists are those of an x86-64 Linux build (type names such as size_t
# differ elsewhere); on other machines the test is skipped (exit 77).
#
# Usage: check-symbols.sh LIBRARY LIST [NM [CXXFILT]]
set -euo pipefail

lib=${1:?usage: check-symbols.sh LIBRARY LIST [NM [CXXFILT]]}
list=${2:?usage: check-symbols.sh LIBRARY LIST [NM [CXXFILT]]}
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(uname -m)" != x86_64 ]; then
  echo "symbol lists are kept for x86-64 only; skipped"
  exit 77
fi

built=$(mktemp)
trap 'rm -f "$built"' EXIT
"$here/list-symbols.sh" "$lib" "${3:-nm}" "${4:-c++filt}" >"$built"

status=0
if grep -E '(^|[^A-Za-z0-9_])qal3::|\(anonymous namespace\)' "$built" >/dev/null; then
  echo "$(basename "$lib") exports internal names (give them hidden visibility):"
  grep -E '(^|[^A-Za-z0-9_])qal3::|\(anonymous namespace\)' "$built" | sed 's/^/  /'
  status=1
fi

if ! diff -u --label "committed $(basename "$list")" --label "built $(basename "$lib")" "$list" "$built"; then
  echo
  echo "The symbols exported by $(basename "$lib") differ from the committed list (- committed, + built)."
  echo "If the change of the API is intended, update the lists and commit them:"
  echo "  tests/api/update-symbols.sh <build directory>"
  status=1
fi
exit $status
