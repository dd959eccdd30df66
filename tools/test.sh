#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs the whole
# test suite: the Linux build (all labels), the unit and stress tests under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, the
# Windows cross build with its tests under Wine, the release packages (.deb,
# .tar.gz, .zip: contents, and the installed program's start-up), and each
# fuzz target for a minute. Ends with one line
# "N passed, M failed"; the exit code is 0 only when nothing failed.
#
#   tools/test.sh                 everything
#   QV_STAGES="linux windows" tools/test.sh   a subset of the stages
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/install_deps.sh test || { echo "dependency installation failed"; echo "0 passed, 1 failed"; exit 1; }

stages=${QV_STAGES:-"linux linux-asan linux-tsan windows package fuzz"}
jobs=$(nproc 2>/dev/null || echo 2)
total_pass=0
total_fail=0
summary=()
start_all=$(date +%s)

# Wine for the Windows tests: a throw-away prefix, no debug chatter.
export WINEDEBUG=-all
export WINEPREFIX=$(mktemp -d /tmp/qvdelay-wine.XXXXXX)
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT

mkdir -p build

# The names in the "The following tests FAILED:" list of ctest output $1.
failed_tests() {
  echo "$1" | sed -n '/The following tests FAILED:/,$p' | sed -nE 's/^[[:space:]]+[0-9]+ - ([A-Za-z0-9_]+) .*/\1/p'
}

# The whole record of test $2 in ctest's log file $1 (command, output, result).
test_output() {
  awk -v t="$2" '$0 ~ "^[0-9]+/[0-9]+ Testing: " t "$" { on = 1 }
    on { print }
    on && index($0, "\"" t "\" time elapsed") == 1 { exit }' "$1"
}

# True when a GoogleTest program's output $1 shows all its tests passed: the
# count it started with passed, and none failed.
every_test_passed() {
  local ran passed
  ran=$(sed -nE 's/^\[==========\] Running ([0-9]+) tests? from.*/\1/p' "$1" | tail -n 1)
  passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$1" | tail -n 1)
  [ -n "$ran" ] && [ "$ran" = "$passed" ] && ! grep -q '^\[  FAILED  \]' "$1"
}

