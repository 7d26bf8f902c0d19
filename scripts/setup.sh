#!/bin/bash
# Installs what the build and the tests need on a Debian 12 machine (as root); safe to run again, and whatever state
# the package mirror is in: a list that fails to download is retried, then the lists at hand are used.
set -u

packages=(
    cmake make g++ python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    googletest
    wine64 xvfb xauth x11-utils xdotool imagemagick fonts-arphic-uming locales
    iproute2 util-linux
    clang libclang-rt-14-dev
    openssl osslsigncode nsis curl zip unzip nginx-light xinetd chrony ntpsec-ntpdig
)

# A mirror mid-sync fails one index or another for a few minutes; what the other lists hold still installs.
update_lists() {
    local attempt
    for attempt in 1 2 3; do
        apt-get update -q && return 0
        [ "$attempt" = 3 ] || sleep $((attempt * 10))
    done
    echo "setup: apt-get update failed three times; going on with the package lists at hand"
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# Installs the named packages together, else each alone; prints the ones that could not be installed.
install_packages() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >&2 && return 0
    local package
    for package in "$@"; do
        installed "$package" || DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" >&2 || echo "$package"
    done
}

here=$(cd "$(dirname "$0")" && pwd)
missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
# The release build is 32-bit: where the kernel runs 32-bit x86 code, Debian's 32-bit Wine runs it as it ships.
want_wine32=
if "$here/runs_i386.sh"; then
    want_wine32=1
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
else
    echo "setup: this machine cannot run 32-bit x86 programs; the tests will use the x86-64 build"
fi

failed=()
if [ ${#missing[@]} -gt 0 ] || { [ -n "$want_wine32" ] && ! installed wine32:i386; }; then
    update_lists
    # nginx, xinetd and chrony serve the tests only, each started by its test: none is started as a service here (a
    # chrony service would set this machine's clock).
    own_policy=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod +x /usr/sbin/policy-rc.d
        own_policy=1
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "setup: installing ${missing[*]}"
        mapfile -t failed < <(install_packages "${missing[@]}")
    fi
    # 32-bit Wine needs its i386 libraries at the very versions of the amd64 ones, which a mirror mid-sync may lack.
    if [ -n "$want_wine32" ] && ! installed wine32:i386; then
        if [ -n "$(install_packages wine32:i386)" ]; then
            echo "setup: wine32:i386 cannot be installed now; the tests will use the x86-64 build and say so"
        fi
    fi
    [ -z "$own_policy" ] || rm -f /usr/sbin/policy-rc.d
fi
# Windows programs get code page 936 from a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
    sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null || echo "setup: locale-gen failed; Chinese window titles will not match"
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "setup: could not install ${failed[*]}, which the build or the tests need" >&2
    exit 1
fi
exit 0
