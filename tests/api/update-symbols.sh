#!/bin/bash
# Regenerates the committed symbol lists tests/api/<library>.symbols from the
# libraries of a build (an ordinary build, without sanitizers), after an
# intended change of the exported API. Review the diff before committing.
# The lists are written from a 64-bit build (x86-64); check-symbols.sh reads
# them for 32-bit targets too.
#
# Usage: tests/api/update-symbols.sh BUILD_DIRECTORY
set -euo pipefail

build=${1:?usage: update-symbols.sh BUILD_DIRECTORY}
here=$(cd "$(dirname "$0")" && pwd)

for name in libQAL3XML libQAL3USERTRIG libQAL3CHECK libQAL3evutl; do
  lib="$build/$name.so"
  if [ ! -e "$lib" ]; then
    echo "no $lib: build the libraries first" >&2
    exit 1
  fi
  if [ "$(od -An -tu1 -j4 -N1 "$lib" | tr -d ' ')" != 2 ]; then
    echo "$lib is not a 64-bit library: the lists are written from a 64-bit build" >&2
    exit 1
  fi
  "$here/list-symbols.sh" "$lib" >"$here/$name.symbols.new"
  if grep -E '(^|[^A-Za-z0-9_])qal3::|\(anonymous namespace\)' "$here/$name.symbols.new"; then
    echo "$name exports internal names (above); give them hidden visibility first" >&2
    rm -f "$here/$name.symbols.new"
    exit 1
  fi
  mv "$here/$name.symbols.new" "$here/$name.symbols"
  echo "$here/$name.symbols: $(wc -l <"$here/$name.symbols") symbols"
done
