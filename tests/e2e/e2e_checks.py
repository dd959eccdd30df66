"""Log checks shared by the end-to-end scripts.

  e2e_checks.py order <log> <ok text> <wanted piece>...
      the pieces stand in the log in this order, and nothing failed;
  e2e_checks.py steps <log>
      20 step lines and a "delay = 2" result line whose percentage is the
      share of right steps;
  e2e_checks.py record <log> <results csv> <platform>
      the results record holds the header and one row per step line of the
      log, of one run at delay 2 and 60 Hz on this platform without a
      participant, judged as the log says;
  e2e_checks.py followup <log> <n> <current> <was> <width> <height>
      the log holds n window-state follow-ups, the n-th found the swap
      chain fullscreen or not (current), the presenter's last state (was)
      and the output size; the back buffers and the frame texture were all
      made again after it;
  e2e_checks.py threshold <log> <results csv> <exit code> <platform>
      a run ended by Q on its first step and one of three steps: two
      answer lines (0 and 3 steps), three step lines and three record rows
      of the threshold procedure at the logged N on this platform, and the
      program ended with 0;
  e2e_checks.py reference <run log> <script>
      writes the headless program's script that reaches the run's states:
      select and trial screens with any seed, the result screen with a seed
      and flips that give the run's 20 outcomes.
"""
import re
import sys

STEP = r"^(\d\d)/20 : (\(\^-\^\)|orz)$"


def order(log, ok, wanted):
    text = open(log).read()
    at = 0
    for w in wanted:
        i = text.find(w, at)
        if i < 0:
            print("FAIL: start-up log lacks, in order: %r" % w)
            print(text)
            return 1
        at = i + len(w)
    if "failed" in text:
        print("FAIL: start-up log reports a failure")
        return 1
    print("ok: " + ok)
    return 0


def steps(log):
    text = open(log).read()
    found = re.findall(STEP, text, re.M)
    if [int(s[0]) for s in found] != list(range(20)):
        print("FAIL: step lines %s" % found)
        return 1
    m = re.findall(r"^delay = (\d+), result = ([0-9.]+)%$", text, re.M)
    if len(m) != 1 or m[0][0] != "2":
        print("FAIL: result line %s" % m)
        return 1
    right = sum(1 for s in found if s[1] == "(^-^)")
    expected = "%f" % (right * 100.0 / 20)
    if m[0][1] != expected:
        print("FAIL: result %s%%, but %d of 20 right is %s%%" % (m[0][1], right, expected))
        return 1
    print("ok: 20 step lines, result %s%% = %d right of 20" % (expected, right))
    return 0


HEADER = ("run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,"
          "late_frames,max_interval_ms,frame_us,input,procedure,participant")
INPUTS = {"none", "keys", "joystick", "keys+joystick", "mouse", "keys+mouse", "joystick+mouse",
          "keys+joystick+mouse"}


