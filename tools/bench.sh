#!/usr/bin/env bash
# Benchmarks of setup.exe under Wine on this machine. Every figure is a
# ratio of two things measured side by side in the same round, setup.exe
# and the plain operation one after the other (each round starts with the
# other, so neither always meets a warmer cache); the table gives the
# median of the rounds' ratios and their spread (lowest to highest). The
# program is timed through scenarios (tests/scenarios/README.md) that the
# runner plays with --timing. Prints one table.
#
#   bash tools/bench.sh                  (a few minutes on 2 cores)
#   BENCH_ROUNDS=9 bash tools/bench.sh   (more rounds, steadier medians)
#   BENCH_MIB=1 bash tools/bench.sh     (files of 1 MiB instead of 5)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=${BENCH_ROUNDS:-5}
# A product lists at most 100 files: the large one has 100 of 5 MiB, so that
# its copies take seconds and a round's noise is small beside them.
files=100
mib=${BENCH_MIB:-5}
bench=$root/build/bench
harness=$bench/x86_64
build_dir=$root/build/x86_64
mkdir -p "$bench/scenarios"

echo "Building setup.exe (i686, x86_64), the runner and the plain operations..." >&2
{
    cmake --preset i686 && cmake --build build/i686 --target setup &&
        cmake --preset x86_64 && cmake --build build/x86_64 --target setup runner
} >"$bench/build.log" 2>&1 || { tail -40 "$bench/build.log"; exit 1; }
# The trivial program: one message box, no runtime, built as setup.exe is.
x86_64-w64-mingw32-g++-posix -Wall -Wextra -Werror -Os -fno-exceptions -fno-rtti \
    -fno-asynchronous-unwind-tables -fno-stack-protector -mwindows \
    -nostdlib -nostartfiles -s -Wl,-e,OneBoxEntry \
    -o "$bench/one_box.exe" tools/bench/one_box.cpp -luser32 -lkernel32
x86_64-w64-mingw32-g++-posix -Wall -Wextra -Werror -O2 -static -o "$bench/plain_ops.exe" tools/bench/plain_ops.cpp

