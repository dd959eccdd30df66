#!/bin/sh
# The committed README example must be exactly what the program prints now.
#   check_example.sh path/to/qvdelay_report WORKDIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
rm -rf "$2"
sh "$root/tools/make_report_example.sh" "$1" "$2"
status=0
for f in example_report.txt example_report.svg; do
  if ! cmp -s "$2/$f" "$root/docs/$f"; then
    echo "docs/$f is stale: rerun tools/make_report_example.sh; difference:"
    diff "$root/docs/$f" "$2/$f" | head -n 20
    status=1
  fi
done
# The README quotes the text output verbatim.
sed -n '/^```text$/,/^```$/p' "$root/README.md" | sed '1d;$d' > "$2/quoted.txt"
if ! cmp -s "$2/quoted.txt" "$root/docs/example_report.txt"; then
  echo "README.md quotes a different report than docs/example_report.txt"
  status=1
fi
exit $status
