#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, runs what a new
# operator runs first, checks the systemd units, and removes the package again.
#   scripts/check-package.sh [PRESET]   the build to package (default: package,
#                                       the release build under /usr)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-package}

bash scripts/install-deps.sh
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
rm -f "build/$preset"/valdrin-aim-server_*.deb
(cd "build/$preset" && cpack -G DEB >/dev/null)
deb=$(ls "build/$preset"/valdrin-aim-server_*.deb)
echo "== Package: $deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends):'

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq "./$deb" >/dev/null
trap '"${sudo_cmd[@]}" apt-get remove -y -qq valdrin-aim-server >/dev/null' EXIT

# What a person types first, over SSH, with no display.
env -u DISPLAY -u WAYLAND_DISPLAY valdrin-aim-serverd --version
env -u DISPLAY -u WAYLAND_DISPLAY valdrin-aim-serverd --help >/dev/null
env -u DISPLAY -u WAYLAND_DISPLAY valdrin-aim-server --version
test -f /usr/share/man/man1/valdrin-aim-serverd.1*
test -f /usr/share/applications/valdrin-aim-server.desktop

# The units; manual pages are checked above (man-db may not be installed).
systemd-analyze --man=no verify /usr/lib/systemd/system/valdrin-aim-serverd.service
systemd-analyze --man=no verify /usr/lib/systemd/system/valdrin-aim-serverd@.service
runtime=$(mktemp -d)
XDG_RUNTIME_DIR="$runtime" systemd-analyze --user --man=no verify /usr/lib/systemd/user/valdrin-aim-serverd.service
rm -rf "$runtime"
echo "== The package installs, runs, and its units verify"
