#!/usr/bin/env bash
# Times an edit of one record of a large channel description file against
# a read of it: `qal3 chan set FILE 1000 units=Pa` and `qal3 chan print
# FILE`, three runs each, wall time and peak memory (max RSS).
set -euo pipefail

usage() {
  cat <<'USAGE'
Usage: bench/edit_figures.sh [--runs N] QAL3 WORKDIR

Uses WORKDIR/inputs/chan_31MB.xml as bench/check_figures.sh makes it (run
that first), less every channel whose property an earlier one already has
(the editor refuses a document whose writer leaves records out), written to
WORKDIR/inputs/chan_31MB_unique.xml. Prints per run the wall seconds and max
RSS in KiB of a read (chan print) and of an edit of record 1000 (chan set),
then checks that the edit changed one line.

  --runs N       runs of each (default 3)
  -h, --help     this text

Needs /usr/bin/time (Debian package time) and python3.
USAGE
}

runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --runs=*) runs="${1#--runs=}"; shift ;;
    -*) echo "edit_figures.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { usage >&2; exit 2; }
qal3=$1
work=$2
big="$work/inputs/chan_31MB.xml"
unique="$work/inputs/chan_31MB_unique.xml"
[ -f "$big" ] || { echo "edit_figures.sh: $big is missing: run bench/check_figures.sh first" >&2; exit 1; }
if [ ! -f "$unique" ]; then
  python3 - "$big" "$unique" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="latin-1").read()
head, rest = text.split("<CHANNEL>", 1)
parts = ("<CHANNEL>" + rest).split("</CHANNEL>\n")
seen, kept = set(), []
for part in parts[:-1]:
    prop = re.search(r"<PROP>(.*?)</PROP>", part)
    key = prop.group(1) if prop else None
    if key in seen:
        continue
    seen.add(key)
    kept.append(part + "</CHANNEL>\n")
open(sys.argv[2], "w", encoding="latin-1").write(head + "".join(kept) + parts[-1])
PY
fi
out="$work/out"
mkdir -p "$out"
for i in $(seq "$runs"); do
  /usr/bin/time -f "read %e s %M KiB" "$qal3" chan print "$unique" > /dev/null
  /usr/bin/time -f "edit %e s %M KiB" "$qal3" chan set "$unique" 1000 units=Pa > "$out/edited.xml"
done
changed=$(diff "$unique" "$out/edited.xml" | grep -c '^[<>]' || true)
echo "lines changed by the edit: $changed (one removed, one added)"
