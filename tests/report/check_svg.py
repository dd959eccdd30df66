#!/usr/bin/env python3
"""Runs qvdelay_report on a small generated results file with --json and
--svg, parses the SVG with xml.etree and checks that each point, interval bar
and the threshold line sit where the JSON numbers put them.

  check_svg.py path/to/qvdelay_report WORKDIR
"""
import json
import os
import random
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
HEADER = ("run_started,platform,delay_frames,step,delayed,submitted,correct,flips,"
          "step_frames,late_frames,max_interval_ms")


def main():
    binary, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    csv = os.path.join(work, "results.csv")
    svg = os.path.join(work, "picture.svg")
    rng = random.Random(4)
    rate = {2: 0.55, 4: 0.75, 5: 0.85, 7: 0.95}
    lines = [HEADER]
    for run, n in enumerate([2, 4, 4, 5, 7, 7, 7]):
        for step in range(20):
            ok = rng.random() < rate[n]
            lines.append("2026-12-01T10:%02d:00,linux,%d,%d,A,%s,%d,2,300,0,16.700"
                         % (run, n, step, "A" if ok else "B", 1 if ok else 0))
    with open(csv, "w") as f:
        f.write("\n".join(lines) + "\n")
    out = subprocess.run([binary, "--json", "--svg", svg, csv], capture_output=True, text=True, check=True)
    data = json.loads(out.stdout)
    root = ET.parse(svg).getroot()
    failures = []

    def check(what, got, want):
        if abs(got - want) > 0.011:
            failures.append("%s: %.3f, expected %.3f" % (what, got, want))

    if root.tag != NS + "svg" or "viewBox" not in root.attrib or "width" not in root.attrib:
        failures.append("root element is not an <svg> with xmlns, viewBox and width")
    x0, y0 = float(root.get("data-x0")), float(root.get("data-y0"))
    w, h, max_ms = float(root.get("data-width")), float(root.get("data-height")), float(root.get("data-max-ms"))

    def x_of(ms):
        return x0 + w * ms / max_ms

    def y_of(p):
        return y0 - h * p

    points = {int(c.get("data-delay-frames")): c for c in root.iter(NS + "circle") if c.get("class") == "point"}
    bars = {int(l.get("data-delay-frames")): l for l in root.iter(NS + "line") if l.get("class") == "ci"}
    delays = data["delays"]
    if sorted(points) != sorted(d["delay_frames"] for d in delays) or sorted(bars) != sorted(points):
        failures.append("points %s / bars %s do not match the delays of the JSON" % (sorted(points), sorted(bars)))
    for d in delays:
        n = d["delay_frames"]
        if n not in points or n not in bars:
            continue
        x = x_of((n - 1) * 16666 / 1000.0)  # (N - 1) x frame_us at 60 Hz
        check("point N=%d x" % n, float(points[n].get("cx")), x)
        check("point N=%d y" % n, float(points[n].get("cy")), y_of(d["right"] / d["steps"]))
        check("bar N=%d x" % n, float(bars[n].get("x1")), x)
        check("bar N=%d low" % n, float(bars[n].get("y1")), y_of(d["ci_low"]))
        check("bar N=%d high" % n, float(bars[n].get("y2")), y_of(d["ci_high"]))
    thresholds = [l for l in root.iter(NS + "line") if l.get("class") == "threshold"]
    if data["threshold_ms"] is None or len(thresholds) != 1:
        failures.append("expected a fitted threshold and one threshold line")
    else:
        check("threshold x", float(thresholds[0].get("x1")), x_of(data["threshold_ms"]))
        fit = [p for p in root.iter(NS + "polyline") if p.get("class") == "fit"]
        # The fitted curve crosses the 75 % line at the threshold.
        pts = [tuple(map(float, p.split(","))) for p in fit[0].get("points").split()] if fit else []
        y75 = y_of(0.75)
        cross = [a[0] + (b[0] - a[0]) * (y75 - a[1]) / (b[1] - a[1])
                 for a, b in zip(pts, pts[1:]) if (a[1] - y75) * (b[1] - y75) <= 0 and a[1] != b[1]]
        if len(cross) != 1 or abs(cross[0] - x_of(data["threshold_ms"])) > 1.5:
            failures.append("fitted curve crosses 75 %% at %s, threshold line at %.2f"
                            % (cross, x_of(data["threshold_ms"])))
    failures += check_mixed_rates(binary, work)
    for f in failures:
        print("FAIL:", f)
    print("%d points checked, %d failures" % (len(points), len(failures)))
    return 1 if failures else 0


def check_mixed_rates(binary, work):
    """Rows at 60 Hz N 3 and 120 Hz N 5 (one point, 33.332 ms), 144 Hz N 2 and
    30 Hz N 6 (166.665 ms, past the usual 125 ms): each point sits at its added
    delay, (N - 1) x frame_us / 1000, inside the plot."""
    csv = os.path.join(work, "mixed.csv")
    svg = os.path.join(work, "mixed.svg")
    lines = [HEADER + ",frame_us,input,procedure,participant"]
    for run, (n, us) in enumerate([(3, 16666), (5, 8333), (2, 6944), (6, 33333)]):
        for step in range(20):
            ok = step % 3 != 0
            lines.append("2026-12-02T10:%02d:00,linux,%d,%d,A,%s,%d,2,300,0,16.700,%d,keys,fixed,"
                         % (run, n, step, "A" if ok else "B", 1 if ok else 0, us))
    with open(csv, "w") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([binary, "--json", "--svg", svg, csv], capture_output=True, text=True, check=True)
    root = ET.parse(svg).getroot()
    x0, w, max_ms = float(root.get("data-x0")), float(root.get("data-width")), float(root.get("data-max-ms"))
    points = {c.get("data-added-ms"): float(c.get("cx")) for c in root.iter(NS + "circle") if c.get("class") == "point"}
    want = {"6.944": 6.944, "33.332": 33.332, "166.665": 166.665}
    failures = []
    if sorted(points) != sorted(want):
        failures.append("mixed rates: points at %s ms, expected %s" % (sorted(points), sorted(want)))
    for key, ms in want.items():
        if key in points and abs(points[key] - (x0 + w * ms / max_ms)) > 0.011:
            failures.append("mixed rates: point %s ms at x %.2f" % (key, points[key]))
        if key in points and not x0 <= points[key] <= x0 + w:
            failures.append("mixed rates: point %s ms off the plot" % key)
    return failures


if __name__ == "__main__":
    sys.exit(main())
