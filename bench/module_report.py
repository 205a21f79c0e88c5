#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Writes the markdown table of the shipped module's benchmark (scripts/module-bench.sh).

module_report.py OUT.md NOTE LABEL=RESULTS...

Each RESULTS file is what orveln1_module_bench printed for one module ("operation image MB/s"
lines after a '#' line); a LABEL given more than once (one file per pass) keeps each figure's
fastest. LABEL is dll32, dll64 or so; the ratios are against "so", the Linux
module, image by image, and their geometric mean over the images (which is also the ratio of the
modules' geometric means). NOTE is a line about the machine and the run, printed above the tables.
"""
import math
import sys

NAMES = {"dll32": "32-bit DLL", "dll64": "64-bit DLL", "so": "Linux module"}
OPERATIONS = [("gif_decode", "GIF decode"), ("gif_encode", "GIF encode"),
              ("tif_decode", "TIFF strip decode"), ("tif_encode", "TIFF strip encode")]


def load(path):
    speeds, images = {}, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if len(fields) != 3 or line.startswith("#"):
                continue
            speeds[(fields[0], fields[1])] = float(fields[2])
            if fields[1] not in images:
                images.append(fields[1])
    return speeds, images


def geomean(values):
    values = list(values)
    return math.exp(sum(math.log(v) for v in values) / len(values))


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, note = sys.argv[1], sys.argv[2]
    runs = {}
    images = None
    for arg in sys.argv[3:]:
        label, _, path = arg.partition("=")
        if label not in NAMES:
            sys.exit(f"module_report.py: unknown label {label!r}")
        speeds, found = load(path)
        kept = runs.setdefault(label, {})
        for key, value in speeds.items():
            kept[key] = max(kept.get(key, 0.0), value)
        if images is None:
            images = found
        elif found != images:
            sys.exit(f"module_report.py: {path} has other images than the first results")
    if not images or "so" not in runs:
        sys.exit("module_report.py: no results, or none for the Linux module (so=...)")
    labels = [k for k in NAMES if k in runs]
    others = [k for k in labels if k != "so"]
    for label in labels:
        missing = [(op, i) for op, _ in OPERATIONS for i in images if (op, i) not in runs[label]]
        if missing:
            sys.exit(f"module_report.py: {label} lacks {missing[0]}")

    def ratio(label, op, image):
        return runs[label][(op, image)] / runs["so"][(op, image)]

    lines = ["# The shipped module through its six exports", "", note, "",
             "MB/s = 1e6 pixels a second (one palette index a pixel, 4-bit images too); geometric "
             "means over the images; the ratios are each module's speed over the Linux module's "
             "in the same run (above 1 is faster).", ""]
    head = ["operation"] + [f"{NAMES[k]} MB/s" for k in labels]
    head += [f"{NAMES[k]} / Linux" for k in others] + [f"lowest {NAMES[k]} / Linux" for k in others]
    lines += ["| " + " | ".join(head) + " |", "|---|" + "---:|" * (len(head) - 1)]
    for op, title in OPERATIONS:
        row = [title] + [f"{geomean(runs[k][(op, i)] for i in images):.0f}" for k in labels]
        row += [f"{geomean(ratio(k, op, i) for i in images):.2f}" for k in others]
        for k in others:
            low = min(images, key=lambda i, k=k: ratio(k, op, i))
            row.append(f"{low} {ratio(k, op, low):.2f}")
        lines.append("| " + " | ".join(row) + " |")

    lines += ["", "Each image:", ""]
    head = ["operation", "image"] + [f"{NAMES[k]} MB/s" for k in labels] + [f"{NAMES[k]} / Linux" for k in others]
    lines += ["| " + " | ".join(head) + " |", "|---|---|" + "---:|" * (len(head) - 2)]
    for op, title in OPERATIONS:
        for i in images:
            row = [title, i] + [f"{runs[k][(op, i)]:.1f}" for k in labels]
            row += [f"{ratio(k, op, i):.2f}" for k in others]
            lines.append("| " + " | ".join(row) + " |")
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
