#!/usr/bin/env bash
# The launcher that the desktop entry starts, against temporary home folders: the first start
# makes the working folder with a copy of the installed page folder and sample catalogue and
# starts the program there with its arguments; what the operator already has stays as it is.
#   launcher.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cd "$root" # where a launcher that took a relative path would make its folder
prefix=$root/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
originals=$prefix/share/korvant
# In place of the program: a script that writes down where it was started and with what.
cat >"$prefix/bin/korvant" <<'PROGRAM'
#!/bin/sh
printf '%s\n' "$PWD" "$@" >"$HOME/started"
PROGRAM

failed=0
fail() { echo "FAIL ($case): $*"; failed=1; }

# start HOME [XDG_DATA_HOME]: the operator with that home folder picks KORVANT in the menu.
start() {
  if [ -n "${2:-}" ]; then
    HOME=$1 XDG_DATA_HOME=$2 "$prefix/libexec/korvant/korvant-launcher" -x "two words"
  else
    env -u XDG_DATA_HOME HOME="$1" "$prefix/libexec/korvant/korvant-launcher" -x "two words"
  fi
}

# expect_started HOME WORK: the program ran in WORK with the launcher's arguments.
expect_started() {
  [ "$(cat "$1/started" 2>/dev/null)" = "$(printf '%s\n' "$2" -x "two words")" ] ||
    fail "the program was not started in $2 with its arguments"
}

# The first start: a working folder with copies of the originals, wherever it belongs.
#   case | XDG_DATA_HOME (a name inside the home, or a relative path) | the working folder
while IFS='|' read -r case xdg work; do
  home=$root/$case
  mkdir -p "$home"
  case "$xdg" in "" | */*) ;; *) xdg=$home/$xdg ;; esac
  start "$home" "$xdg" || fail "the launcher failed"
  work=$home/$work
  diff -r "$originals/WEB" "$work/WEB" >/dev/null 2>&1 || fail "no copy of the page folder in $work"
  cmp -s "$originals/Command" "$work/Command" || fail "no copy of the catalogue in $work"
  [ -w "$work/Command" ] || fail "the operator cannot change the catalogue's copy"
  expect_started "$home" "$work"
done <<'CASES'
default||.local/share/korvant
xdg-data-home|data|data/korvant
relative-xdg-data-home|./data|.local/share/korvant
CASES
[ ! -e "$root/xdg-data-home/.local/share/korvant" ] || fail "made the default folder as well"

# The operator's own working folder: nothing in it is replaced or added to.
case=operator-files
home=$root/$case
work=$home/.local/share/korvant
mkdir -p "$work/WEB"
echo "the operator's catalogue" >"$work/Command"
echo "the operator's page" >"$work/WEB/index.html"
start "$home" || fail "the launcher failed"
[ "$(cat "$work/Command")" = "the operator's catalogue" ] || fail "the catalogue was overwritten"
[ "$(cat "$work/WEB/index.html")" = "the operator's page" ] || fail "a page was overwritten"
[ "$(ls "$work/WEB")" = index.html ] || fail "pages were added to the operator's page folder"
expect_started "$home" "$work"

# A second start after the operator has changed the copies keeps the changes.
case=second-start
home=$root/$case
work=$home/.local/share/korvant
mkdir -p "$home"
start "$home"
echo "changed" >"$work/Command"
echo "changed" >"$work/WEB/NoPage.html"
rm "$work/WEB/index1.html"
start "$home" || fail "the launcher failed"
[ "$(cat "$work/Command")" = changed ] || fail "the changed catalogue was overwritten"
[ "$(cat "$work/WEB/NoPage.html")" = changed ] || fail "a changed page was overwritten"
[ ! -e "$work/WEB/index1.html" ] || fail "a page that the operator removed came back"

[ $failed -eq 0 ] && echo "launcher: ok"
exit $failed
