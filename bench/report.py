#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Turns one benchmark run into the table and chart the README shows.

Usage: report.py RESULTS_DIR
Reads orveln1_bench.json (Google Benchmark), pillow.json and memory.json from RESULTS_DIR and
writes table.md (MB/s per codec, image and side, with orveln1's ratio to each peer and the ratio of
geometric means against the targets) and chart.svg (geometric means, hand-written SVG)."""
import json
import math
import os
import platform
import re
import sys

OURS = "orveln1"
# Ratio of geometric means that orveln1 is to reach against each peer.
TARGETS = {
    "gif_decode": {"giflib": 2.0, "pillow": 1.5, "wuffs": 1.0},
    "gif_encode": {"giflib": 2.0, "pillow": 1.5},
    "tif_decode": {"libtiff": 1.0},
    "tif_encode": {"libtiff": 1.5},
}
TITLES = {
    "gif_decode": "GIF decode",
    "gif_encode": "GIF encode",
    "tif_decode": "TIFF strip decode",
    "tif_encode": "TIFF strip encode",
}
COLOURS = {OURS: "#1b7837", "giflib": "#762a83", "pillow": "#2166ac", "stb": "#b2abd2", "libtiff": "#d6604d",
           "wuffs": "#f4a582"}


def load_runs(results_dir):
    runs = {}  # (group, image) -> {side: bytes per second}
    for file in ("orveln1_bench.json", "pillow.json"):
        path = os.path.join(results_dir, file)
        if not os.path.exists(path):
            continue
        for b in json.load(open(path))["benchmarks"]:
            if b.get("error_occurred") or "bytes_per_second" not in b:
                continue
            parts = [p for p in b["name"].split("/") if not re.match(r"^(iterations|min_time|repeats):", p)]
            if len(parts) == 3:
                op, side, image = parts
                group = op
            else:
                op, side, strip, image = parts
                group = f"{op} {strip}"
            runs.setdefault((group, image), {})[side] = b["bytes_per_second"]
    return runs


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def machine():
    model = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} logical CPUs, {platform.system()} {platform.release()}"


def main():
    results_dir = sys.argv[1]
    runs = load_runs(results_dir)
    groups = []
    for group, _ in runs:
        if group not in groups:
            groups.append(group)
    order = {"gif_decode": 0, "gif_encode": 1, "tif_decode": 2, "tif_encode": 3}
    strip_order = {"8KiB": 0, "64KiB": 1, "whole": 2}
    groups.sort(key=lambda g: (order[g.split()[0]], strip_order.get(g.split()[-1], -1)))

    lines = ["# orveln1 benchmark results", "", f"Machine: {machine()}.", ""]
    summary = []  # (group, side, geomean ours, geomean peer, ratio, target)
    detail = []
    for group in groups:
        op = group.split()[0]
        images = [img for (g, img) in runs if g == group]
        sides = []
        for img in images:
            for s in runs[(group, img)]:
                if s not in sides:
                    sides.append(s)
        peers = [s for s in sides if s != OURS]
        title = TITLES[op] + (f", strips of {group.split()[1]}" if " " in group else "")
        detail += [f"### {title} (MB/s)", ""]
        head = "| image | " + " | ".join(sides) + " | " + " | ".join(f"{OURS} / {p}" for p in peers) + " |"
        detail += [head, "|" + "---|" * (1 + len(sides) + len(peers))]
        for img in images:
            r = runs[(group, img)]
            cells = [f"{r[s] / 1e6:.1f}" if s in r else "-" for s in sides]
            ratios = [f"{r[OURS] / r[p]:.2f}" if OURS in r and p in r else "-" for p in peers]
            detail.append(f"| {img} | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |")
        means = {s: geomean([runs[(group, i)][s] for i in images if s in runs[(group, i)]]) for s in sides}
        cells = [f"**{means[s] / 1e6:.1f}**" for s in sides]
        ratios = [f"**{means[OURS] / means[p]:.2f}**" if OURS in means else "-" for p in peers]
        detail += ["| geometric mean | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |", ""]
        for p in peers:
            if OURS in means:
                summary.append((group, p, means[OURS], means[p], means[OURS] / means[p], TARGETS[op].get(p)))

    lines += ["## Ratios of geometric means (orveln1 / peer)", "",
              "| operation | peer | orveln1 MB/s | peer MB/s | ratio | target | met |", "|---|---|---|---|---|---|---|"]
    for group, p, ours, peer, ratio, target in summary:
        met = "-" if target is None else ("yes" if ratio >= target else "**no**")
        tgt = "-" if target is None else f">= {target:.1f}"
        lines.append(f"| {group} | {p} | {ours / 1e6:.1f} | {peer / 1e6:.1f} | {ratio:.2f} | {tgt} | {met} |")
    lines.append("")

    memory_path = os.path.join(results_dir, "memory.json")
    if os.path.exists(memory_path):
        lines += ["## Peak working memory per call (bytes, counting allocator)", "",
                  "| codec | width | 10 rows | 10000 rows | blocks the design names |", "|---|---|---|---|---|"]
        for m in json.load(open(memory_path)):
            lines.append(f"| {m['codec']} | {m['width']} | {m['peak_bytes_10_rows']} | "
                         f"{m['peak_bytes_10000_rows']} | {m['design_bytes']} |")
        lines.append("")
    lines += ["## Per image", ""] + detail
    open(os.path.join(results_dir, "table.md"), "w").write("\n".join(lines))
    write_chart(os.path.join(results_dir, "chart.svg"), groups, runs)
    print("\n".join(lines[: lines.index("## Per image")]))


def write_chart(path, groups, runs):
    """Grouped horizontal bars: geometric mean MB/s of every side, one group per operation."""
    rows = []
    for group in groups:
        images = [img for (g, img) in runs if g == group]
        sides = []
        for img in images:
            sides += [s for s in runs[(group, img)] if s not in sides]
        sides.sort(key=lambda s: (s != OURS, s))
        rows.append((group, [(s, geomean([runs[(group, i)][s] for i in images if s in runs[(group, i)]]) / 1e6)
                             for s in sides]))
    top = max(v for _, bars in rows for _, v in bars)
    bar_h, gap, left, width = 16, 14, 190, 520
    height = 50 + sum(len(b) * bar_h + gap for _, b in rows) + 30
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{left + width + 90}" height="{height}" '
           'font-family="sans-serif" font-size="12">',
           f'<rect width="100%" height="100%" fill="white"/>',
           f'<text x="10" y="22" font-size="15" font-weight="bold">Geometric mean throughput over the image set '
           f'(MB/s of pixel bytes; longer is faster)</text>']
    y = 40
    for group, bars in rows:
        op = group.split()[0]
        label = TITLES[op] + (f" ({group.split()[1]})" if " " in group else "")
        out.append(f'<text x="10" y="{y + len(bars) * bar_h / 2 + 4}" font-weight="bold">{label}</text>')
        for side, value in bars:
            w = max(1.0, value / top * width)
            out.append(f'<rect x="{left}" y="{y}" width="{w:.1f}" height="{bar_h - 2}" '
                       f'fill="{COLOURS.get(side, "#999999")}"/>')
            out.append(f'<text x="{left + w + 4:.1f}" y="{y + bar_h - 5}">{side} {value:.0f}</text>')
            y += bar_h
        y += gap
    out.append("</svg>")
    open(path, "w").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
