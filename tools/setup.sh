#!/bin/bash
# Installs what building, testing and the demo need on Debian (12 or 13), when it is
# missing. Safe to run again: it does nothing once everything is there.
set -euo pipefail

# The x86_64 compilers of both thread models build the 64-bit Windows leg (tests and its
# updater); wine64 is the only Wine loader a host without 32-bit execution can start.
PACKAGES=(cmake ninja-build g++ googletest libgtest-dev g++-mingw-w64-i686 gcc-mingw-w64-x86-64
          g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 mingw-w64-tools
          wine wine32:i386 wine64 xvfb xauth x11-apps x11-utils imagemagick python3 clang
          curl ca-certificates locales nginx squid python3-cryptography osslsigncode)

# The fuzz build links clang's own runtime (libFuzzer, sanitizers), which each release
# ships under the default clang's major version: libclang-rt-14-dev on Debian 12,
# libclang-rt-19-dev on Debian 13. Take the version from the installed clang, or else
# from what the release's clang package depends on.
clang_runtime() {
    local major=""
    if command -v clang >/dev/null; then
        major=$(readlink -f "$(command -v clang)" | sed -n 's|^/usr/lib/llvm-\([0-9][0-9]*\)/.*|\1|p')
    fi
    if [ -z "$major" ]; then
        major=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
    fi
    [ -n "$major" ] && echo "libclang-rt-$major-dev"
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for package in "${PACKAGES[@]}" $(clang_runtime || true); do
    is_installed "$package" || missing+=("$package")
done
# Without clang yet, its runtime's name is known only once the package lists are read.
command -v clang >/dev/null || missing+=(clang-runtime)
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing; run as root to install them: ${missing[*]}" >&2
    exit 1
fi

# nginx and squid are only ever run by the tests, as plain processes on their own
# loopback ports. Their packages would start system services on ports 80 and 3128;
# that fails in a chroot without an init system (and fails the install there) and is
# of no use here, so no service is started while this script installs. An existing
# policy (as in containers) is left alone.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q
runtime=$(clang_runtime) || { echo "setup: cannot tell which clang runtime this release ships" >&2; exit 1; }
missing=()
for package in "${PACKAGES[@]}" "$runtime"; do
    is_installed "$package" || missing+=("$package")
done
echo "setup: installing ${missing[*]}" >&2
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