bash tools/harness.sh start "$harness" >/dev/null
trap 'bash "$root/tools/harness.sh" stop "$harness" >/dev/null 2>&1' EXIT
drive=$harness/prefix/drive_c/bench
mkdir -p "$drive"
wine_run() { bash tools/harness.sh run "$harness" x86_64 -- "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Plays a scenario once and prints, for each marker given, the milliseconds
# the runner measured for the first line that holds it: from the run's start
# or the answer before it to that window.
timed() {
    local scenario=$bench/scenarios/$1.scn output marker line ms
    shift
    output=$(wine_run "$build_dir/runner.exe" --timing "$build_dir" x86_64 "$scenario")
    echo "$output" | grep -q ': passed$' || { echo "bench: $scenario failed:" >&2; echo "$output" >&2; exit 1; }
    for marker in "$@"; do
        line=$(grep -n -F -- "$marker" "$scenario" | head -1 | cut -d: -f1)
        ms=$(echo "$output" | awk -v line="$line" '$1 == "timing" && $2 == line { print $4 }')
        [ -n "$ms" ] || { echo "bench: no timing for \"$marker\" in $scenario" >&2; exit 1; }
        echo "$ms"
    done
}

plain() {
    local ms
    ms=$(wine_run "$bench/plain_ops.exe" "$@" | sed -n 's/^MS=//p')
    [ -n "$ms" ] || { echo "bench: plain $* failed" >&2; exit 1; }
    echo "$ms"
}

# A product of N files of the payload's size in C:\bench\<name>, and the
# scenario that installs and uninstalls it.
make_product() {
    local name=$1 count=$2 payload=$3 dist="$drive/$1" i
    mkdir -p "$dist"
    {
        printf '[Main]\r\nAppName=Bench\r\nAppVersion=1.0\r\nDefaultProgramGroup=Bench %s\r\n' "$name"
        printf 'DefaultInstallDir=C:\\bench\\inst-%s\r\n\r\n' "$name"
        printf '[Main.NT]\r\nStartMenuFolder=%%CommonProgramsFolder%%\r\n\r\n'
        printf '[Main.9x]\r\nStartMenuFolder=%%LocalProgramsFolder%%\r\n\r\n[Files]\r\n'
        for i in $(seq -f '%04g' 0 $((count - 1))); do printf 'f%s.bin=%%InstallDir%%\r\n' "$i"; done
    } >"$dist/setup.ini"
    for i in $(seq -f '%04g' 0 $((count - 1))); do cp "$payload" "$dist/f$i.bin"; done
    cat >"$bench/scenarios/$name.scn" <<SCN
dist C:\\bench\\$name
run
box Setup | Bench 1.0 will be installed on your computer.{nl}Do you want to continue? | information | yes no* -> yes
directories C:\\bench\\inst-$name | Bench $name -> install
box Bench | Installation complete. | information | ok* -> ok
exit 0
run C:\\bench\\inst-$name\\setup.exe | -u
box Uninstall | Do you really want to uninstall Bench? | information | yes no* -> yes
box Uninstall | Uninstallation complete. | information | ok* -> ok
absent C:\\bench\\inst-$name
SCN
}

# install.log of an installation whose N files are all gone already, and
# the scenario that undoes it as the second uninstall stage.
make_log() {
    local count=$1 dir="$drive/log$1"
    mkdir -p "$dir"
    {
        printf '; Installation log\r\nAppName Bench\r\n'
        awk -v count="$count" 'BEGIN { for (i = 1; i <= count; i++) printf "CreateFile C:\\bench\\gone\\f%06d.bin\r\n", i }'
    } >"$dir/install.log"
    cat >"$bench/scenarios/undo$count.scn" <<SCN
run C:\\bench\\one\\setup.exe | -u FFFFFFFF C:\\bench\\log$count
box Uninstall | Uninstallation complete. | information | ok* -> ok
SCN
}

echo "Preparing the products and logs..." >&2
head -c $((mib * 1048576)) /dev/urandom >"$bench/payload"
: >"$bench/empty"
make_product big "$files" "$bench/payload"
make_product empty "$files" "$bench/empty"
make_product one 1 "$bench/empty"
for n in 0 10000 100000; do make_log $n; done
cat >"$bench/scenarios/start-setup.scn" <<'SCN'
dist C:\bench\one
run
box Setup | Bench 1.0 will be installed on your computer.{nl}Do you want to continue? | information | yes no* -> no
exit 1
SCN
cat >"$bench/scenarios/start-box.scn" <<SCN
run $(winepath -w "$bench/one_box.exe" 2>/dev/null) |
box One box | One box. | none | ok* -> ok
SCN

calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One product's times in a round: setup.exe's install and uninstall, then
# CopyFileA and DeleteFileA of its files, or the plain ones first. The disk
# is synced before each, so that neither pays for the other's writes.
measure() {
    local name=$1 first=$2 program plain_ops
    plain_ops() {
        sync && plain copy "C:\\bench\\$name" "C:\\bench\\plain-$name" '*.bin' &&
            sync && plain delete "C:\\bench\\plain-$name" '*.bin'
    }
    program() { sync && timed "$name" 'Installation complete' 'Uninstallation complete'; }
    if [ "$first" = setup ]; then
        program=$(program) && plain_ops=$(plain_ops) || exit 1
    else
        plain_ops=$(plain_ops) && program=$(program) || exit 1
    fi
    echo $program $plain_ops
}

declare -a install uninstall install_net copy_net uninstall_net delete_net per_file_setup per_file_copy undo0 undo10k undo100k start_setup start_box
for r in $(seq 1 "$rounds"); do
    echo "Round $r of $rounds..." >&2
    first=$([ $((r % 2)) = 1 ] && echo setup || echo plain)
    read -r ib ub cb db <<<"$(measure big "$first")"
    read -r ie ue ce de <<<"$(measure empty "$first")"
    read -r io uo co do <<<"$(measure one "$first")"
    [ -n "$do" ] || exit 1
    install_net+=("$(calc "$ib - $io" 1)") copy_net+=("$(calc "$cb - $co" 1)")
    uninstall_net+=("$(calc "$ub - $uo" 1)") delete_net+=("$(calc "$db - $do" 1)")
    install+=("$(calc "($ib - $io) / ($cb - $co)")")
    uninstall+=("$(calc "($ub - $uo) / ($db - $do)")")
    per_file_setup+=("$(calc "($ie - $io) / ($files - 1)" 3)")
    per_file_copy+=("$(calc "($ce - $co) / ($files - 1)" 3)")
    undo0+=("$(timed undo0 complete)")
    undo10k+=("$(timed undo10000 complete)")
    undo100k+=("$(timed undo100000 complete)")
    start_setup+=("$(timed start-setup 'will be installed')")
    start_box+=("$(timed start-box 'One box.')")
done

# "median (lowest-highest)" of the rounds' values.
spread() { local -n values=$1; echo "$(median "${values[@]}") ($(printf '%s\n' "${values[@]}" | sort -g | sed -n '1p;$p' | paste -sd-))"; }
m() { local -n values=$1; median "${values[@]}"; }
l0=$(m undo0); l10k=$(m undo10k); l100k=$(m undo100k)
undo10k_net=$(calc "$l10k - $l0" 1); undo100k_net=$(calc "$l100k - $l0" 1)
size_row() {
    local exe=$1 arch=$2
    local dlls
    dlls=$(objdump -p "$exe" | awk '/DLL Name:/ { print tolower($3) }' | sort -u | paste -sd' ')
    echo "| Size of $arch setup.exe | $(stat -c %s "$exe") bytes | imports: $dlls | | |"
}

echo
echo "setup.exe benchmarks under $(wine --version 2>/dev/null), $(nproc) cores; $rounds rounds, times in ms;"
echo "each cell: the median of the rounds (lowest-highest)"
echo
echo "| Measurement | setup.exe | Plain operation | Ratio | Goal |"
echo "|---|---|---|---|---|"
echo "| Install $files files of $mib MiB (net of a 1-file product) [a] | $(spread install_net) | CopyFileA: $(spread copy_net) | $(spread install)x | <= 1.2x |"
echo "| Uninstall them (net of a 1-file product) [b] | $(spread uninstall_net) | DeleteFileA: $(spread delete_net) | $(spread uninstall)x | <= 1.2x |"
echo "| Install $files empty files: time per file [e] | $(spread per_file_setup) | CopyFileA: $(spread per_file_copy) | | |"
echo "| Undo log of 10,000 CreateFile lines [c] | $l10k (net $undo10k_net) | empty log: $l0 | | |"
echo "| Undo log of 100,000 CreateFile lines [c] | $l100k (net $undo100k_net) | 10,000 lines (net): $undo10k_net | $(calc "$undo100k_net / $undo10k_net")x | about 10x (linear) |"
echo "| Start-up to the first question [d] | $(spread start_setup) | one_box.exe: $(spread start_box) | $(calc "$(m start_setup) / $(m start_box)")x | |"
size_row build/i686/setup.exe i686
size_row build/x86_64/setup.exe x86_64
echo
echo "[a] The runner answers the dialogs; timed from the press of Install in \"Choose directories\""
echo "    to the completion box, so the questions are not counted. The fixed cost (log, Uninstall"
echo "    shortcut, copy of setup.exe) is removed by subtracting the 1-file product's time; the plain"
echo "    copy likewise subtracts the copy of 1 file. Same source files, page cache warm for both."
echo "[b] Timed from the press of Yes in \"Uninstall\" to \"Uninstallation complete.\"; this includes the"
echo "    temporary copy of setup.exe and the start of the second stage, both removed with the 1-file"
echo "    product's time. Plain: DeleteFileA of the plain copies, net of deleting 1 file."
echo "[c] setup.exe -u FFFFFFFF <dir> over install.log of files that do not exist, timed from"
echo "    CreateProcess to \"Uninstallation complete.\"; net = minus the run over a log with only AppName."
echo "[d] Time from CreateProcess to the first visible window: setup.exe's \"Setup\" question (1-file"
echo "    product) against a program without runtime that shows one message box."
echo "    Windows are looked for every 10 ms; all of it runs under wine64 (x86_64 build)."
echo "[e] As [a] for a product of $files empty files, per file: what setup.exe spends on each file"
echo "    besides the copy itself (its install.log line, saved before the copy, and the checks)."
echo "A ratio is each round's own (setup.exe and the plain operation of that round); the rounds"
echo "alternate which of the two goes first, and the disk is synced before each."
