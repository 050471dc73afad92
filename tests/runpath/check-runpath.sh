#!/bin/sh
# check-runpath.sh READELF FILE...: fails when a file's RPATH or RUNPATH has
# an empty entry or one that is neither absolute nor $ORIGIN-based: the
# loader reads such entries relative to the current folder, so a program
# would load libraries from wherever it is started.
readelf=$1
shift
status=0
for file in "$@"; do
  paths=$("$readelf" -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*: \[\(.*\)\]$/\2/p') || exit 1
  bad=
  for path in $paths; do
    rest=$path:
    while [ -n "$rest" ]; do
      entry=${rest%%:*}
      rest=${rest#*:}
      case $entry in
        /* | '$ORIGIN' | '$ORIGIN/'*) ;;
        *) bad=1 ;;
      esac
    done
  done
  if [ -n "$bad" ]; then
    echo "$file: run path [$paths] has an empty or relative entry"
    status=1
  else
    echo "$file: run path [$paths]"
  fi
done
exit $status
