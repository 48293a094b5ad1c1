#!/usr/bin/env bash
# Sets up the 32-bit Wine that runs the shipped i686 build, in CACHE only:
#
#   setup.sh CACHE
#
# - Debian trixie's i386 wine32, wine32-preloader and libwine with their
#   closure, fetched with an apt configuration of its own (the mirror the
#   machine's apt sources use, trixie suites) and unpacked with dpkg -x into
#   CACHE/root. The system's dpkg, its architectures, its packages and its
#   wine stay untouched. Trixie's Wine 10.0 is needed: bookworm's 8.0 loses
#   the 16-bit result of QT_Thunk.
# - Where the machine runs 32-bit code itself, nothing more: the programs
#   run natively (env.sh gives them the root's loader). Otherwise trixie's
#   qemu-i386 (package qemu-user) in CACHE/qemu, and one binfmt_misc handler
#   for i386 ELF only, so that Wine's own child processes run under it too.
# - A golden 32-bit prefix CACHE/prefix.golden, configured like the 64-bit
#   test prefix (virtual desktop; see env.sh for the environment).
#
# Each step leaves a mark and is skipped when it is there: a second run costs
# seconds. From scratch it fetches about 200 MB.
set -eu

cache=${1:?usage: setup.sh CACHE}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root="$cache/root"
suite=trixie
root_packages=(wine32 wine32-preloader libwine fonts-wine)

say() { echo "wine32 setup: $*"; }

# The Debian mirror of the machine's own apt sources (one-line and deb822
# forms), not its security archive.
debian_mirror() {
    {
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ } print $i, $(i + 1) }'
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk 'tolower($1) == "uris:" { uri = $2 } tolower($1) == "suites:" { print uri, $2 } /^$/ { uri = "" }'
    } | awk '$2 !~ /security/ && $1 ~ /^https?:/ { print $1; exit }'
}

# A private apt for architecture ARCH: its own sources list, state, cache
# and no parts of the system's configuration that name packages.
private_apt() {
    local arch=$1 tool=$2
    shift 2
    local d="$cache/apt/$arch"
    "$tool" -q \
        -o Dir::State="$d/state" -o Dir::State::status="$d/state/status" \
        -o Dir::Cache="$d/cache" \
        -o Dir::Etc::sourcelist="$d/sources.list" -o Dir::Etc::sourceparts="$d/parts" \
        -o Dir::Etc::preferences="$d/preferences" -o Dir::Etc::preferencesparts="$d/parts" \
        -o APT::Architecture="$arch" -o APT::Architectures::="$arch" \
        -o APT::Install-Recommends=false "$@"
}

prepare_apt() {
    local arch=$1 mirror=$2 d="$cache/apt/$1"
    mkdir -p "$d/state/lists/partial" "$d/cache/archives/partial" "$d/parts"
    touch "$d/state/status"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" >"$d/sources.list"
    private_apt "$arch" apt-get update >"$d/update.log" 2>&1 || { cat "$d/update.log" >&2; return 1; }
}

# dpkg -x runs no maintainer scripts; two of their steps matter here.
finish_root() {
    # libwine's postinst: zlib1.dll from libz-mingw-w64, marked as a Wine
    # builtin DLL ("Wine builtin DLL" and 16 NULs at byte 64).
    local in out
    in=$(ls "$root"/usr/i686-w64-mingw32/lib/zlib*.dll)
    out="$root/usr/lib/i386-linux-gnu/wine/i386-windows/$(basename "$in")"
    { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } >"$out"
    # libc's trigger: without the cache Wine finds no FreeType.
    [ -f "$root/etc/ld.so.conf" ] || echo 'include /etc/ld.so.conf.d/*.conf' >"$root/etc/ld.so.conf"
    ldconfig -r "$root"
}

