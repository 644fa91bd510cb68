#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and compares what is there with what an
# installed KORVANT must hold: exactly these files, the two programs executable, the pages
# byte for byte (code page 1251 untouched), and a metainfo that matches its desktop entry.
#   install_tree.sh BUILD_DIR
set -euo pipefail
build=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=$(sort <<'LIST'
bin/korvant
libexec/korvant/korvant-launcher
share/applications/korvant.desktop
share/doc/korvant/changelog.gz
share/doc/korvant/copyright
share/icons/hicolor/scalable/apps/korvant.svg
share/korvant/Command
share/korvant/WEB/Command.html
share/korvant/WEB/Command1.html
share/korvant/WEB/MaxConnect.html
share/korvant/WEB/NoPage.html
share/korvant/WEB/index.html
share/korvant/WEB/index1.html
share/korvant/help/korvant.html
share/lintian/overrides/korvant
share/man/man1/korvant.1.gz
share/metainfo/org.korvant.korvant.metainfo.xml
LIST
)
found=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

diff <(echo "$expected") <(echo "$found") || fail "installed files differ from the list (< missing, > extra)"
for program in bin/korvant libexec/korvant/korvant-launcher; do
  [ -x "$prefix/$program" ] || fail "$program is not executable"
done
diff -r "$top/WEB" "$prefix/share/korvant/WEB" || fail "the installed page folder differs from WEB"
cmp "$top/Command" "$prefix/share/korvant/Command" || fail "the installed catalogue differs"
gzip -t "$prefix/share/man/man1/korvant.1.gz" || fail "the manual page is not gzip"
# The metainfo together with the desktop entry and icon that it names.
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree"

[ $failed -eq 0 ] && echo "install tree: ok"
exit $failed
