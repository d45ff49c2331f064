#!/bin/bash
# Installs what building, testing and the demo need on Debian 12, when it is missing.
# Safe to run again: it does nothing once everything is there.
set -euo pipefail

PACKAGES=(cmake ninja-build g++ googletest libgtest-dev g++-mingw-w64-i686 mingw-w64-tools
          wine wine32:i386 wine64 xvfb xauth x11-apps x11-utils imagemagick python3 clang
          libclang-rt-14-dev curl ca-certificates locales)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing; run as root to install them: ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}" >&2
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
