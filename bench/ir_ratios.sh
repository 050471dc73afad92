#!/bin/bash
# Instruction counts (callgrind) of each reader and of the floor, per
# document, and their ratio; steady for comparisons on a shared machine.
# The cost of one document is the difference of two runs that read it a
# different number of times (large: 1 and 2, 2KB: 1 and 41).
#
# Usage: bench/ir_ratios.sh BUILD_DIRECTORY [kind...]
#   (a build with -DQAL3_BUILD_BENCH=ON, target bench_ir_readers)
set -euo pipefail
bin=${1:?usage: ir_ratios.sh BUILD_DIRECTORY [kind...]}/bench/bench_ir_readers
shift
kinds=${*:-evlist chan envdict trigger}
ir() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" "$@" 2>&1 |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
printf '%-8s %-6s %14s %14s %7s\n' document size floor_Ir reader_Ir ratio
for k in $kinds; do
  for s in large 2KB; do
    if [ "$s" = large ]; then r1=1; r2=2; else r1=1; r2=41; fi
    f1=$(ir "$k" "$s" floor $r1); f2=$(ir "$k" "$s" floor $r2)
    g1=$(ir "$k" "$s" reader $r1); g2=$(ir "$k" "$s" reader $r2)
    awk -v k="$k" -v s="$s" -v n=$((r2 - r1)) -v f1="$f1" -v f2="$f2" -v g1="$g1" -v g2="$g2" \
      'BEGIN { f = (f2 - f1) / n; g = (g2 - g1) / n; printf "%-8s %-6s %14.0f %14.0f %7.2f\n", k, s, f, g, g / f }'
  done
done
