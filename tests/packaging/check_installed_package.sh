#!/usr/bin/env bash
# Checks the installed korvant package on a brand-new machine (run as root by
# `scripts/package --check` after the package is installed there): with nothing left but what
# the package brings, the desktop entry's launcher makes the working folder and starts
# KORVANT, whose main window shows under a virtual display; `apt-get remove` then leaves none
# of its files behind.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
fail() { echo "installed package: FAIL: $*" >&2; exit 1; }
ischroot || fail "this check removes packages: it runs only in the throwaway system of --check"
dpkg-query -W -f='${Status}' korvant | grep -q 'install ok installed' || fail "korvant is not installed"

# A virtual display and a window lister for this check; then every package that came for the
# build goes, so a run-time need that the package does not name makes the start fail here.
apt-get install -y -qq --no-install-recommends xvfb xauth x11-utils >/dev/null
base=$(dpkg-query -W -f='${Package} ${Priority}\n' | awk '$2 == "required" || $2 == "important" {print $1}')
build_only=$(apt-mark showmanual | grep -v -x -F -e korvant -e xvfb -e xauth -e x11-utils $(printf -- '-e %s ' $base))
before=$(dpkg -l | grep -c '^ii')
apt-mark auto $build_only >/dev/null
apt-get autoremove --purge -y -qq >/dev/null
! command -v c++ >/dev/null || fail "the build's packages are still there"
echo "installed package: $before packages, $(dpkg -l | grep -c '^ii') left without the build's"

# The operator picks KORVANT in the menu: the desktop entry's command, in a new home folder.
launcher=$(sed -n 's/^Exec=//p' /usr/share/applications/korvant.desktop)
export HOME=$(mktemp -d)
log=$HOME/korvant.log
# Started under a virtual display; the main window is found by its caption, mapped on the
# screen, within 20 s.
KORVANT_HTTP_PORT=18080 xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  "$0" >"$1" 2>&1 & program=$!
  for _ in $(seq 100); do
    xwininfo -name " KORVANT V.3.0" 2>/dev/null | grep -q "Map State: IsViewable" && shown=1 && break
    sleep 0.2
  done
  kill $program
  [ -n "${shown:-}" ]' "$launcher" "$log" || { cat "$log"; fail "no main window within 20 s"; }
echo "installed package: the main window showed"

work=$HOME/.local/share/korvant
diff -r /usr/share/korvant/WEB "$work/WEB" || fail "no copy of the page folder in $work"
cmp /usr/share/korvant/Command "$work/Command" || fail "no copy of the catalogue in $work"
echo "installed package: the launcher made $work"

files=$(dpkg -L korvant | while read -r path; do [ -d "$path" ] || echo "$path"; done)
apt-get remove -y -qq korvant >/dev/null
dpkg-query -W -f='${Status}' korvant 2>/dev/null | grep -q 'install ok installed' && fail "still installed"
for path in $files; do [ ! -e "$path" ] || fail "$path is left after removal"; done
echo "installed package: apt-get remove left none of its $(echo "$files" | wc -l) files"
