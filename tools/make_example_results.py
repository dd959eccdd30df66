#!/usr/bin/env python3
"""Writes docs/example_results.csv: a simulated observer (fixed seed) with a
75 %-correct delay near 3.5 frames, a few 20-step runs at N = 2, 3, 4 and 6,
and some steps with late frames.

  tools/make_example_results.py [output.csv]
"""
import math
import random
import sys

ALPHA_MS, BETA, LAPSE = 55.0, 2.5, 0.02
RUNS = [(2, 3), (3, 3), (4, 4), (6, 2)]  # (N, runs)


def p_correct(frames):
    d = (frames - 1) * 1000.0 / 60.0
    return 0.5 + (0.5 - LAPSE) * (1.0 - math.exp(-((d / ALPHA_MS) ** BETA)))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "docs/example_results.csv"
    rng = random.Random(6)
    lines = ["run_started,platform,delay_frames,step,delayed,submitted,correct,flips,"
             "step_frames,late_frames,max_interval_ms"]
    order = [n for n, runs in RUNS for _ in range(runs)]
    rng.shuffle(order)
    minute = 0
    for n in order:
        day, hour = 5 + minute // 600, 19 + (minute % 600) // 60
        stamp = "2026-11-%02dT%02d:%02d:%02d" % (day, hour % 24, minute % 60, rng.randrange(60))
        minute += 7
        for step in range(20):
            delayed = rng.choice("AB")
            right = rng.random() < p_correct(n)
            submitted = delayed if right else ("B" if delayed == "A" else "A")
            late = rng.choice([1, 2, 3]) if rng.random() < 0.06 else 0
            interval = 16.6 + rng.random() * 0.9 if late == 0 else 25.0 + rng.random() * 30.0
            lines.append("%s,linux,%d,%d,%s,%s,%d,%d,%d,%d,%.3f" % (
                stamp, n, step, delayed, submitted, 1 if right else 0, rng.randrange(1, 9),
                rng.randrange(180, 900), late, interval))
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
