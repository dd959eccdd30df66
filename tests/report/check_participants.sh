#!/bin/sh
# Participant sections and --participant, through the built program.
#   check_participants.sh path/to/qvdelay_report WORKDIR
set -u
bin=$1
rm -rf "$2" && mkdir -p "$2" && cd "$2" || exit 1
status=0
fail() { echo "FAIL: $1"; status=1; }
# bob 3 steps, no name 2 steps, alice 1 step; names out of order on purpose.
{
  echo "run_started,platform,delay_frames,step,delayed,submitted,correct,flips,step_frames,late_frames,max_interval_ms,frame_us,input,procedure,participant"
  for s in 0 1 2; do echo "2026-12-10T10:00:00,linux,4,$s,A,A,1,3,412,0,17.0,16666,keys,fixed,bob"; done
  for s in 0 1; do echo "2026-12-10T10:01:00,linux,3,$s,A,A,1,3,412,0,17.0,16666,,fixed,"; done
  echo "2026-12-10T10:02:00,linux,5,0,A,B,0,3,412,0,8.4,8333,mouse,fixed,alice"
} > r.csv

"$bin" --no-svg r.csv > all.txt || fail "report of three participants exited $?"
heads=$(grep '^Participant: ' all.txt | tr '\n' '|')
[ "$heads" = "Participant: (none)|Participant: alice|Participant: bob|" ] || fail "section heads: $heads"
grep -q '^6 steps in 3 runs by 3 participants; 0 malformed lines skipped\.$' all.txt || fail "summary line"
# Each section is a whole report: its own table and its own advice.
[ "$(grep -c '^Next: run N' all.txt)" = 3 ] || fail "not one 'Next' per section"
sed -n '/^Participant: bob$/{n;p;}' all.txt | grep -q '^3 steps in 1 runs\.$' || fail "bob's section does not count his 3 steps"

"$bin" --no-svg --participant bob r.csv > bob.txt || fail "--participant bob exited $?"
[ "$(sed -n 3,4p bob.txt | tr '\n' '|')" = "Participant: bob|3 steps in 1 runs; 0 malformed lines skipped.|" ] ||
  fail "filtered head: $(sed -n 3,4p bob.txt)"
grep -q 'alice\|(none)' bob.txt && fail "--participant bob shows other rows"

"$bin" --no-svg --participant 'bo b' r.csv > /dev/null 2> bad.txt
rc=$?
[ $rc = 2 ] || fail "bad --participant name exited $rc, not 2"
grep -q 'bo b' bad.txt || fail "bad name not named on stderr"
"$bin" --no-svg r.csv --participant > /dev/null 2>&1
rc=$?
[ $rc = 2 ] || fail "--participant without a name exited $rc, not 2"
"$bin" --no-svg --participant carol r.csv > /dev/null 2>&1
rc=$?
[ $rc = 1 ] || fail "--participant with no rows exited $rc, not 1"
[ $status = 0 ] && echo "participant checks passed"
exit $status
