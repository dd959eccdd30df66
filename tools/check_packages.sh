#!/usr/bin/env bash
# Builds the release packages and checks them:
#   build/linux/packages/qvdelay_<version>_amd64.deb and
#   qvdelay-<version>-linux-x86_64.tar.gz: their file lists; the program
#   unpacked from the .deb into a scratch root (a folder the user cannot
#   write, as /usr/bin) starts with SDL's dummy video driver, writes its log
#   to ~/.local/state/qvdelay/ and ends with 0 on SIGTERM;
#   build/windows/packages/qvdelay-<version>-win64.zip: its file list.
#
#   tools/check_packages.sh [linux] [windows]   (default: both)
# Expects the presets configured and built (tools/test.sh does that first).
# Ends with one line per check, "ok: ..." or "FAIL: ..."; exit 0 when all pass.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
which=${*:-linux windows}
version=$(sed -nE 's/^project\(qvdelay VERSION ([0-9.]+) .*/\1/p' CMakeLists.txt)
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
work=$(mktemp -d /tmp/qvdelay-packages.XXXXXX)
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "files kept in $work"; fi
}
trap cleanup EXIT

# same_list <name> <expected file> <actual file>: the sorted lists are equal.
same_list() {
  if diff <(sort "$2") <(sort "$3") >"$work/$1.diff"; then
    pass "$1: the expected $(wc -l <"$2") files"
  else
    fail "$1: file list differs (< expected, > packaged):"
    cat "$work/$1.diff"
  fi
}

