#!/usr/bin/env bash
# Installs the build into a fresh DESTDIR under /usr and checks the tree:
# programs, desktop entries (desktop-file-validate), icons at every size
# and scalable, software-centre data (appstreamcli validate), compressed man
# pages (man finds and renders them), docs, copyright and changelog, the
# systemd unit (systemd-analyze verify accepts it), tmpfiles.d, sysusers.d
# and the service's settings file. Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
fail() { echo "install check: $*" >&2; exit 1; }
usr=$dest/usr
# The headless program splits the tree into two packages.
if [ -e "$build/kestrel-raid-monitor" ]; then
  docs=(share/doc/kestrel-raid-monitor share/doc/kestrel-raid-gui)
  pages=(kestrel-raid-gui kestrel-hybrid-gui kestrel-raid-monitor)
else
  docs=(share/doc/kestrel-raid-gui)
  pages=(kestrel-raid-gui kestrel-hybrid-gui)
fi
wanted=(bin/kestrel-raid-gui bin/kestrel-hybrid-gui
        lib/systemd/system/kestrel-raid-gui.service lib/tmpfiles.d/kestrel.conf lib/sysusers.d/kestrel.conf
        "${docs[0]}/README.md" "${docs[0]}/status.schema.json")
for d in "${docs[@]}"; do wanted+=("$d/copyright" "$d/changelog.gz"); done
for page in "${pages[@]}"; do wanted+=("share/man/man1/$page.1.gz"); done
for program in kestrel-raid-gui kestrel-hybrid-gui; do
  wanted+=("share/applications/$program.desktop" "share/icons/hicolor/scalable/apps/$program.svg")
  for size in 48 64 128 256; do wanted+=("share/icons/hicolor/${size}x$size/apps/$program.png"); done
done
for f in "${wanted[@]}"; do
  [ -e "$usr/$f" ] || fail "missing /usr/$f"
done
[ "$("$usr/bin/kestrel-raid-gui" --version)" = "RAID GUI V0.23.6" ] || fail "installed --version"

# Each icon is as large as the folder it sits in says.
for png in "$usr"/share/icons/hicolor/*x*/apps/*.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  got=$(od -An -j16 -N8 -tu1 "$png" | awk '{printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8}')
  [ "$got" = "$size" ] || fail "${png#"$dest"} is $got"
done
# Compressed as Debian's tools do it: no name or time stamp inside.
for gz in "$usr"/share/man/man1/*.gz "$usr"/share/doc/*/changelog.gz; do
  [ "$(od -An -j4 -N4 -tu4 "$gz" | tr -d ' ')" = 0 ] || fail "${gz#"$dest"} holds a time stamp"
  [ $(( $(od -An -j3 -N1 -tu1 "$gz") & 8 )) -eq 0 ] || fail "${gz#"$dest"} holds a file name"
done
# The changelog's newest entry is this version.
changelog_version=$(gzip -dc "$usr/${docs[0]}/changelog.gz" | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')
project_version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ "$changelog_version" = "$project_version" ] || fail "the changelog's newest entry is $changelog_version, not $project_version"
# The settings file holds comments only: the service sends no mail until
# the administrator puts settings there.
settings=$(find "$dest" -path '*/etc/kestrel/kestrel-raid-gui.ini')
[ -n "$settings" ] || fail "no etc/kestrel/kestrel-raid-gui.ini"
! grep -qv '^;\|^$' "$settings" || fail "the shipped settings file holds more than comments"

if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$usr"/share/applications/*.desktop 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  echo "install check: desktop-file-validate is not installed; desktop entries not validated" >&2
fi
if command -v appstreamcli >/dev/null; then
  out=$(appstreamcli validate --no-net --pedantic --explain "$usr"/share/metainfo/*.metainfo.xml 2>&1) ||
    fail "appstreamcli validate: $out"
  ! echo "$out" | grep -q '^[EWIP]:' || fail "appstreamcli validate: $out"
  for meta in "$usr"/share/metainfo/*.metainfo.xml; do
    desktop=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$meta")
    [ -e "$usr/share/applications/$desktop" ] || fail "${meta##*/} launches $desktop, which is not installed"
  done
else
  echo "install check: appstreamcli is not installed; software-centre data not validated" >&2
fi
if command -v man >/dev/null; then
  for page in "${pages[@]}"; do
    MANPATH="$usr/share/man" man -w "$page" >/dev/null || fail "man does not find $page"
    MANPATH="$usr/share/man" MANWIDTH=80 man -P cat "$page" 2>/dev/null | grep -q "status query exits" ||
      fail "man does not render $page"
  done
else
  echo "install check: man is not installed; man pages not rendered" >&2
fi
if command -v systemd-analyze >/dev/null; then
  # verify wants the unit's program where ExecStart names it: point it at
  # the installed copy.
  unit=$(mktemp -d)
  sed "s|/usr/bin/kestrel-raid-|$usr/bin/kestrel-raid-|" \
    "$usr/lib/systemd/system/kestrel-raid-gui.service" >"$unit/kestrel-raid-gui.service"
  out=$(systemd-analyze verify --man=no "$unit/kestrel-raid-gui.service" 2>&1) || { rm -rf "$unit"; fail "systemd-analyze verify: $out"; }
  [ -z "$out" ] || { rm -rf "$unit"; fail "systemd-analyze verify: $out"; }
  rm -rf "$unit"
else
  echo "install check: systemd-analyze is not installed; unit not verified" >&2
fi
grep -q '^d /run/kestrel 3775 root disk' "$usr/lib/tmpfiles.d/kestrel.conf" || fail "tmpfiles.d entry"
echo "install check: passed"