def record(log, csv, platform):
    judged = ["1" if s[1] == "(^-^)" else "0" for s in re.findall(STEP, open(log).read(), re.M)]
    try:
        lines = open(csv, newline="").read().split("\n")
    except OSError as e:
        print("FAIL: no results record: %s" % e)
        return 1
    if lines[-1] != "" or lines[0] != HEADER:
        print("FAIL: results record header or last newline: %r ... %r" % (lines[0], lines[-1]))
        return 1
    rows = [l.split(",") for l in lines[1:-1]]
    names = set(r[0] for r in rows)
    bad = []
    for i, r in enumerate(rows):
        if len(r) != 15 or r[1] != platform or r[2] != "2" or r[3] != str(i) or r[4] not in "AB" \
                or r[5] not in "AB" or r[6] != ("1" if r[4] == r[5] else "0") \
                or not all(f.isdigit() for f in r[7:10]) or not re.match(r"^\d+\.\d{3}$", r[10]) \
                or r[11] != "16666" or r[12] not in INPUTS or r[13] != "fixed" or r[14] != "":
            bad.append(r)
    if len(rows) != 20 or [r[6] for r in rows] != judged or bad or len(names) != 1 \
            or not re.match(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$", rows[0][0]):
        print("FAIL: results record rows %s (log: %s; bad: %s)" % (rows, judged, bad))
        return 1
    late = sum(int(r[9]) for r in rows)
    print("ok: results record: 20 rows of run %s, judged as the log says (%d late frames)" % (rows[0][0], late))
    return 0


def followup(log, n, current, was, width, height):
    text = open(log).read()
    blocks = text.split("FollowUpCurrentWindowState\n")[1:]
    head = ("\tbCurrentFullScreen = %s\n\tm.bFullScreen = %s\n\tcurrentOutputSurfaceWidth = %s\n"
            "\tcurrentOutputSurfaceHeight = %s\n" % (current, was, width, height))
    rebuilt = ("s_pDxgiSwapChain->GetBuffer ... OK.\ns_pDxgiSwapChain->GetBuffer ... OK.\n"
               "s_pD3dDevice->CreateCommittedResource (s_pIntermediateSurface) ... OK.\n")
    if len(blocks) != n or not blocks[-1].startswith(head) or rebuilt not in blocks[-1]:
        print("FAIL: follow-up %d: want fullscreen %s (was %s) at %sx%s, rebuilt; the log has %d, the last:\n%s"
              % (n, current, was, width, height, len(blocks), blocks[-1] if blocks else ""))
        return 1
    print("ok: follow-up %d: fullscreen %s (was %s), %sx%s, back buffers and frame texture made again"
          % (n, current, was, width, height))
    return 0


def threshold(log, csv, rc, platform):
    text = open(log).read()
    answers = re.findall(r"^threshold (?:=|below|above) .*, (\d+) steps$", text, re.M)
    judged = re.findall(r"^threshold step (\d\d) : N = (\d+) : (?:\(\^-\^\)|orz)$", text, re.M)
    rows = [l.split(",") for l in open(csv).read().splitlines()[1:]]
    ok = rc == 0 and answers == ["0", "3"] and [int(s) for s, _ in judged] == [0, 1, 2] and len(rows) == 3 and \
        all(r[1] == platform and r[13] == "threshold" and r[2] == n for r, (_, n) in zip(rows, judged))
    if not ok:
        print("FAIL: threshold runs: exit code %d, answers %s, steps %s, rows %s" % (rc, answers, judged, rows))
        return 1
    print("ok: threshold runs: answers after %s steps, steps at N %s, %d record rows" %
          (" and ".join(answers), [n for _, n in judged], len(rows)))
    return 0


def reference(log, script):
    outcomes = [s[1] == "(^-^)" for s in re.findall(STEP, open(log).read(), re.M)]
    seed = 12345
    state = [seed, 362436069, 521288629, 88675123]

    def step():  # the program's xorshift128
        x, y, z, w = state
        t = (x ^ (x << 11)) & 0xFFFFFFFF
        state[:] = [y, z, w, (w ^ (w >> 19) ^ t ^ (t >> 8)) & 0xFFFFFFFF]
        return state[3] & 1

    lines = ["seed %d" % seed, "unpaced", "results off", "5 dump", "2 2", "12", "1 dump"]
    candidate = 0
    for right in outcomes:
        delayed = step()
        want = delayed if right else 1 - delayed
        if want != candidate:
            lines += ["1 space", "6"]
            candidate = want
        lines += ["1 enter", "6"]
    lines += ["4 dump"]
    open(script, "w").write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    what, args = sys.argv[1], sys.argv[2:]
    if what == "order":
        sys.exit(order(args[0], args[1], args[2:]))
    if what == "steps":
        sys.exit(steps(args[0]))
    if what == "record":
        sys.exit(record(args[0], args[1], args[2]))
    if what == "followup":
        sys.exit(followup(args[0], int(args[1]), *args[2:6]))
    if what == "threshold":
        sys.exit(threshold(args[0], args[1], int(args[2]), args[3]))
    if what == "reference":
        sys.exit(reference(args[0], args[1]))
    print("e2e_checks.py: unknown check %r" % what)
    sys.exit(2)
