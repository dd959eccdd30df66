#!/usr/bin/env python3
"""A simulated person plays a whole threshold run of qvdelay_headless through
its standard input, seeing only what a person sees: where the marker is.

In each step it holds a key, finds which candidate lags by how many frames
the marker takes to follow (0 on one candidate, N - 1 on the other), and
answers right with its own chance P(d) = 0.5 + 0.48 (1 - exp(-(d/alpha)^beta))
at that delay d. It checks that the program's one answer line lands near the
observer's true 75 % delay and that the record has one row per judged step.

  threshold_observer.py <qvdelay_headless> <work folder> [--rate HZ] [--report <qvdelay_report>]

With --report, qvdelay_report must replay each run to the program's own answer.
"""
import json
import math
import os
import random
import re
import subprocess
import sys

ALPHA, BETA, LAPSE = 55.0, 2.5, 0.02


def p_correct(d):
    return 0.5 + (0.5 - LAPSE) * (1.0 - math.exp(-((d / ALPHA) ** BETA)))


def true_threshold():
    return ALPHA * (-math.log(1.0 - 0.25 / (0.5 - LAPSE))) ** (1.0 / BETA)


ANSWER = re.compile(r"^threshold (= ([0-9.]+) ms \(N ([0-9.]+) at (\d+) Hz\), 95% interval ([0-9.]+) - ([0-9.]+) ms"
                    r"|below [0-9.]+ ms .*|above [0-9.]+ ms .*), (\d+) steps$")


class Program:
    def __init__(self, headless, work, rate):
        args = [headless]
        if rate:
            args += ["--rate", str(rate)]
        args += ["-", work]
        self.p = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, cwd=work)
        self.answer = None
        self.step_lines = 0

    def send(self, *lines):
        self.p.stdin.write("".join(l + "\n" for l in lines))
        self.p.stdin.flush()

    def marker(self):
        """Runs nothing; returns the marker's x on the last frame, or None."""
        self.send("marker")
        while True:
            line = self.p.stdout.readline()
            if not line:
                raise SystemExit("FAIL: the program ended while a marker line was awaited")
            line = line.rstrip("\n")
            if line.startswith("threshold step "):
                self.step_lines += 1
            m = ANSWER.match(line)
            if m:
                self.answer = m
            if line.startswith("marker "):
                parts = line.split()
                return None if parts[2] == "hidden" else float(parts[2])

    def frame(self, keys=""):
        self.send(("1 " + keys).strip())
        return self.marker()

    def wait_shown(self):
        for _ in range(60):
            if self.frame() is not None:
                return
            if self.answer:
                return
        raise SystemExit("FAIL: the marker never showed")

    def lag(self):
        """Frames from holding right until the marker moves."""
        start = self.marker()
        for n in range(40):
            x = self.frame("right")
            if x != start:
                return n
        raise SystemExit("FAIL: the marker never followed the key")


def play(headless, work, rate, seed):
    """One whole run; returns the estimate and its interval in ms."""
    os.makedirs(work, exist_ok=True)
    record = os.path.join(work, "observer_results.csv")
    if os.path.exists(record):
        os.remove(record)
    frame_ms = int(1e6 / (rate or 60)) / 1000.0
    rng = random.Random(seed)
    prog = Program(headless, work, rate)
    prog.send("seed 424242", "unpaced", "steadyclock", "results " + record, "10", "1 key=0x14")
    candidate_is_a = False  # the program starts on "B"
    judged = 0
    while prog.answer is None and judged < 100:
        prog.wait_shown()
        if prog.answer:
            break
        lags = {}
        lags[candidate_is_a] = prog.lag()
        prog.send("1 space")
        candidate_is_a = not candidate_is_a
        prog.wait_shown()
        lags[candidate_is_a] = prog.lag()
        slow = max(lags, key=lambda c: lags[c])
        k = lags[slow]
        if sorted(lags.values()) != [0, k] or k < 1:
            raise SystemExit("FAIL: lags %s: want 0 on one candidate and N - 1 on the other" % lags)
        right = rng.random() < p_correct(k * frame_ms)
        want = slow if right else (not slow)
        if want != candidate_is_a:
            prog.send("1 space")
            candidate_is_a = want
            prog.wait_shown()
        prog.send("1 enter", "1")
        judged += 1
        prog.marker()  # reads the lines the judged step logged
    prog.send("1 enter", "1 esc")
    prog.p.stdin.close()
    prog.p.wait(timeout=60)
    if prog.answer is None:
        raise SystemExit("FAIL: no answer line after %d steps" % judged)
    steps = int(prog.answer.group(7))
    rows = sum(1 for _ in open(record)) - 1
    truth = true_threshold()
    print("observer: %d steps judged, %d step lines, %d rows; answer: %s; truth %.1f ms"
          % (judged, prog.step_lines, rows, prog.answer.group(0), truth))
    if steps != judged or rows != judged or prog.step_lines != judged:
        raise SystemExit("FAIL: %d steps judged, the answer says %d, the record has %d rows, %d step lines"
                         % (judged, steps, rows, prog.step_lines))
    if prog.answer.group(2) is None:
        raise SystemExit("FAIL: the answer is not a threshold inside the steps")
    est, low, high = float(prog.answer.group(2)), float(prog.answer.group(5)), float(prog.answer.group(6))
    if abs(float(prog.answer.group(3)) - (1 + est / frame_ms)) > 0.01:
        raise SystemExit("FAIL: N in the answer is not 1 + threshold / frame")
    with open(record) as f:
        next(f)
        for row in f:
            cells = row.rstrip("\n").split(",")
            if cells[13] != "threshold" or not 2 <= int(cells[2]) <= 256:
                raise SystemExit("FAIL: record row %r" % row)
    return est, low, high, record


def check_report(report, runs):
    """The report replays each run's rows to the answer the program logged."""
    for est, low, high, record in runs:
        out = subprocess.run([report, "--json", "--no-svg", record], capture_output=True, text=True)
        if out.returncode != 0:
            raise SystemExit("FAIL: qvdelay_report %s: %s" % (record, out.stderr))
        listed = json.loads(out.stdout)["threshold_runs"]
        got = [(round(r["program_ms"], 1), round(r["program_ci_ms"][0], 1), round(r["program_ci_ms"][1], 1))
               for r in listed]
        if got != [(est, low, high)]:
            raise SystemExit("FAIL: the report replays %s, the program said %s" % (got, (est, low, high)))


def main():
    headless, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    rate = int(sys.argv[sys.argv.index("--rate") + 1]) if "--rate" in sys.argv else 0
    # Three people with the same threshold: each run is a random draw, so the
    # runs are judged together, as the procedure's own error and coverage are.
    runs = [play(headless, os.path.join(work, "run%d" % seed), rate, seed) for seed in (1, 2, 3)]
    truth = true_threshold()
    estimates = sorted(r[0] for r in runs)
    covered = sum(1 for est, low, high, _ in runs if low <= truth <= high)
    if "--report" in sys.argv:
        check_report(os.path.abspath(sys.argv[sys.argv.index("--report") + 1]), runs)
    if abs(estimates[1] - truth) / truth > 0.2 or covered < 2:
        raise SystemExit("FAIL: thresholds %s ms: median not within 20 %% of the truth %.1f ms or fewer than two "
                         "intervals cover it" % ([r[:3] for r in runs], truth))
    print("ok: median %.1f ms against the truth %.1f ms, %d of 3 intervals cover it" % (estimates[1], truth, covered))


if __name__ == "__main__":
    main()
