#!/usr/bin/env bash
# Makes the Debian packages from a build and checks them: tools/package.sh [BUILD_DIR]
# (build-release unless given; it must be built). Runs lintian on both packages,
# desktop-file-validate on the desktop entry and appstreamcli validate --pedantic on the AppStream
# metadata as packaged (without the network check unless PACKAGE_NET=1: CI has no network), and
# checks the server's unit and maintainer scripts:
# - systemd-analyze verify in a root that holds only the package, the shell and systemd's own
#   units (what a minimal system has), and systemd-analyze security at 2.0 or better;
# - install, `systemctl enable`, remove and purge through the maintainer scripts into a scratch
#   root (DPKG_ROOT): the purge leaves no link and no state;
# - with systemd running (a mount namespace with /run/systemd/system, stand-ins for
#   deb-systemd-invoke and systemctl that record their calls): a removal stops the server, an
#   upgrade restarts it, an installation starts nothing;
# - the packaged server finds its pages by itself, and the packaged verifier reaches the figures
#   pinned for the recorded games.
# lintian's errors fail; its warnings and notes are printed (README: Install).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
(cd "$dir" && rm -f ./*.deb && cpack -G DEB >/dev/null)
debs=("$dir"/zolvex_*_amd64.deb "$dir"/zolvex-server_*_amd64.deb)
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
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
game=$tmp/game
server=$tmp/server
dpkg-deb -x "$dir"/zolvex_*_amd64.deb "$game"
dpkg-deb -x "$dir"/zolvex-server_*_amd64.deb "$server"
dpkg-deb -e "$dir"/zolvex-server_*_amd64.deb "$tmp/server-control"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$dir/CMakeCache.txt"; }
web_site=$(cache ZOLVEX_WEB_SITE)
game_server=$(cache ZOLVEX_GAME_SERVER)

echo "--- desktop-file-validate"
desktop-file-validate "$game"/usr/share/applications/*.desktop && echo "desktop entry: valid" || status=1
# Qt names the launcher's window class after the application name (the executable's name when
# none is set); the desktop entry must name the same, or docks do not match the window to it.
wm_class=$(sed -n 's/.*setApplicationName(QStringLiteral("\([^"]*\)")).*/\1/p' app/main.cpp)
grep -qx "StartupWMClass=${wm_class:-zolvex}" "$game"/usr/share/applications/*.desktop ||
  fail "the desktop entry's StartupWMClass is not the launcher's window class ${wm_class:-zolvex}"

echo "--- appstreamcli validate --pedantic"
metainfo=("$game"/usr/share/metainfo/*.metainfo.xml)
net=(--no-net)
[ "${PACKAGE_NET:-0}" = 1 ] && net=()
appstreamcli validate --pedantic "${net[@]}" --explain "${metainfo[@]}" || status=1
# The homepage is the configured web site, in the metadata and in the packages' control fields;
# every screenshot is a picture the server package serves under the configured game server.
homepage="https://$web_site/"
grep -q "<url type=\"homepage\">$homepage</url>" "${metainfo[@]}" ||
  fail "the AppStream homepage is not $homepage"
for deb in "${debs[@]}"; do
  [ "$(dpkg-deb -f "$deb" Homepage)" = "$homepage" ] || fail "$(basename "$deb"): Homepage is not $homepage"
done
shots=$(sed -n 's:.*<image[^>]*>\(.*\)</image>.*:\1:p' "${metainfo[@]}")
[ -n "$shots" ] || fail "no screenshot in the AppStream metadata"
for url in $shots; do
  prefix="https://$game_server/zvxinternal/"
  case "$url" in
    "$prefix"*) ;;
    *) fail "screenshot $url is not on the game server ($prefix)"; continue ;;
  esac
  file=$server/usr/share/zolvex-server/pages/${url#"$prefix"}
  if file "$file" 2>/dev/null | grep -q 'PNG image data, 800 x 600'; then
    echo "screenshot served: $url"
  else
    fail "screenshot $url: the server package has no 800x600 PNG at ${file#"$server"}"
  fi
done

echo "--- the server's unit"
units=$server/usr/lib/systemd/system
unit=zolvex-server.service
[ -f "$units/$unit" ] || fail "$unit missing from the server package"
# verify looks for every command in the root: a root of the package, the shell (essential) and
# systemd's units is what a minimal system offers.
root=$tmp/verify
cp -a "$server" "$root"
mkdir -p "$root/bin" "$root/usr/lib/systemd/system"
cp /bin/sh "$root/bin/sh"
cp /usr/lib/systemd/system/*.target "$root/usr/lib/systemd/system/"
if systemd-analyze verify --man=no --root="$root" "$unit"; then echo "$unit: verified"; else fail "systemd-analyze verify $unit"; fi
exposure() { systemd-analyze security --offline=true "$1" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p'; }
for u in "$units/$unit" "$server"/usr/share/doc/zolvex-server/examples/zolvex-server@.service; do
  score=$(exposure "$u")
  echo "$(basename "$u"): exposure $score"
  awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 2.0) }' || fail "$(basename "$u") exposure ${score:-unknown} above 2.0"
done

# The packaged server under the sandbox's system call filter: run from the package as an unprivileged
# user (as the unit's dynamic user is) under strace, it serves its pages and a screenshot, reloads and
# stops; every call it makes must be one @system-service allows and @privileged does not, and no
# mapping may be writable and executable (MemoryDenyWriteExecute).
syscalls() {
  systemd-analyze syscall-filter "$1" | sed 1d | grep -v '^ *#' | tr -s ' ' '\n' | grep -v '^$' |
    while read -r w; do case "$w" in @*) syscalls "$w" ;; *) echo "$w" ;; esac; done
}
if command -v strace >/dev/null && command -v curl >/dev/null; then
  run_dir=$tmp/run
  chmod 755 "$tmp"
  mkdir -p "$run_dir" && chmod 777 "$run_dir"
  as_user=()
  [ "$(id -u)" = 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  port=$((20000 + RANDOM % 20000))
  pages=$server/usr/share/zolvex-server/pages
  strace -f -qq -o "$run_dir/trace" "${as_user[@]}" "$server/usr/bin/zolvex-server" \
    --listen 127.0.0.1:$port --data "$run_dir/data" --pages "$pages" \
    --level "$server/usr/share/zolvex-server/Level1.txt" --quiet 2>"$run_dir/log" &
  tracer=$!
  for _ in $(seq 100); do curl -sf -o /dev/null "http://127.0.0.1:$port/zvxinternal/" && break; sleep 0.1; done
  served=0
  for path in /zvxinternal/ /zvxinternal/highscore.html /zvxinternal/screenshots/game.png /metrics; do
    curl -sf -o /dev/null "http://127.0.0.1:$port$path" && served=$((served + 1))
  done
  pid=$(pgrep -n -P "$tracer" || echo "$tracer")
  kill -HUP "$pid"
  sleep 0.5
  curl -sf -o /dev/null "http://127.0.0.1:$port/zvxinternal/" && served=$((served + 1))
  kill -TERM "$pid"
  wait "$tracer" || true
  [ $served = 5 ] || fail "the packaged server answered $served of 5 requests ($(tail -3 "$run_dir/log"))"
  # Calls after the program's own start (the user switch before it is setpriv's).
  awk -v exe="$server/usr/bin/zolvex-server" 'index($0, "execve(\"" exe "\"") { on = 1 } on' "$run_dir/trace" |
    sed -E 's/^[0-9]+ +//; s/^<\.\.\. ([a-z0-9_]+) resumed>.*/\1/; s/^([a-z0-9_]+)\(.*/\1/' |
    grep -E '^[a-z0-9_]+$' | sort -u >"$run_dir/used"
  syscalls @system-service | sort -u >"$run_dir/allowed"
  syscalls @privileged | sort -u >"$run_dir/denied"
  outside=$(comm -23 "$run_dir/used" "$run_dir/allowed" | tr '\n' ' ')
  privileged=$(comm -12 "$run_dir/used" "$run_dir/denied" | tr '\n' ' ')
  wx=$(grep -c 'PROT_WRITE|PROT_EXEC\|PROT_EXEC|PROT_WRITE' "$run_dir/trace" || true)
  if [ -z "$outside$privileged" ] && [ "$wx" = 0 ]; then
    echo "sandbox: the server made $(wc -l <"$run_dir/used") kinds of system call, all allowed; no writable code"
  else
    fail "sandbox: calls outside @system-service: ${outside:-none}; in @privileged: ${privileged:-none}; writable code mappings: $wx"
  fi
else
  echo "sandbox: the server's system calls not checked (no strace or curl here)"
fi

echo "--- the server's maintainer scripts"
for s in postinst prerm postrm; do
  [ -x "$tmp/server-control/$s" ] || fail "the server package has no executable $s"
done
# Install, enable, remove, purge in a scratch root, as dpkg runs the scripts.
maint=$tmp/maint
cp -a "$server" "$maint"
run() { DPKG_ROOT=$maint DPKG_MAINTSCRIPT_PACKAGE=zolvex-server sh "$tmp/server-control/$1" "${@:2}"; }
run postinst configure ''
wants=$maint/etc/systemd/system/multi-user.target.wants
mkdir -p "$wants"
ln -s /usr/lib/systemd/system/$unit "$wants/$unit"  # systemctl enable zolvex-server
run prerm remove
rm "$maint/usr/lib/systemd/system/$unit"  # dpkg removes the package's files between the two
run postrm remove
run postrm purge
left=$(cd "$maint" && find etc/systemd var/lib/systemd \( -type l -o -type f \) 2>/dev/null | grep zolvex || true)
if [ -z "$left" ]; then echo "purge: no link or state left"; else fail "purge left: $left"; fi

# With systemd running: the calls the scripts make.
fake=$tmp/fakebin
mkdir -p "$fake"
for tool in deb-systemd-invoke systemctl deb-systemd-helper; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/calls"\n' "$tool" "$tmp" > "$fake/$tool"
  chmod +x "$fake/$tool"
done
calls() {
  : > "$tmp/calls"
  unshare -rm sh -c 'mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system &&
    PATH="$0:$PATH" DPKG_MAINTSCRIPT_PACKAGE=zolvex-server sh "$@"' "$fake" "$tmp/server-control/$1" "${@:2}"
  grep -E '^deb-systemd-invoke' "$tmp/calls" || true
}
if unshare -rm true 2>/dev/null; then
  [ "$(calls prerm remove)" = "deb-systemd-invoke stop $unit" ] || fail "prerm remove does not stop the server"
  [ -z "$(calls prerm upgrade 1.10-1)" ] || fail "prerm upgrade stops the server"
  [ "$(calls postinst configure 1.10-1)" = "deb-systemd-invoke restart $unit" ] ||
    fail "postinst does not restart the server after an upgrade"
  [ -z "$(calls postinst configure '')" ] || fail "postinst starts the server at installation"
  echo "maintainer scripts: stop at removal, restart after an upgrade, nothing started at installation"
else
  echo "maintainer scripts with systemd running: not checked (no unshare -rm here)"
fi

# The packaged server started with no folders given serves the package's pages, game and level,
# not the build machine's.
echo "--- the packaged server's own folders"
"$server/usr/bin/zolvex-server" --listen 127.0.0.1:0 --data "$tmp/data" --quiet 2>"$tmp/server.log" &
spid=$!
until grep -q serving "$tmp/server.log" || ! kill -0 $spid 2>/dev/null; do sleep 0.05; done
kill $spid 2>/dev/null || true
wait $spid 2>/dev/null || true
if grep -q "pages $server/usr/share/zolvex-server/pages;" "$tmp/server.log"; then
  echo "serving the package's pages"
else
  fail "the packaged server does not serve the package's pages: $(head -n 3 "$tmp/server.log")"
fi

# The packaged verifier is the optimised, stripped build's, on the game files the package installs
# for it: the recorded games must give exactly what the plain and sanitizer builds' tests pin.
echo "--- the packaged verifier on the recorded games"
for replay in tests/autoplay/golden/game.replay tests/verify/pinned/*.replay; do
  expected=${replay%.replay}.expected
  [ "$replay" = tests/autoplay/golden/game.replay ] && expected=tests/verify/pinned/golden.expected
  if "$server/usr/bin/zolvex-verify" "$replay" 2>"$tmp/verify.err" | cmp -s - "$expected" &&
    [ ! -s "$tmp/verify.err" ]; then
    echo "$(basename "$replay"): $(grep -E '^score ' "$expected")"
  else
    fail "the packaged verifier does not reach $expected quietly: $(head -c 300 "$tmp/verify.err")"
  fi
done
exit $status
