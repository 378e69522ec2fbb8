#!/usr/bin/python3
"""Turns bench/run.sh's raw results into Markdown tables and scaling.tsv.

Usage: report.py results.tsv cpu.tsv memory.tsv sync.tsv SIDE [threads-INPUT.tsv ...]
       report.py --many many.tsv
(Markdown on stdout)
"""
import sys
from collections import defaultdict


def many_files(path):
    """The many-files table, from bench/run.sh's many.tsv."""
    timed, peaks = {}, {}
    with open(path) as f:
        for line in f:
            name, a, b = line.rstrip("\n").split("\t")
            if name == "peak":
                peaks[a] = int(b) / 1024
            elif name == "files":
                files, large = int(a), int(b)
            else:
                timed[name] = (float(a), float(b))
    print(f"### Many files: {files} TIFFs of 320 x 200 pixels (fastest of the alternating runs)\n")
    print(f"The mixed folder adds {large} large LZW images. Wall time and CPU time (user + system) of the whole "
          "command, its children included; ratios to zoltenc's file-by-file recipe and to cp file by file.\n")
    print("| command | wall (s) | CPU (s) | ratio to the file-by-file recipe | ratio to cp |")
    print("|---|---:|---:|---:|---:|")
    for name, (c, w) in timed.items():
        recipe = "zoltdec, file by file" if name.startswith("zoltdec") else \
            "zoltenc, file by file, mixed folder" if "mixed" in name else \
            "zoltenc, file by file" + (", eatmydata" if "eatmydata" in name else "")
        cp = "cp, file by file" + (", eatmydata" if "eatmydata" in name else "")
        print(f"| {name} | {w:.3f} | {c:.3f} | {w / timed[recipe][1]:.2f} | {w / timed[cp][1]:.2f} |")
    print()
    print("| peak resident memory | MiB |\n|---|---:|")
    for name, mib in peaks.items():
        print(f"| {name} | {mib:.1f} |")
    print()


if sys.argv[1:2] == ["--many"]:
    many_files(sys.argv[2])
    sys.exit(0)

results, cpu_file, memory_file, sync_file, side = sys.argv[1:5] + [int(sys.argv[5])]
thread_files = sys.argv[6:]

rows = defaultdict(list)
with open(results) as f:
    for line in f:
        group, name, median, peak = line.rstrip("\n").split("\t")
        rows[group].append((name, float(median), int(peak)))
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

inputs = {"lzw": "LZW", "deflate": "Deflate with the horizontal predictor", "tiles": "Deflate, 256 x 256 tiles"}
for path in thread_files:
    key = path[len("threads-"):-len(".tsv")]
    with open(path) as f:
        timed = [(n, float(c), float(w)) for n, c, w in (line.rstrip("\n").split("\t") for line in f)]
    floor = timed[0]
    print(f"### Threads, {inputs.get(key, key)} input (fastest of the alternating runs)\n")
    print(f"| tool | wall (s) | ratio to {floor[0]} | CPU, user + system (s) |")
    print("|---|---:|---:|---:|")
    for name, c, w in timed:
        print(f"| {name} | {w:.4f} | {w / floor[2]:.2f} | {c:.4f} |")
    print()

cpu = {}
with open(cpu_file) as f:
    for line in f:
        name, seconds, wall = line.rstrip("\n").split("\t")
        cpu[name] = (float(seconds), float(wall))
print("### CPU time against dd (fastest of the alternating runs)\n")
print("The programs sync their output: their floor is dd with conv=fdatasync; with eatmydata, plain dd, run by eatmydata too.\n")
print("| tool | CPU, user + system (s) | ratio to its dd | wall (s) | ratio to its dd |")
print("|---|---:|---:|---:|---:|")
for name, floor in (("zoltenc", "dd conv=fdatasync (TIFF)"), ("zoltdec", "dd conv=fdatasync (ZOLT)"),
                    ("zoltenc, eatmydata", "dd (TIFF), eatmydata"), ("zoltdec, eatmydata", "dd (ZOLT), eatmydata")):
    for row in (floor, name):
        c, w = cpu[row]
        print(f"| {row} | {c:.4f} | {c / cpu[floor][0]:.2f} | {w:.4f} | {w / cpu[floor][1]:.2f} |")
