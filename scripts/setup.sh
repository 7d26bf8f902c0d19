#!/bin/bash
# Installs what the build and the tests need on a Debian 12 machine (as root); safe to run again.
set -eu

packages=(
    cmake make g++ python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    googletest
    wine64 xvfb xauth x11-utils xdotool imagemagick fonts-arphic-uming locales
    iproute2 util-linux
    clang libclang-rt-14-dev
    openssl osslsigncode nsis curl zip unzip nginx-light xinetd chrony
)

# The release build is 32-bit: where the kernel runs 32-bit x86 code, Debian's 32-bit Wine runs it as it ships.
here=$(cd "$(dirname "$0")" && pwd)
if "$here/runs_i386.sh"; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        apt-get update -q
    fi
    packages+=(wine32:i386)
else
    echo "setup: this machine cannot run 32-bit x86 programs; the tests will use the x86-64 build"
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get update -q
    # nginx, xinetd and chrony serve the tests only, each started by its test: none is started as a service here (a
    # chrony service would set this machine's clock).
    own_policy=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod +x /usr/sbin/policy-rc.d
        own_policy=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    [ -z "$own_policy" ] || rm -f /usr/sbin/policy-rc.d
fi

# Windows programs get code page 936 from a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi
