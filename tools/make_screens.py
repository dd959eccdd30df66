#!/usr/bin/env python3
"""Makes the README's pictures of the three screens with the headless
program: docs/screen_select.png (choosing the delay), docs/screen_trial.png
(a step of the test) and docs/screen_result.png (after 20 steps).

    tools/make_screens.py <qvdelay_headless> [output folder (default docs)]
    tools/make_screens.py --check <qvdelay_headless> <folder>
                       makes them in a scratch folder and compares them byte
                       for byte with the ones in <folder>; exit 1 when one
                       differs

The run is fixed (seed, inputs, a clock of exactly 60 frames per second), so
the pictures are the same on every machine; screens_test checks that the
committed ones are current."""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "fonts"))
import png  # noqa: E402

NAMES = ["screen_select.png", "screen_trial.png", "screen_result.png"]


def script():
    lines = ["seed 20261209", "unpaced", "steadyclock", "results off",
             "150", "1 dump",                     # select screen, frame rate settled
             "2 3", "40", "24 right", "12 up", "20", "1 dump"]  # delay 3, marker moved
    for step in range(20):
        if step % 3 == 1:
            lines += ["1 space", "8"]
        lines += ["6 left" if step % 2 else "6 right", "1 enter", "8"]
    lines += ["90", "1 dump"]
    return "\n".join(lines) + "\n"


def read_ppm(path):
    data = open(path, "rb").read()
    fields = data.split(maxsplit=4)
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("%s: not an 8-bit binary PPM" % path)
    width, height = int(fields[1]), int(fields[2])
    rgb = fields[4]
    rgba = bytearray(width * height * 4)
    rgba[0::4], rgba[1::4], rgba[2::4] = rgb[0::3], rgb[1::3], rgb[2::3]
    rgba[3::4] = b"\xff" * (width * height)
    return width, height, bytes(rgba)


def make(headless, out):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "screens.script")
        open(path, "w").write(script())
        # In the scratch folder: the program writes its app_log.txt there.
        run = subprocess.run([os.path.abspath(headless), path, work], cwd=work, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT)
        frames = sorted(f for f in os.listdir(work) if f.endswith(".ppm"))
        if run.returncode != 0 or len(frames) != len(NAMES):
            print("headless run failed (exit code %d, %d frames):\n%s" % (run.returncode, len(frames), run.stdout.decode()))
            return 1
        os.makedirs(out, exist_ok=True)
        for frame, name in zip(frames, NAMES):
            width, height, rgba = read_ppm(os.path.join(work, frame))
            open(os.path.join(out, name), "wb").write(png.encode_rgba(width, height, rgba))
    return 0


def check(headless, committed):
    with tempfile.TemporaryDirectory() as fresh:
        if make(headless, fresh) != 0:
            return 1
        stale = [n for n in NAMES if not os.path.exists(os.path.join(committed, n))
                 or open(os.path.join(fresh, n), "rb").read() != open(os.path.join(committed, n), "rb").read()]
    for name in stale:
        print("FAIL: %s differs from the program's screen; run tools/make_screens.py <qvdelay_headless>" % name)
    if not stale:
        print("ok: %s equal the program's screens" % ", ".join(NAMES))
    return 1 if stale else 0


def main():
    args = sys.argv[1:]
    if args[:1] == ["--check"] and len(args) == 3:
        return check(args[1], args[2])
    if len(args) not in (1, 2) or args[0].startswith("-"):
        print(__doc__)
        return 2
    return make(args[0], args[1] if len(args) == 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs"))


if __name__ == "__main__":
    sys.exit(main())
