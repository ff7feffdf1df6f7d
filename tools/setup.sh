#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the program need, then checks that
# every program the scripts and tests start is there under the name they call it, from a package
# of this list (a program that is only on the developer's machine by chance fails here, not in CI
# on a fresh machine).
# Idempotent: packages already present are skipped; apt-get update runs only when something is
# missing (a package, or the deb-src entry).
set -euo pipefail
pkgs=(
  build-essential binutils cmake ninja-build pkg-config git python3-minimal python3
  libsdl2-dev libsdl2-ttf-dev fonts-liberation2 fonts-dejavu-core fonts-urw-base35 fontconfig
  libturbojpeg0-dev libjpeg62-turbo-dev
  qt6-base-dev libcurl4-openssl-dev libmpg123-dev libmp3lame-dev libcairo2-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sox libsox-fmt-mp3 xvfb xdotool imagemagick imagemagick-6.q16 openbox wmctrl
  xdg-utils libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev zlib1g-dev wrk python3-aiosmtpd nginx
  openssl
  clang clang-14 libclang-rt-14-dev clang-format clang-tidy curl
  desktop-file-utils appstream lintian dpkg-dev dpkg postgresql-15 libpq-dev util-linux stress
  time systemd
  emscripten node-acorn nodejs
  chromium chromium-driver python3-selenium
)
# Every program that tools/, tests/, bench/ or the build start, with the package that provides it
# under that name. Keep it in step with what the scripts call.
declare -A programs=(
  [cmake]=cmake [ctest]=cmake [ninja]=ninja-build [git]=git [strip]=binutils
  [clang]=clang [clang++]=clang [clang-format]=clang-format [clang-tidy]=clang-tidy [curl]=curl
  [sox]=sox [soxi]=sox [xdg-open]=xdg-utils [Xvfb]=xvfb [xdotool]=xdotool [wrk]=wrk
  [openbox]=openbox [wmctrl]=wmctrl [import]=imagemagick-6.q16
  [python3]=python3-minimal [nginx]=nginx [openssl]=openssl [runuser]=util-linux
  [desktop-file-validate]=desktop-file-utils [appstreamcli]=appstream [lintian]=lintian
  [dpkg-deb]=dpkg [dpkg-shlibdeps]=dpkg-dev [setpriv]=util-linux [cpack]=cmake
  [stress]=stress [node]=nodejs [emcc]=emscripten [em++]=emscripten [emcmake]=emscripten
  [dpkg-source]=dpkg-dev [systemd-analyze]=systemd
  [chromium]=chromium [chromedriver]=chromium-driver
)
# Python modules that tests start with /usr/bin/python3 -m.
declare -A pymodules=([aiosmtpd]=python3-aiosmtpd [selenium]=python3-selenium)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The web build compiles the libraries it stands on from Debian's source packages
# (tools/web-deps.sh runs `apt-get source`): apt needs a deb-src entry to know them.
update=0
[ ${#missing[@]} -gt 0 ] && update=1
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  . /etc/os-release
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$VERSION_CODENAME" "$VERSION_CODENAME" | $SUDO tee /etc/apt/sources.list.d/zolvex-src.sources >/dev/null
  update=1
fi
if [ $update = 1 ]; then $SUDO apt-get update; fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The owner of a file as dpkg knows it (merged /usr: the package may have shipped it under /bin).
owner() {
  local f
  for f in "$1" "$(readlink -f "$1")" "${1/#\/usr/}"; do
    dpkg-query -S "$f" 2>/dev/null | head -1 | cut -d: -f1 && return 0
  done
  return 1
}
bad=0
# Only the system's folders: a tool in a personal PATH is not on a fresh machine.
syspath=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
for prog in "${!programs[@]}"; do
  want=${programs[$prog]}
  path=$(PATH=$syspath command -v "$prog" || true)
  if [ -z "$path" ]; then
    echo "setup: $prog is not installed (package $want)" >&2; bad=1; continue
  fi
  got=$(owner "$path" || true)
  if [ "$got" != "$want" ]; then
    echo "setup: $prog ($path) comes from '${got:-no package}', not from $want" >&2; bad=1
  fi
done
for mod in "${!pymodules[@]}"; do
  file=$(/usr/bin/python3 -c "import $mod; print($mod.__file__)" 2>/dev/null || true)
  got=$([ -n "$file" ] && owner "$file" || true)
  if [ "$got" != "${pymodules[$mod]}" ]; then
    echo "setup: python module $mod is not installed from ${pymodules[$mod]}" >&2; bad=1
  fi
done
# A package that provides a program must be in the list itself, not only present here.
for want in "${programs[@]}" "${pymodules[@]}"; do
  case " ${pkgs[*]} " in
    *" $want "*) ;;
    *) echo "setup: $want provides a program the scripts start but is not in the list" >&2; bad=1 ;;
  esac
done
exit $bad
