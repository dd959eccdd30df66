"""Log checks shared by the end-to-end scripts.

  e2e_checks.py order <log> <ok text> <wanted piece>...
      the pieces stand in the log in this order, and nothing failed;
  e2e_checks.py steps <log>
      20 step lines and a "delay = 2" result line whose percentage is the
      share of right steps;
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


def reference(log, script):
    outcomes = [s[1] == "(^-^)" for s in re.findall(STEP, open(log).read(), re.M)]
    seed = 12345
    state = [seed, 362436069, 521288629, 88675123]

    def step():  # the program's xorshift128
        x, y, z, w = state
        t = (x ^ (x << 11)) & 0xFFFFFFFF
        state[:] = [y, z, w, (w ^ (w >> 19) ^ t ^ (t >> 8)) & 0xFFFFFFFF]
        return state[3] & 1

    lines = ["seed %d" % seed, "unpaced", "5 dump", "2 2", "12", "1 dump"]
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
    if what == "reference":
        sys.exit(reference(args[0], args[1]))
    print("e2e_checks.py: unknown check %r" % what)
    sys.exit(2)
