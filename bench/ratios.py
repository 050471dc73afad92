#!/usr/bin/env python3
"""Ratios of the bench_readers figures: each reader (and pugixml) against the
floor measured in the same run.

    build-bench/bench/bench_readers --benchmark_format=json > readers.json
    bench/ratios.py readers.json

With --benchmark_repetitions=N the medians of the repetitions are used.
"""
import json
import sys


def main(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    # With --benchmark_repetitions the median of the repetitions is taken.
    medians = {r["run_name"]: r for r in runs
               if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "median"}
    chosen = medians.values() if medians else [r for r in runs if r.get("run_type", "iteration") == "iteration"]
    times = {r.get("run_name", r["name"]) if medians else r["name"]: r["real_time"] for r in chosen}
    unit = {r.get("run_name", r["name"]) if medians else r["name"]: r["time_unit"] for r in chosen}
    docs = sorted({name.rsplit("/", 1)[0] for name in times})
    print(f"{'document':<18} {'floor':>12} {'reader':>12} {'ratio':>7} {'pugixml':>12} {'ratio':>7}")
    for doc in docs:
        floor = times.get(doc + "/floor")
        reader = times.get(doc + "/reader")
        pugi = times.get(doc + "/pugixml")
        u = unit.get(doc + "/floor", "")
        row = f"{doc:<18} {floor:>10.1f}{u:>2} {reader:>10.1f}{u:>2} {reader / floor:>7.2f}"
        if pugi is not None:
            row += f" {pugi:>10.1f}{u:>2} {pugi / floor:>7.2f}"
        print(row)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdin")
