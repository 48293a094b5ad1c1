#!/usr/bin/env bash
# The main job: builds setup.exe, then installs and uninstalls the bundled
# sample product under Wine on a virtual display. A robot answers every
# question as a user would; what was installed, install.log and the
# shortcuts are printed, and each dialog is saved as a PNG screenshot.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/install-deps.sh
echo "Building both architectures (about two and a half minutes on two cores)..."
bash tools/build.sh >build.log 2>&1 || { tail -40 build.log; exit 1; }
rm -f build.log

harness=$root/build/main-job
shots=$harness/screenshots
bash tests/support/harness.sh start "$harness" >/dev/null
trap 'bash "$root/tests/support/harness.sh" stop "$harness"' EXIT
eval "$(bash tests/support/harness.sh env "$harness")"

win() { wine "$@" 2>/dev/null | tr -d '\r'; }
unix_path() { winepath -u "$1" 2>/dev/null; }
reg_value() { win reg query "$1" /v "$2" | sed -n 's/.*REG_SZ *//p'; }

# The distribution folder, as a product maker would lay it out. The shipped
# program is build/i686/setup.exe; this machine runs the 64-bit build of the
# same sources.
dist="$WINEPREFIX/drive_c/dist"
rm -rf "$dist" "$shots" && mkdir -p "$dist" "$shots"
cp sample/setup.ini sample/license.txt sample/readme.txt sample/sample.inf "$dist/"
cp build/x86_64/setup.exe build/x86_64/sampleapp.exe "$dist/"
# The product's driver is the sample installable driver built with the tests,
# under the file name that sample.inf gives it.
cp build/x86_64/sampledrv.dll "$dist/smplsnd.drv"
echo "Distribution folder C:\\dist:"
ls -l "$dist" | tail -n +2

# The sample driver notes each message it receives in a file that its
# control key names (tests/driver/sample_driver.h).
driver_record='C:\driver-messages.txt'
rm -f "$(unix_path "$driver_record")"
win reg add 'HKCU\Software\SetupTests\SampleDriver\smplsnd.drv' /v RecordFile /d "$driver_record" /f >/dev/null

# The entries of one section of a profile file in the Windows directory.
ini_section() {
    local file="$WINEPREFIX/drive_c/windows/$1"
    if [ ! -f "$file" ]; then echo "    (no $1)"; return; fi
    local lines
    lines=$(tr -d '\r' <"$file" | awk -v want="[$2]" '
        /^\[/ { inside = (tolower($0) == tolower(want)); next }
        inside && NF { print "    " $0 }')
    echo "${lines:-    (empty)}"
}

show_driver_lists() {
    echo
    echo "Driver lists $1:"
    echo "  system.ini [Drivers32]:"
    ini_section system.ini Drivers32
    echo "  control.ini [Userinstallable.drivers]:"
    ini_section control.ini Userinstallable.drivers
    echo "  control.ini [drivers.desc]:"
    ini_section control.ini drivers.desc
}

show_driver_messages() {
    echo "Messages the driver received $1:"
    local record
    record=$(unix_path "$driver_record")
    if [ -f "$record" ]; then tr -d '\r' <"$record" | paste -sd' ' | sed 's/^/    /'; else echo "    (none)"; fi
}

show_driver_lists "before the install"

group_folder=$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' 'Common Programs')
group_dir=$(unix_path "$group_folder\\Sample Product")

show_installation() {
    local install_dir=$1
    echo
    echo "Installation directory $(winepath -w "$install_dir" 2>/dev/null):"
    if [ -d "$install_dir" ]; then ls -l "$install_dir" | tail -n +2; else echo "  (does not exist)"; fi
    echo "Program group $group_folder\\Sample Product:"
    if [ -d "$group_dir" ]; then
        for lnk in "$group_dir"/*.lnk; do
            echo "  $(basename "$lnk")"
            lnkinfo "$lnk" 2>/dev/null | grep -E 'Local path|Command line arguments|Working directory|Description' | sed 's/^\t*/      /'
        done
    else
        echo "  (does not exist)"
    fi
}

echo
main_job="$root/build/x86_64/main_job.exe"
output=$(win "$main_job" install 'C:\dist' 'C:\screenshots') || { echo "$output"; echo "INSTALL FAILED"; exit 1; }
echo "$output" | grep -v '^INSTALL_DIR='
install_win=$(echo "$output" | sed -n 's/^INSTALL_DIR=//p')
install_dir=$(unix_path "$install_win")
show_installation "$install_dir"
echo
echo "install.log:"
sed 's/\r$//; s/^/  | /' "$install_dir/install.log"
show_driver_lists "after the install"
show_driver_messages "during the install"
: >"$(unix_path "$driver_record")"

echo
win "$main_job" uninstall "$install_win" 'C:\screenshots' || { echo "UNINSTALL FAILED"; exit 1; }
sleep 2  # the temporary copy goes once its process has ended
show_installation "$install_dir"
left=$(find "$(unix_path "$(win cmd /c echo %TEMP%)")" -maxdepth 1 -iname 'TMP*.EXE' 2>/dev/null | wc -l)
echo "Temporary copies left: $left"
show_driver_lists "after the uninstall"
show_driver_messages "during the uninstall"
driver_left=no
[ -e "$WINEPREFIX/drive_c/windows/system32/smplsnd.drv" ] && driver_left=yes
echo "Driver file left in the system directory: $driver_left"

for bmp in "$WINEPREFIX/drive_c/screenshots"/*.bmp; do
    convert "$bmp" "$shots/$(basename "${bmp%.bmp}").png"
done
echo
echo "Screenshots of every dialog and question of the install and the uninstall: $shots"
ls "$shots"

# The verdict: the uninstall must have taken back everything the install made.
leftovers=()
[ ! -e "$install_dir" ] || leftovers+=("the installation directory")
[ ! -e "$group_dir" ] || leftovers+=("the program group")
[ "$left" = 0 ] || leftovers+=("$left temporary copies of setup.exe")
[ "$driver_left" = no ] || leftovers+=("the driver file")
echo
if [ ${#leftovers[@]} -gt 0 ]; then
    echo "MAIN JOB FAILED: the uninstall left ${leftovers[*]}"
    exit 1
fi
echo "Main job done: the sample product was installed and uninstalled, and nothing of it is left."
