#!/bin/sh
# A program killed in the middle of a run leaves a results record the report
# reads whole, and a line cut short by a crash costs that line only.
#   results_crash.sh <qvdelay_headless> <qvdelay_report> <work folder>
set -u
headless=$1
report=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
record="$work/qvdelay_results.csv"

# Paced 20-step run at N = 3, killed once a few steps are in the record.
{
  echo "seed 99"
  echo "results $record"
  echo "10"
  echo "1 3"
  for _ in $(seq 20); do echo "3"; echo "1 enter"; echo "1"; done
} >killed.script
"$headless" killed.script . >killed.console 2>&1 &
pid=$!
rows=0
for _ in $(seq 400); do
  rows=$(($(wc -l <"$record" 2>/dev/null || echo 1) - 1))
  [ "$rows" -ge 5 ] && break
  sleep 0.02
done
kill -9 "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
rows=$(($(wc -l <"$record") - 1))
if [ "$rows" -lt 5 ] || [ "$rows" -ge 20 ]; then
  echo "FAIL: the killed run left $rows rows (want 5 to 19: killed mid-run)"
  exit 1
fi

# A crash in the middle of a line, then one more run of two steps.
printf '2026-12-09T07:00:00,headless,3,7,A' >>"$record"
{
  echo "seed 7"
  echo "unpaced"
  echo "results $record"
  echo "10"
  echo "1 4"
  for _ in $(seq 2); do echo "2"; echo "1 enter"; echo "1"; done
} >again.script
"$headless" again.script . >again.console 2>&1 || { echo "FAIL: second run"; exit 1; }

"$report" --json --no-svg "$record" >report.json 2>report.err
rc=$?
python3 - "$rows" report.json "$rc" <<'PY'
import json, sys
rows, rc = int(sys.argv[1]), int(sys.argv[3])
r = json.load(open(sys.argv[2]))
want = {3: rows, 4: 2}
got = {d["delay_frames"]: d["steps"] for d in r["delays"]}
if rc != 0 or r["steps"] != rows + 2 or r["malformed_lines"] != 1 or got != want:
    print("FAIL: report exit %d, steps %s, malformed %s, per N %s (want %d steps, 1 malformed, %s)"
          % (rc, r["steps"], r["malformed_lines"], got, rows + 2, want))
    sys.exit(1)
print("ok: killed after %d rows; the report reads %d steps and skips the one cut line" % (rows, rows + 2))
PY
