#!/bin/sh
# Runs a built qvdelay_report on docs/example_results.csv and writes
# example_report.txt and example_report.svg (into docs/, or OUTDIR). Builds
# nothing. The program runs inside OUTDIR on a copy of the results file, so
# the paths it prints are the same wherever the output goes.
#
#   tools/make_report_example.sh path/to/qvdelay_report [OUTDIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
out=${2:-$root/docs}
mkdir -p "$out"
if [ "$out" != "$root/docs" ]; then cp "$root/docs/example_results.csv" "$out/example_results.csv"; fi
cd "$out"
"$bin" example_results.csv --svg example_report.svg > example_report.txt
