#!/usr/bin/env bash
# Builds the Debian package from a build tree into a folder of its own and checks what it
# holds, without installing it: the program, its menu entry and icon, no test programs,
# and the Debian packages it needs to run and open a window.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
  cat "$out/cpack.log"
  echo "cpack failed"
  exit 1
}
debs=("$out"/aquilevel_*.deb)
[ -f "${debs[0]}" ] || { cat "$out/cpack.log"; echo "no aquilevel_*.deb made"; exit 1; }
deb=${debs[0]}
echo "== $(basename "$deb")"
contents=$(dpkg-deb -c "$deb")
info=$(dpkg-deb -I "$deb")
echo "$contents"
echo "$info"

failed=0
fail() { echo "FAIL: $*"; failed=1; }
for path in ./usr/bin/aquilevel ./usr/share/applications/aquilevel.desktop \
            ./usr/share/applications/aquilevel-console.desktop \
            ./usr/share/icons/hicolor/scalable/apps/aquilevel.svg; do
  grep -qE " $path\$" <<<"$contents" || fail "missing $path"
done
grep -E '/tst_[^/]*$' <<<"$contents" && fail "holds a test program"
grep -E ' \./usr/bin/.' <<<"$contents" | grep -vE ' \./usr/bin/aquilevel$' && fail "holds another program"
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
for package in libqt6widgets6 'libsqlcipher[0-9]' libpq5 libcrypt1 qt6-qpa-plugins qt6-translations-l10n; do
  grep -qE "(^|, )$package" <<<"$depends" || fail "Depends lacks $package"
done
[ "$failed" -eq 0 ] && echo "package contents: OK"
exit "$failed"
