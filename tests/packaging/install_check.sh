#!/usr/bin/env bash
# Installs the build into a fresh DESTDIR under /usr and checks the tree:
# programs, desktop entries, icons, man pages (man finds and renders them),
# docs, the systemd unit (systemd-analyze verify accepts it), tmpfiles.d and
# sysusers.d. Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
fail() { echo "install check: $*" >&2; exit 1; }
for f in bin/kestrel-raid-gui bin/kestrel-hybrid-gui bin/kestrel-raid-monitor \
         share/applications/kestrel-raid-gui.desktop share/applications/kestrel-hybrid-gui.desktop \
         share/icons/hicolor/64x64/apps/kestrel-raid-gui.png share/icons/hicolor/64x64/apps/kestrel-hybrid-gui.png \
         share/man/man1/kestrel-raid-gui.1 share/man/man1/kestrel-hybrid-gui.1 \
         share/doc/kestrel-raid-gui/README.md share/doc/kestrel-raid-gui/status.schema.json \
         lib/systemd/system/kestrel-raid-gui.service lib/tmpfiles.d/kestrel.conf lib/sysusers.d/kestrel.conf; do
  [ -e "$dest/usr/$f" ] || fail "missing /usr/$f"
done
[ "$("$dest/usr/bin/kestrel-raid-gui" --version)" = "RAID GUI V0.23.6" ] || fail "installed --version"
if command -v man >/dev/null; then
  for page in kestrel-raid-gui kestrel-hybrid-gui; do
    MANPATH="$dest/usr/share/man" man -w "$page" >/dev/null || fail "man does not find $page"
    MANPATH="$dest/usr/share/man" MANWIDTH=80 man -P cat "$page" 2>/dev/null | grep -q "status query exits" ||
      fail "man does not render $page"
  done
else
  echo "install check: man is not installed; man pages not rendered" >&2
fi
if command -v systemd-analyze >/dev/null; then
  # verify wants the unit's program where ExecStart names it: point it at
  # the installed copy.
  unit=$(mktemp -d)
  sed "s|/usr/bin/kestrel-raid-monitor|$dest/usr/bin/kestrel-raid-monitor|" \
    "$dest/usr/lib/systemd/system/kestrel-raid-gui.service" >"$unit/kestrel-raid-gui.service"
  out=$(systemd-analyze verify --man=no "$unit/kestrel-raid-gui.service" 2>&1) || { rm -rf "$unit"; fail "systemd-analyze verify: $out"; }
  [ -z "$out" ] || { rm -rf "$unit"; fail "systemd-analyze verify: $out"; }
  rm -rf "$unit"
else
  echo "install check: systemd-analyze is not installed; unit not verified" >&2
fi
grep -q '^d /run/kestrel 3775 root disk' "$dest/usr/lib/tmpfiles.d/kestrel.conf" || fail "tmpfiles.d entry"
echo "install check: passed"