run_stage() {
  local preset=$1 labels=$2
  local t0=$(date +%s)
  echo "=== $preset: configure and build ==="
  if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 || ! cmake --build --preset "$preset" -j "$jobs" >>"build/$preset.log" 2>&1; then
    tail -n 60 "build/$preset.log"
    echo "=== $preset: BUILD FAILED ==="
    total_fail=$((total_fail + 1))
    summary+=("$preset: build failed")
    return
  fi
  if [ "$preset" = windows ]; then
    # Create the Wine prefix once, before tests start side by side: two
    # first starts racing to create it make one of them fail.
    /usr/lib/wine/wine64 wineboot.exe --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w >/dev/null 2>&1
    # One server for the whole stage: test programs that end while the
    # server of the previous one is shutting down have been seen to hang in
    # Wine's process exit after all their tests passed.
    /usr/lib/wine/wineserver -p >/dev/null 2>&1
  fi
  echo "=== $preset: tests (${labels:-all labels}) ==="
  local args=(--test-dir "build/$preset" --output-on-failure -j "$jobs")
  [ -n "$labels" ] && args+=(-L "$labels")
  local out
  out=$(ctest "${args[@]}" 2>&1)
  local rc=$?
  [ "$preset" = windows ] && /usr/lib/wine/wineserver -k >/dev/null 2>&1
  echo "$out" | grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|Total Test time|\*\*\*|Failed|Error' | head -n 200
  local line pass fail tot
  line=$(echo "$out" | grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' | tail -n 1)
  if [ -n "$line" ]; then
    fail=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    tot=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    pass=$((tot - fail))
  elif echo "$out" | grep -q 'No tests were found'; then
    pass=0; fail=0
  else
    pass=0; fail=1
  fi
  # Every failed program keeps its whole output of this run, out of ctest's
  # log (a later run overwrites that log): build/<preset>/failed-<test>-run1.log.
  local failed_all t kept
  failed_all=$(failed_tests "$out")
  cp "build/$preset/Testing/Temporary/LastTest.log" "build/$preset/ctest-run1.log" 2>/dev/null
  for t in $failed_all; do
    kept="build/$preset/failed-$t-run1.log"
    test_output "build/$preset/ctest-run1.log" "$t" >"$kept"
    echo "--- $preset: $t failed; the end of its output (all of it: $kept) ---"
    tail -n 30 "$kept"
  done
  # The e2e tests time a real window system (Xvfb, and for Windows Wine's
  # software Vulkan). On a loaded 2-core VM their frame-pacing check can miss
  # by chance, so a failed e2e test gets one more run, reported as such.
  # Under Wine a test program that timed out gets one more run only when its
  # output shows every one of its tests passed: then it was Wine's process
  # exit that hung. One that had not finished its tests may be a deadlock,
  # and counts as it came, like every other failure.
  local retry="" timed_out
  retry=$(echo "$failed_all" | grep -E '_e2e$')
  if [ "$preset" = windows ]; then
    timed_out=$(echo "$out" | sed -n '/The following tests FAILED:/,$p' |
      sed -nE 's/^[[:space:]]+[0-9]+ - ([A-Za-z0-9_]+) \(Timeout\).*/\1/p')
    for t in $timed_out; do
      if every_test_passed "build/$preset/failed-$t-run1.log"; then
        retry=$(printf '%s\n%s' "$retry" "$t")
      else
        echo "--- $preset: $t timed out before all its tests passed: not run again ---"
      fi
    done
  fi
  retry=$(echo "$retry" | grep -v '^$' | sort -u)
  if [ -n "$retry" ] && [ "$fail" -gt 0 ]; then
    local names count again
    names=$(echo "$retry" | paste -sd'|')
    count=$(echo "$retry" | wc -l)
    echo "--- $preset: first run of $names failed; running it once more ---"
    again=$(ctest --test-dir "build/$preset" --output-on-failure -R "^($names)\$" 2>&1)
    echo "$again" | grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|FAIL' | head -n 40
    if echo "$again" | grep -q '100% tests passed'; then
      fail=$((fail - count))
      pass=$((pass + count))
      [ "$fail" -eq 0 ] && rc=0
      out=$(echo "$out" | sed '/The following tests FAILED:/,$d')
    else
      for t in $(failed_tests "$again"); do
        test_output "build/$preset/Testing/Temporary/LastTest.log" "$t" >"build/$preset/failed-$t-run2.log"
        echo "--- $preset: $t failed again (its output: build/$preset/failed-$t-run2.log) ---"
      done
    fi
  fi
  if [ "$rc" -ne 0 ] && [ "$fail" -eq 0 ]; then
    fail=1
  fi
  if [ "$fail" -ne 0 ]; then
    echo "--- $preset: output of the failed tests ---"
    echo "$out" | tail -n 250
  fi
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
  summary+=("$preset: $pass passed, $fail failed ($(( $(date +%s) - t0 )) s)")
}

# The long label: each libFuzzer target (clang) for a fixed time.
run_fuzz() {
  local t0=$(date +%s)
  echo "=== fuzz: each target for $1 s ==="
  local out
  out=$(bash tools/fuzz.sh "$1" 2>&1)
  local rc=$?
  echo "$out" | grep -E '^==|stat::number_of_executed_units|ERROR|SUMMARY' | head -n 40
  local ran failed
  ran=$(echo "$out" | grep -c '^== fuzz_.* for ')
  failed=$(echo "$out" | grep -c 'FAILED$')
  if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
    echo "$out" | tail -n 40
    failed=1
  fi
  total_pass=$((total_pass + ran - failed))
  total_fail=$((total_fail + failed))
  summary+=("fuzz: $((ran - failed)) passed, $failed failed ($(( $(date +%s) - t0 )) s)")
}

# The packages of the linux and windows builds (tools/check_packages.sh).
run_package() {
  local t0=$(date +%s)
  echo "=== package: .deb, .tar.gz, .zip ==="
  local out rc
  out=$(bash tools/check_packages.sh 2>&1)
  rc=$?
  echo "$out"
  local ok bad
  ok=$(echo "$out" | grep -c '^ok: ')
  bad=$(echo "$out" | grep -c '^FAIL: ')
  [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ] && bad=1
  total_pass=$((total_pass + ok))
  total_fail=$((total_fail + bad))
  summary+=("package: $ok passed, $bad failed ($(( $(date +%s) - t0 )) s)")
}

for s in $stages; do
  case "$s" in
    linux) run_stage linux "" ;;
    linux-asan) run_stage linux-asan "unit|stress" ;;
    linux-tsan) run_stage linux-tsan "unit|stress" ;;
    windows) run_stage windows "unit|stress|e2e" ;;
    package) run_package ;;
    fuzz) run_fuzz "${QV_FUZZ_SECONDS:-60}" ;;
    *) echo "unknown stage $s"; total_fail=$((total_fail + 1)) ;;
  esac
done

echo
echo "=== summary ($(( $(date +%s) - start_all )) s) ==="
for l in "${summary[@]}"; do echo "  $l"; done
echo "$total_pass passed, $total_fail failed"
[ "$total_fail" -eq 0 ]
