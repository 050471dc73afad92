#!/usr/bin/env python3
"""Reads per second with one and two threads, and their ratio, from the
JSON output of bench_threads (medians when repetitions were run).

Usage: bench/scaling.py bench_threads.json
"""
import json
import sys


def main(path):
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].split("/")
        runs[(name[1], name[-1])] = b
    print(f"{'document':<12} {'1 thread/s':>11} {'2 threads/s':>12} {'ratio':>6} {'CPU us/doc 1':>13} {'CPU us/doc 2':>13}")
    for doc in dict.fromkeys(k[0] for k in runs):
        one, two = runs.get((doc, "threads:1")), runs.get((doc, "threads:2"))
        if not one or not two:
            continue
        print(f"{doc:<12} {one['items_per_second']:>11.0f} {two['items_per_second']:>12.0f} "
              f"{two['items_per_second'] / one['items_per_second']:>6.2f} "
              f"{one['cpu_time'] / 1000:>13.1f} {two['cpu_time'] / 1000:>13.1f}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
