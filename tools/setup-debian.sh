#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, only when something is missing.
set -eu
packages=(
    cmake ninja-build python3 openssl util-linux
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    nlohmann-json3-dev googletest
    g++ libboost-dev libssl-dev libsqlite3-dev libpq-dev postgresql libcurl4-openssl-dev
    wine wine64
    xvfb xdotool x11-apps x11-utils xauth imagemagick
    fonts-open-sans fonts-roboto-unhinted fonts-dejavu-core python3-fonttools
    clang-format
    nginx-light systemd dpkg-dev
    luajit lua-cjson curl unzip
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
