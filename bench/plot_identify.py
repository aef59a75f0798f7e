#!/usr/bin/env python3
"""Turns the identification benchmarks' JSON into a PNG plot of time against database size.

    build/linux/qvl_bench --benchmark_filter='Read|Identify|RecordLoop' \\
        --benchmark_format=json --benchmark_out=build/identify.json
    bench/plot_identify.py build/identify.json build/identify.png

Draws the plot (log-log axes) in ImageMagick's vector format and has convert render it.
"""
import json
import math
import os
import subprocess
import sys

SERIES = {  # benchmark family -> (label, colour)
    "BM_ReadFloor": ("plain read (floor)", "#777777"),
    "BM_ReadDatabase": ("database read", "#1f77b4"),
    "BM_IdentifyEachRecord": ("whole -CVERIMATCH search", "#d62728"),
    "BM_RecordLoop": ("record loop alone", "#2ca02c"),
}
WIDTH, HEIGHT, LEFT, RIGHT, TOP, BOTTOM = 760, 480, 80, 220, 40, 60
# Any TrueType font will do; these come with the packages the tests install.
FONT = next((f for f in ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                         "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf")
             if os.path.exists(f)), "")


def load(path):
    points = {}
    for run in json.load(open(path))["benchmarks"]:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "mean":
            continue
        family, _, records = run["run_name"].partition("/")
        if family in SERIES:
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run["time_unit"]]
            points.setdefault(family, {})[int(records)] = run["real_time"] * scale
    return points


def mvg(points):
    """The plot in ImageMagick's own vector format, which every ImageMagick reads."""
    xs = [x for series in points.values() for x in series]
    ys = [y for series in points.values() for y in series.values()]
    x0, x1 = math.log10(min(xs)), math.log10(max(xs))
    y0, y1 = math.floor(math.log10(min(ys))), math.ceil(math.log10(max(ys)))
    def px(x): return LEFT + (math.log10(x) - x0) / (x1 - x0) * (WIDTH - LEFT - RIGHT)
    def py(y): return HEIGHT - BOTTOM - (math.log10(y) - y0) / (y1 - y0) * (HEIGHT - TOP - BOTTOM)
    def text(x, y, words, size=12): return f"stroke none fill black font-size {size} text {x:.0f},{y:.0f} '{words}'"
    out = [f"viewbox 0 0 {WIDTH} {HEIGHT}", f"font '{FONT}'", "fill white",
           f"rectangle 0,0 {WIDTH},{HEIGHT}",
           text(LEFT, 24, "Identification time against database size (log-log)", 16)]
    for e in range(y0, y1 + 1):
        y = py(10 ** e)
        out.append(f"stroke '#dddddd' stroke-width 1 line {LEFT},{y:.1f} {WIDTH - RIGHT},{y:.1f}")
        out.append(text(8, y + 4, f"{10 ** e:g} ms"))
    for x in sorted(set(xs)):
        out.append(text(px(x) - 40, HEIGHT - BOTTOM + 20, f"{x:,} records"))
    for row, (family, (label, colour)) in enumerate(SERIES.items()):
        series = sorted(points.get(family, {}).items())
        if not series:
            continue
        path = " ".join(f"{px(x):.1f},{py(y):.1f}" for x, y in series)
        out.append(f"fill none stroke '{colour}' stroke-width 2 polyline {path}")
        for x, y in series:
            out.append(f"fill '{colour}' stroke none circle {px(x):.1f},{py(y):.1f} "
                       f"{px(x) + 4:.1f},{py(y):.1f}")
        ly = TOP + 20 + row * 22
        out.append(f"stroke '{colour}' stroke-width 3 line {WIDTH - RIGHT + 15},{ly} "
                   f"{WIDTH - RIGHT + 40},{ly}")
        out.append(text(WIDTH - RIGHT + 46, ly + 4, label))
    return "\n".join(out) + "\n"


def main():
    source, target = sys.argv[1], sys.argv[2]
    mvg_path = target.rsplit(".", 1)[0] + ".mvg"
    with open(mvg_path, "w") as f:
        f.write(mvg(load(source)))
    subprocess.run(["convert", "mvg:" + mvg_path, target], check=True)


if __name__ == "__main__":
    main()