fetch_root() {
    [ -f "$root/.complete" ] && return 0
    local mirror
    mirror=$(debian_mirror)
    [ -n "$mirror" ] || { say "no Debian mirror in /etc/apt" >&2; return 1; }
    say "fetching ${root_packages[*]} (i386, $suite) and their closure from $mirror"
    prepare_apt i386 "$mirror"
    private_apt i386 apt-get -y -d install "${root_packages[@]}" >"$cache/apt/i386/fetch.log" 2>&1 ||
        { cat "$cache/apt/i386/fetch.log" >&2; return 1; }
    rm -rf "$root"
    mkdir -p "$root/usr/lib" "$root/usr/bin" "$root/usr/sbin" "$root/etc"
    # Merged /usr as base-files lays it out: without lib -> usr/lib, qemu
    # takes the system's older /lib/ld-linux.so.2.
    ln -s usr/lib "$root/lib"
    ln -s usr/bin "$root/bin"
    ln -s usr/sbin "$root/sbin"
    local deb
    for deb in "$cache"/apt/i386/cache/archives/*.deb; do
        dpkg -x "$deb" "$root"
    done
    finish_root
    rm -f "$cache"/apt/i386/cache/archives/*.deb
    touch "$root/.complete"
}

fetch_qemu() {
    [ -x "$cache/qemu/qemu-i386" ] && return 0
    local mirror
    mirror=$(debian_mirror)
    say "fetching qemu-user (amd64, $suite) for its qemu-i386"
    prepare_apt amd64 "$mirror"
    mkdir -p "$cache/qemu"
    (cd "$cache/apt/amd64/cache/archives" && private_apt amd64 apt-get download qemu-user >/dev/null)
    dpkg-deb --fsys-tarfile "$cache"/apt/amd64/cache/archives/qemu-user_*.deb |
        tar -x -O ./usr/bin/qemu-i386 >"$cache/qemu/qemu-i386.part"
    chmod 755 "$cache/qemu/qemu-i386.part"
    mv "$cache/qemu/qemu-i386.part" "$cache/qemu/qemu-i386"
    rm -f "$cache"/apt/amd64/cache/archives/*.deb
}

binfmt=/proc/sys/fs/binfmt_misc
handler=wine32-i386

# True when this machine runs a 32-bit ELF itself (no handler of ours
# registered, none of anyone else's for i386 either).
runs_32bit_natively() {
    local entry
    for entry in "$binfmt"/*; do
        [ -f "$entry" ] || continue
        grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null && return 1
    done
    "$root/usr/lib/wine/wine-preloader" >/dev/null 2>&1
    [ $? -ne 126 ]
}

# One handler for i386 ELF executables (ET_EXEC and ET_DYN), flag F: the
# kernel opens qemu-i386 now, so it is found from any mount namespace.
register_qemu() {
    [ -d "$binfmt" ] || mkdir -p "$binfmt"
    [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ -f "$binfmt/$handler" ]; then
        grep -qxF "interpreter $cache/qemu/qemu-i386" "$binfmt/$handler" && return 0
        echo -1 >"$binfmt/$handler"
    fi
    printf '%s' ":$handler:M::\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$cache/qemu/qemu-i386:F" >"$binfmt/register"
    say "registered binfmt handler $handler -> $cache/qemu/qemu-i386"
}

# WINE32_ROUTE=qemu or native chooses; otherwise native where the machine
# runs 32-bit code (once the handler is registered, it takes every i386 ELF
# and the route stays qemu).
choose_route() {
    local route=${WINE32_ROUTE:-}
    if [ -z "$route" ]; then
        route=native
        if [ -f "$binfmt/$handler" ] || ! runs_32bit_natively; then
            route=qemu
        fi
    fi
    if [ "$route" = qemu ]; then
        fetch_qemu
        register_qemu
        echo qemu >"$cache/route"
    else
        # The root's loader under the name the programs ask for (env.sh).
        mkdir -p "$cache/native"
        ln -sfn "$root/usr/lib/i386-linux-gnu/ld-linux.so.2" "$cache/native/ld-linux.so.2"
        echo native >"$cache/route"
    fi
}

make_golden_prefix() {
    local golden="$cache/prefix.golden"
    [ -f "$golden/.complete" ] && return 0
    say "making the golden 32-bit prefix"
    rm -rf "$golden"
    # shellcheck source=env.sh
    . "$here/env.sh" "$cache"
    export WINEPREFIX="$golden"
    unset DISPLAY
    mkdir -p "$HOME"
    wine32_server
    wine32 wineboot -i </dev/null >"$cache/wineboot.log" 2>&1
    # Wine's own desktop window draws captions and delivers posted messages
    # at once, as in the 64-bit test prefix.
    wine32 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine32 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
    wine32_server -k
    wine32_server -w
    touch "$golden/.complete"
}

fetch_root
choose_route
make_golden_prefix
say "ready ($(cat "$cache/route")): $cache"
