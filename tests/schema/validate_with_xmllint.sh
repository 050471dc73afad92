#!/bin/sh
# Validates every example document and what the writers make of them with
# xmllint against the schemas: the schemas are plain XSD 1.0, not tied to the
# validator that qal3 check uses.
#   validate_with_xmllint.sh QAL3 SOURCE_DIR WORK_DIR
# A cross build runs the tool under its emulator: QAL3_LAUNCHER, when set,
# is the command line put before it.
set -eu
qal3=$1 src=$2 work=$3
command -v xmllint >/dev/null 2>&1 || { echo "xmllint not found (Debian package libxml2-utils)"; exit 77; }
schema=$src/schema examples=$src/examples
rm -rf "$work" && mkdir -p "$work"
run_qal3() { ${QAL3_LAUNCHER:-} "$qal3" "$@"; }

schema_of() {
  root=$(sed -n 's/^[^<]*<\([A-Za-z0-9_]*\)[ >].*/\1/p' "$1" | grep -v '^$' | head -n 1)
  case $root in
    BMR) echo evlist.xsd ;;
    CHANDESCRIPTIONS) echo chandescriptions.xsd ;;
    DAQvariables) echo daqvariables.xsd ;;
    ENVINDEXDICT) echo envdict.xsd ;;
    QAL3USERTRIGGERLIST) echo triggers.xsd ;;
    RegisterDescription) echo gige.xsd ;;
    *) echo "" ;;
  esac
}

# What the writers produce from the examples.
run_qal3 chan convert --to daqvars -o "$work/w_daqvars.xml" "$examples/chan_descriptions.xml" 2>/dev/null
run_qal3 chan convert --to chandescr -o "$work/w_chandescr.xml" "$examples/chan_daqvariables.xml" 2>/dev/null
run_qal3 chan merge -o "$work/w_merged.xml" "$examples/chan_select_linac.xml" "$examples/chan_select_extra.xml" 2>/dev/null
run_qal3 envdict --xml "$work/w_envdict.xml" "$examples/envdict.xml" >/dev/null 2>&1
run_qal3 trigger convert -o "$work/w_triggers.xml" "$examples/triggers.xml" >/dev/null
run_qal3 trigger convert -o "$work/w_plot_triggers.xml" "$examples/plot_triggers.xml" >/dev/null

# The writers over the edge values of a float, infinities and NaN among them.
edges="1e-07 0.3333333 1.0000001 1e-45 3.4028235e38 inf -inf nan -0"
params="" dict="" i=0
for v in $edges; do
  params="$params param$i=\"$v\""
  dict="$dict<CHANNEL><INDEX>$i</INDEX><PROP>P$i</PROP><DABS>$v</DABS><DREL>$v</DREL></CHANNEL>"
  i=$((i + 1))
done
printf '<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name="C"/><Function name="MEAN"%s/><Operation name="INSIDE"/><LowLimit value="-inf"/><UpperLimit value="nan"/></USERTRIGGER></QAL3USERTRIGGERLIST>\n' "$params" >"$work/edge_triggers.xml"
printf '<ENVINDEXDICT>%s</ENVINDEXDICT>\n' "$dict" >"$work/edge_envdict.xml"
run_qal3 trigger convert -o "$work/w_edge_triggers.xml" "$work/edge_triggers.xml" >/dev/null
run_qal3 envdict --xml "$work/w_edge_envdict.xml" "$work/edge_envdict.xml" >/dev/null 2>&1

failed=0 count=0
for doc in "$examples"/*.xml "$work"/*.xml; do
  xsd=$(schema_of "$doc")
  [ -n "$xsd" ] || continue
  count=$((count + 1))
  if ! xmllint --noout --nonet --schema "$schema/$xsd" "$doc" 2>"$work/xmllint.err"; then
    cat "$work/xmllint.err"
    failed=1
  fi
done
[ "$count" -ge 17 ] || { echo "only $count documents validated"; exit 1; }
exit $failed
