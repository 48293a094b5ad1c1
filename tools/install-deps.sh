#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Run as root on Debian 12.
set -eu
packages=(
    cmake ninja-build python3
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    googletest
    # Without its preloader, wine64 now and then finds the address of the
    # shared user data already taken when it starts ("failed to map the
    # shared user data: c0000018") and ends before the program runs.
    wine wine64 wine64-preloader xvfb fonts-wine
    imagemagick
    nasm
    # Wine takes the code page of a program from its locale: the scenarios of
    # localized Windows run under these (tests/scenarios, "locale").
    locales
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Japanese 932 (trail bytes that look like a backslash), Russian 1251 (OEM
# 866) and Korean 949.
for locale in ja_JP ru_RU ko_KR; do
    locale -a | grep -qx "${locale}.utf8" || localedef -i "$locale" -f UTF-8 "${locale}.UTF-8"
done