print()

with open(sync_file) as f:
    synced = {name: (float(c), float(w)) for name, c, w in (line.rstrip("\n").split("\t") for line in f)}
synced.update(cpu)
files = int(synced.pop("files")[0])
print("### The cost of syncing the output (fastest of the alternating runs)\n")
print("eatmydata turns every sync off. Wall time is what the sync costs; CPU is user + system.\n")
print("| conversion | wall (s) | wall, eatmydata (s) | sync per file (ms) | CPU (s) | CPU, eatmydata (s) |")
print("|---|---:|---:|---:|---:|---:|")
for name, title, count in (("new names", f"{files} small files to new names", files),
                           ("replacing", f"{files} small files over existing outputs", files),
                           ("zoltenc", f"zoltenc, {side} x {side}", 1), ("zoltdec", f"zoltdec, {side} x {side}", 1)):
    (c, w), (ce, we) = synced[name], synced[name + ", eatmydata"]
    print(f"| {title} | {w:.4f} | {we:.4f} | {(w - we) / count * 1000:.2f} | {c:.4f} | {ce:.4f} |")
print()

memory = defaultdict(dict)  # pixels per side -> (layout, tool) -> MiB
with open(memory_file) as f:
    for line in f:
        layout, n, tool, kib = line.rstrip("\n").split("\t")
        memory[int(n)][(layout, tool)] = int(kib) / 1024
columns = [("64-row strips", "zoltenc"), ("one strip", "zoltenc"), ("64 MiB LZW strips", "zoltenc"),
           ("256 x 256 tiles", "zoltenc"), ("64-row strips", "zoltdec"), ("64-row strips", "libvips"),
           ("64-row strips", "dd")]
print("### Peak resident memory (MiB) against image size\n")
print("| pixels | image (MiB) | " + " | ".join(f"{tool}, {layout}" for layout, tool in columns) + " |")
print("|---:|---:|" + "---:|" * len(columns))
for n in sorted(memory):
    print(f"| {n} x {n} | {n * n / 2**20:.1f} | " +
          " | ".join(f"{memory[n].get(c, float('nan')):.1f}" for c in columns) + " |")
print()

thumbs = sorted((int(g.split("-")[1]), r[0]) for g, r in rows.items() if g.startswith("thumb-"))
print("### A thumbnail at 256 pixels (gdk-pixbuf-thumbnailer through the loader)\n")
print("| pixels | ZOLT file (MiB) | median (s) | peak memory (MiB) |")
print("|---:|---:|---:|---:|")
for n, (_, median, peak) in thumbs:
    print(f"| {n} x {n} | {(n * n + 780) / 2**20:.1f} | {median:.4f} | {peak / 1024:.1f} |")
print()

scaling = sorted((int(g.split("-")[1]), dict((n, t) for n, t, _ in r))
                 for g, r in rows.items() if g.startswith("scale-"))
print("### Time against image size (median, s)\n")
print("| pixels | zoltenc | zoltdec | dd of the ZOLT file | libvips |")
print("|---:|---:|---:|---:|---:|")
with open("scaling.tsv", "w") as out:
    for n, r in scaling:
        print(f"| {n} x {n} | {r['zoltenc']:.4f} | {r['zoltdec']:.4f} | {r['dd']:.4f} | {r['libvips']:.4f} |")
        out.write("\t".join(str(v) for v in [n * n, r["zoltenc"], r["zoltdec"], r["dd"], r["libvips"]] +
                            [memory[n].get(c, float("nan")) for c in columns]) + "\n")
