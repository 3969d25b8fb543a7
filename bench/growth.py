#!/usr/bin/env python3
"""Reads the JSON output of zorvex_bench (--benchmark_format=json or --benchmark_out) and prints,
for every benchmark family, the time at each size and the growth from one size to the next, which
for ten times the input should stay at or below eleven times the time."""
import json
import sys


def main():
    with open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin as source:
        runs = json.load(source)["benchmarks"]
    families = {}
    for run in runs:
        if run.get("run_type") != "iteration":
            continue
        family, _, size = run["name"].rpartition("/")
        families.setdefault(family, []).append((int(size), run["real_time"], run["time_unit"]))
    worst = 0.0
    for family, sizes in families.items():
        sizes.sort()
        cells = [f"{size}: {time:.0f} {unit}" for size, time, unit in sizes]
        growth = []
        for (small, small_time, _), (large, large_time, _) in zip(sizes, sizes[1:]):
            factor = (large_time / small_time) / (large / small) * 10
            growth.append(f"x{large // small}: {large_time / small_time:.1f}x")
            worst = max(worst, factor)
        print(f"{family:45} {'  '.join(cells):60} {'  '.join(growth)}")
    print(f"largest growth for ten times the input: {worst:.1f}x")


if __name__ == "__main__":
    main()
