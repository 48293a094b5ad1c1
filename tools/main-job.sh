#!/usr/bin/env bash
# The main job: builds setup.exe, then installs and uninstalls the bundled
# sample product under Wine on a virtual display. A robot answers every
# question as a user would; what was installed, install.log and the
# shortcuts are printed, and each dialog is saved as a PNG screenshot.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/install-deps.sh
echo "Building..."
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
cp sample/setup.ini sample/license.txt sample/readme.txt build/x86_64/setup.exe build/x86_64/sampleapp.exe "$dist/"
echo "Distribution folder C:\\dist:"
ls -l "$dist" | tail -n +2

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

echo
win "$main_job" uninstall "$install_win" 'C:\screenshots' || { echo "UNINSTALL FAILED"; exit 1; }
sleep 2  # the temporary copy goes once its process has ended
show_installation "$install_dir"
left=$(find "$(unix_path "$(win cmd /c echo %TEMP%)")" -maxdepth 1 -iname 'TMP*.EXE' 2>/dev/null | wc -l)
echo "Temporary copies left: $left"

for bmp in "$WINEPREFIX/drive_c/screenshots"/*.bmp; do
    convert "$bmp" "$shots/$(basename "${bmp%.bmp}").png"
done
echo
echo "Screenshots of every dialog and question: $shots"
ls "$shots"
