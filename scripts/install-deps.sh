#!/usr/bin/env bash
# Installs the Debian 12 packages the program, its tests, its fuzz targets and
# its benchmarks need, on any Debian 12, a minimal one included (what
# scripts/check-fresh-debian.sh proves). Only what is missing is installed; as
# root it runs apt-get itself, otherwise through sudo.
set -euo pipefail

packages=(
    git file ca-certificates
    cmake ninja-build g++ pkgconf ccache clang-format clang libclang-rt-14-dev libfuzzer-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libbenchmark-dev
    libpurple-dev libsasl2-modules ngircd prosody openssl
    libmicrohttpd-dev prometheus-cpp-dev libsodium-dev libsystemd-dev libcsv-dev nginx-light
    chromium chromium-driver python3-selenium
    fonts-dejavu-core fonts-liberation
    xvfb xauth
    dpkg-dev help2man systemd
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The servers public networks run, for the interop suites: unpacked beside the
# system, not installed (see the script).
bash "$(dirname "$0")/install-interop.sh"
