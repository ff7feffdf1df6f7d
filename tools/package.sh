#!/usr/bin/env bash
# Makes the Debian packages from a build and checks them: tools/package.sh [BUILD_DIR]
# (build-release unless given; it must be built). Runs lintian on both packages,
# desktop-file-validate on the desktop entry and appstreamcli validate on the AppStream metadata
# as packaged. lintian's errors fail; its warnings and notes are printed (README: Install).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
(cd "$dir" && rm -f ./*.deb && cpack -G DEB >/dev/null)
debs=("$dir"/zolvex_*_amd64.deb "$dir"/zolvex-server_*_amd64.deb)
status=0
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "package: $deb missing" >&2; exit 1; }
  echo "--- $(basename "$deb")"
  dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
  dpkg-deb --contents "$deb" | awk '{print $1, $2, $NF}'
  echo "--- lintian $(basename "$deb")"
  # Errors fail; the tags the packages are known to carry are explained in packaging/lintian.md.
  lintian --fail-on error --tag-display-limit 0 "$deb" || status=1
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$dir"/zolvex_*_amd64.deb "$tmp"
echo "--- desktop-file-validate"
desktop-file-validate "$tmp"/usr/share/applications/*.desktop && echo "desktop entry: valid" || status=1
echo "--- appstreamcli validate"
appstreamcli validate --no-net --explain "$tmp"/usr/share/metainfo/*.metainfo.xml || status=1
exit $status
