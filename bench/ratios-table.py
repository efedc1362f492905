#!/usr/bin/env python3
"""Prints a hyperfine JSON export as a Markdown table: each command's median and its ratio to the
first command (the static program that does nothing).

    bench/ratios-table.py RESULTS.json
"""
import json
import sys

results = json.load(open(sys.argv[1]))["results"]
base = results[0]["median"]
print("| command | median | ratio to the static program that does nothing |")
print("|---|---:|---:|")
for r in results:
    print(f"| {r['command']} | {r['median'] * 1e3:.3f} ms | {r['median'] / base:.2f}× |")
