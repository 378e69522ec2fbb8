#!/usr/bin/python3
"""Turns bench/run.sh's results.tsv into Markdown tables and scaling.tsv.

Usage: report.py results.tsv SIDE  (Markdown on stdout)
"""
import sys
from collections import defaultdict

rows = defaultdict(list)
with open(sys.argv[1]) as f:
    for line in f:
        group, name, median, peak = line.rstrip("\n").split("\t")
        rows[group].append((name, float(median), int(peak)))
side = int(sys.argv[2])
image_mib = side * side / 2**20

titles = {
    "enc-none": ("zoltenc, uncompressed input", "dd"),
    "enc-lzw": ("zoltenc, LZW input", "tiffcp -c none"),
    "enc-deflate": ("zoltenc, Deflate input with the horizontal predictor", "tiffcp -c none"),
    "dec": ("zoltdec", "dd"),
}
print(f"Image: {side} x {side} pixels ({image_mib:.0f} MiB of pixels). "
      "Median of the runs; ratio = time / time of the floor.\n")
for group, (title, floor) in titles.items():
    if group not in rows:
        continue
    base = dict((n, t) for n, t, _ in rows[group])[floor]
    print(f"### {title}\n")
    print(f"| tool | median (s) | ratio to {floor} | peak memory (MiB) |")
    print("|---|---:|---:|---:|")
    for name, median, peak in rows[group]:
        print(f"| {name} | {median:.4f} | {median / base:.2f} | {peak / 1024:.1f} |")
    print()

scaling = sorted((int(g.split("-")[1]), dict((n, (t, p)) for n, t, p in r))
                 for g, r in rows.items() if g.startswith("scale-"))
print("### Growth with the image\n")
print("| pixels | zoltenc (s) | zoltdec (s) | dd (s) | zoltenc peak (MiB) | zoltdec peak (MiB) | image (MiB) |")
print("|---:|---:|---:|---:|---:|---:|---:|")
with open("scaling.tsv", "w") as out:
    for n, r in scaling:
        mib = n * n / 2**20
        print(f"| {n} x {n} | {r['zoltenc'][0]:.4f} | {r['zoltdec'][0]:.4f} | {r['dd'][0]:.4f} | "
              f"{r['zoltenc'][1] / 1024:.1f} | {r['zoltdec'][1] / 1024:.1f} | {mib:.1f} |")
        out.write(f"{n * n}\t{r['zoltenc'][0]}\t{r['zoltdec'][0]}\t{r['dd'][0]}\t"
                  f"{r['zoltenc'][1] / 1024}\t{r['zoltdec'][1] / 1024}\t{mib}\n")