check_linux() {
  # cpack itself: the package target would first build every test as well.
  if ! { cmake --build build/linux --target qvdelay qvdelay_report && (cd build/linux && cpack); } >"$work/linux-package.log" 2>&1; then
    fail "linux: cpack failed"
    tail -n 30 "$work/linux-package.log"
    return
  fi
  local deb="build/linux/packages/qvdelay_${version}_amd64.deb"
  local tgz="build/linux/packages/qvdelay-${version}-linux-x86_64.tar.gz"
  local files="bin/qvdelay bin/qvdelay_report share/applications/qvdelay.desktop
share/icons/hicolor/scalable/apps/qvdelay.svg share/doc/qvdelay/README.md share/doc/qvdelay/LICENSE
share/doc/qvdelay/FONTS.txt"
  echo "$files" | tr ' ' '\n' | sed 's#^#./usr/#' >"$work/deb.expected"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' >"$work/deb.actual"
  same_list deb "$work/deb.expected" "$work/deb.actual"
  echo "$files" | tr ' ' '\n' | sed "s#^#qvdelay-${version}-linux-x86_64/#" >"$work/tgz.expected"
  tar -tzf "$tgz" | grep -v '/$' >"$work/tgz.actual"
  same_list tar.gz "$work/tgz.expected" "$work/tgz.actual"
  local control
  control=$(dpkg-deb -f "$deb" Package Version Depends)
  if echo "$control" | grep -qx "Version: $version" && echo "$control" | grep -q "libsdl2-2.0-0"; then
    pass "deb: version $version, depends on SDL2"
  else
    fail "deb: control fields: $control"
  fi

  # The menu entry starts the installed program by name and shows its icon.
  local root_dir="$work/root"
  dpkg-deb -x "$deb" "$root_dir"
  local desktop="$root_dir/usr/share/applications/qvdelay.desktop"
  if grep -qx "Exec=qvdelay" "$desktop" && grep -qx "Icon=qvdelay" "$desktop" && grep -qx "Type=Application" "$desktop" &&
    python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' \
      "$root_dir/usr/share/icons/hicolor/scalable/apps/qvdelay.svg" 2>/dev/null; then
    pass "deb: menu entry runs qvdelay with the qvdelay icon (well-formed SVG)"
  else
    fail "deb: menu entry or icon broken"
  fi
  # Its second action starts the program at the display's own rate.
  if grep -qx "Actions=native-rate;" "$desktop" && grep -qx "\[Desktop Action native-rate\]" "$desktop" &&
    grep -qx "Exec=qvdelay --rate native" "$desktop"; then
    pass "deb: menu action runs qvdelay --rate native"
  else
    fail "deb: menu action at the display's rate missing"
  fi
  if command -v desktop-file-validate >/dev/null 2>&1; then
    if desktop-file-validate "$desktop" >"$work/desktop.txt" 2>&1; then
      pass "deb: desktop-file-validate accepts the menu entry"
    else
      fail "deb: desktop-file-validate: $(cat "$work/desktop.txt")"
    fi
  fi

  # The installed program: /usr/bin is not the user's to write. As root
  # every folder is writable, so the program then runs as nobody.
  local bin="$root_dir/usr/bin"
  local out
  out=$("$bin/qvdelay" --version 2>&1)
  [ "$out" = "qvdelay $version" ] && pass "deb: qvdelay --version" || fail "deb: qvdelay --version printed '$out'"
  out=$("$bin/qvdelay_report" --version 2>&1)
  [ "$out" = "qvdelay $version" ] && pass "deb: qvdelay_report --version" || fail "deb: qvdelay_report --version printed '$out'"
  local home="$work/home"
  mkdir -p "$home"
  chmod 755 "$work" "$root_dir"
  chmod a-w "$bin"
  local as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chown 65534:65534 "$home"
  fi
  env -u XDG_STATE_HOME HOME="$home" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "${as_user[@]}" "$bin/qvdelay" \
    >"$work/console.txt" 2>&1 &
  app_pid=$!
  local log="$home/.local/state/qvdelay/app_log.txt" i
  for i in $(seq 200); do
    grep -q "FollowUpCurrentWindowState" "$log" 2>/dev/null && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -TERM "$app_pid" 2>/dev/null
  local rc=124
  for i in $(seq 200); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      wait "$app_pid"
      rc=$?
      break
    fi
    sleep 0.05
  done
  [ "$rc" -eq 124 ] && kill -KILL "$app_pid" 2>/dev/null
  app_pid=""
  if [ "$rc" -eq 0 ] && head -n 1 "$log" 2>/dev/null | grep -qx -- "--------------- AppInitialize ... ---------------" &&
    grep -q -- "--------------- AppFinalize ... ---------------" "$log" && [ ! -e "$bin/app_log.txt" ]; then
    pass "deb: the installed program ran, exit code 0, its log in ~/.local/state/qvdelay/"
  else
    fail "deb: installed program: exit code $rc, log $(ls "$home/.local/state/qvdelay" 2>&1)"
    cat "$work/console.txt"
  fi
  # The installed report finds the record there without being told.
  cp docs/example_results.csv "$home/.local/state/qvdelay/qvdelay_results.csv" 2>/dev/null
  if (cd "$work" && HOME="$home" XDG_STATE_HOME= "$bin/qvdelay_report" --no-svg 2>&1) | grep -q "^Read 1 file: .*qvdelay/qvdelay_results.csv"; then
    pass "deb: qvdelay_report reads the record in ~/.local/state/qvdelay/"
  else
    fail "deb: qvdelay_report did not find ~/.local/state/qvdelay/qvdelay_results.csv"
  fi
  chmod u+w "$bin"
}

check_windows() {
  # cpack itself: the package target would first build every test as well.
  if ! { cmake --build build/windows --target qvdelay qvdelay_report && (cd build/windows && cpack); } >"$work/windows-package.log" 2>&1; then
    fail "windows: cpack failed"
    tail -n 30 "$work/windows-package.log"
    return
  fi
  local zip="build/windows/packages/qvdelay-${version}-win64.zip"
  printf "qvdelay-%s-win64/%s\n" "$version" qvdelay.exe "$version" qvdelay_report.exe "$version" README.md \
    "$version" LICENSE "$version" FONTS.txt >"$work/zip.expected"
  python3 -c 'import sys, zipfile; print("\n".join(i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist() if not i.is_dir()))' \
    "$zip" >"$work/zip.actual" 2>&1
  same_list zip "$work/zip.expected" "$work/zip.actual"
}

for w in $which; do
  case "$w" in
    linux) check_linux ;;
    windows) check_windows ;;
    *) fail "unknown package set $w" ;;
  esac
done
[ "$failures" -eq 0 ] && echo "packages: all passed" || echo "packages: $failures failed"
[ "$failures" -eq 0 ]
