#!/bin/sh
# The Windows installer and ZIP as a user meets them, in a fresh Wine prefix:
# a silent install into Program Files, the installed programs run (without
# the simulator, which must say that Zenapi.dll is missing, and through
# romwright-sim.cmd), a silent uninstall that leaves nothing of ours behind;
# then a silent install into another folder that adds it to the PATH, and
# its uninstall, which takes it away again; and the ZIP's files.
#   installer_test.sh <build dir> [<installer.exe> <zip>]
# Without the two files, cpack makes them from the build folder first
# (makensis missing: the test is skipped).
set -eu

build=$1
installer=${2:-}
zip=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/romwright-installer-test.XXXXXX")
fail() { echo "FAIL: $*" >&2; exit 1; }
say() { echo "installer test: $*"; }

if [ -z "$installer" ]; then
    command -v makensis >/dev/null || { echo "SKIP: makensis is not installed (apt-get install nsis)"; exit 0; }
    (cd "$build" && "${CPACK:-cpack}" -G "NSIS;ZIP" -B "$work/package" >"$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log" >&2; fail "cpack"; }
    installer=$(ls "$work"/package/romwright-*-win64.exe)
    zip=$(ls "$work"/package/romwright-*-win64.zip)
fi

installer=$(readlink -f "$installer")
zip=$(readlink -f "$zip")

# --- A fresh Wine prefix, its server stopped at the end -----------------------
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver="$(dirname "$(readlink -f "$wine")")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
unset ROMWRIGHT_HISTORY ROMWRIGHT_LOCK_DIR ROMWRIGHT_ZENAPI_DLL ZENAPI_SIM_CONFIG ZENAPI_SIM_STATE_DIR ZENAPI_SIM_TRACE
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# One server for the whole test, with Wine's services started once.
mkdir -p "$WINEPREFIX"
"$wineserver" -p
WINEDLLOVERRIDES="mscoree=;mshtml=" "$wine" wineboot --init >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
drive_c=$WINEPREFIX/drive_c
say "fresh Wine prefix made"

# win <program> <args...>: runs a Windows program and sets status and out
# (standard output and error, CR LF read as LF).
win() {
    status=0
    "$wine" "$@" >"$work/out" 2>&1 </dev/null || status=$?
    out=$(tr -d '\r' <"$work/out")
}
# An NSIS uninstaller runs a copy of itself from the Temp folder
# (~nsu<n>.tmp\Un.exe) and ends at once: waits up to a minute for the copy
# of this prefix to end.
wait_for_uninstaller() {
    waited=0
    while [ "$waited" -lt 600 ]; do
        running=false
        for pid in $(pgrep -f 'nsu[^ ]*tmp.Un[^ ]*[.]exe' || true); do
            { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && running=true
        done
        $running || return 0
        sleep 0.1
        waited=$((waited + 1))
    done
    fail "the uninstaller is still running after a minute"
}
reg_value() {  # reg_value <key> <name>: the value's data, or nothing
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\romwright'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
# Every file under a folder, relative to it, sorted.
files_under() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }
expected_files="CHANGELOG.txt
LICENSE.txt
Uninstall.exe
doc/THIRD-PARTY.txt
doc/romwright-cli.txt
doc/romwright-mkimage.txt
doc/romwright-sim.txt
doc/romwright.txt
romwright-cli.exe
romwright-mkimage.exe
romwright-sim.cmd
romwright.exe
sim/Zenapi.dll"
path_before=$(reg_value "$environment_key" Path)

# --- Silent install into Program Files ---------------------------------------
win "$installer" /S
[ "$status" = 0 ] || fail "the silent install exited with $status: $out"
home="$drive_c/Program Files/Korvelon/romwright"
[ -d "$home" ] || fail "nothing in Program Files\\Korvelon\\romwright"
[ "$(files_under "$home")" = "$expected_files" ] || fail "installed files:
$(files_under "$home")"
[ "$(find "$drive_c" -iname zenapi.dll | sed "s|^$drive_c/||")" = "Program Files/Korvelon/romwright/sim/Zenapi.dll" ] ||
    fail "a Zenapi.dll outside sim\\: $(find "$drive_c" -iname zenapi.dll)"
head -n 1 "$home/LICENSE.txt" | grep -q "$(printf 'romwright\r')" || fail "LICENSE.txt's lines do not end in CR LF"
grep -q 'romwright-cli - ' "$home/doc/romwright-cli.txt" || fail "doc\\romwright-cli.txt is not the manual"
[ "$(reg_value "$uninstall_key" DisplayName)" = romwright ] || fail "no romwright in Add/Remove Programs"
[ "$(reg_value "$uninstall_key" Publisher)" = Korvelon ] || fail "the publisher is not Korvelon"
[ "$(reg_value "$uninstall_key" UninstallString)" = '"C:\Program Files\Korvelon\romwright\Uninstall.exe"' ] ||
    fail "UninstallString: $(reg_value "$uninstall_key" UninstallString)"
[ "$(reg_value "$environment_key" Path)" = "$path_before" ] || fail "the PATH changed though nobody asked"
say "installed silently into Program Files, registered in Add/Remove Programs"

# --- The installed programs ---------------------------------------------------
program='C:\Program Files\Korvelon\romwright'
run_dir=$work/run
mkdir -p "$run_dir/state"
cd "$run_dir"
win "$program\\romwright-cli.exe" --version
[ "$status" = 0 ] && [ "$out" = "romwright-cli version 3.5.3" ] || fail "romwright-cli.exe --version: $status $out"

win "$program\\romwright-mkimage.exe" --board ZEN5160 --size 0x80000 --seed 5 --format rpd --out firmware-ZEN5160.rpd
[ "$status" = 0 ] || fail "romwright-mkimage.exe: $status $out"

# Without the simulator: no Zenapi.dll anywhere Windows looks.
win "$program\\romwright-cli.exe" update --system 1 firmware-ZEN5160.rpd
say "without the simulator, romwright-cli.exe update says (exit status $status):"
echo "$out" | sed 's/^/    /'
[ "$status" = 255 ] || fail "romwright-cli.exe without Zenapi.dll exited with $status, not 255 (-1)"
echo "$out" | grep -q "^Error: Zenapi.dll, Korvelon's device library, cannot be loaded: .*romwright-sim" ||
    fail "romwright-cli.exe does not say that Zenapi.dll is missing"

# Through romwright-sim.cmd, on a small simulated machine.
cat >machine.toml <<EOF
[[system]]
[[system.board]]
name = "sector-5160"
kind = 25
features = []
flash_size = 0xC0000
[system.board.controller]
erase_ms = 0
program_ms = 0
read_burst_ms = 0
command_ms = 0
EOF
export ZENAPI_SIM_CONFIG="Z:$run_dir/machine.toml" ZENAPI_SIM_STATE_DIR="Z:$run_dir/state"
win cmd /c "$program\\romwright-sim.cmd" romwright-cli update --quiet --system 1 firmware-ZEN5160.rpd
[ "$status" = 0 ] || fail "romwright-sim.cmd romwright-cli update exited with $status: $out"
cmp -s -n "$(stat -c %s firmware-ZEN5160.rpd)" state/sector-5160.flash firmware-ZEN5160.rpd ||
    fail "the simulated flash does not hold the image"
tr -d '\r' <romwright-cli.log | grep -q '^Device library = C:\\Program Files\\Korvelon\\romwright\\sim\\Zenapi.dll (simulated: ' ||
    fail "the log does not name the simulator in sim\\"
win cmd /c "$program\\romwright-sim.cmd" romwright list
[ "$status" = 0 ] && echo "$out" | grep -q ZEN5160 || fail "romwright-sim.cmd romwright list: $status $out"
win cmd /c "$program\\romwright-sim.cmd" romwright-mkimage --frobnicate
[ "$status" = 2 ] || fail "romwright-sim.cmd does not pass the program's exit status on: $status"
say "updated a simulated board through romwright-sim.cmd; the flash holds the image"

# --- Silent uninstall ---------------------------------------------------------
win "$program\\Uninstall.exe" /S
[ "$status" = 0 ] || fail "the silent uninstall exited with $status: $out"
wait_for_uninstaller
[ ! -e "$drive_c/Program Files/Korvelon" ] || fail "left behind: $(find "$drive_c/Program Files/Korvelon")"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 && fail "the Add/Remove Programs entry is still there"
"$wine" reg query 'HKLM\Software\Korvelon' >/dev/null 2>&1 && fail "a registry key HKLM\\Software\\Korvelon"
"$wine" reg query 'HKCU\Software\Korvelon' >/dev/null 2>&1 && fail "a registry key HKCU\\Software\\Korvelon"
# What the programs made while running stays, as user data does: the update
# history and the board locks in ProgramData. Nothing else of ours is left.
left=$(cd "$drive_c" && find . \( -iname '*romwright*' -o -iname '*korvelon*' -o -iname '*zenapi*' \) |
    grep -v '^\./ProgramData/Korvelon' | grep -v '^\./users/[^/]*/Temp/' || true)
[ -z "$left" ] || fail "left behind: $left"
# The uninstaller ran from a copy in the user's Temp folder, which Windows
# deletes at the next restart, as the uninstaller asked it to (the empty
# folder NSIS made for it goes with Windows' next clean-up).
"$wine" wineboot --restart >/dev/null 2>&1
left=$(find "$drive_c/users" -path '*/Temp/*' -type f)
[ -z "$left" ] || fail "left in Temp: $left"
say "uninstalled silently: no file or registry key of the installation is left"

# --- Into another folder, added to the PATH -----------------------------------
# /D= takes the rest of the command line as it stands, blanks and all, without
# quotes; cmd passes it on so.
cp "$installer" "$drive_c/romwright-setup.exe"
win cmd /c 'C:\romwright-setup.exe /S /ADDTOPATH /D=C:\romwright tools'
rm "$drive_c/romwright-setup.exe"
[ "$status" = 0 ] || fail "the silent install with /D= exited with $status: $out"
[ "$(files_under "$drive_c/romwright tools")" = "$expected_files" ] || fail "files installed with /D="
path_now=$(reg_value "$environment_key" Path)
[ "$path_now" = "$path_before;C:\\romwright tools" ] || fail "the PATH after /ADDTOPATH: $path_now"
[ "$(reg_value "$uninstall_key" InstallLocation)" = 'C:\romwright tools' ] || fail "InstallLocation with /D="
win cmd /c romwright-sim romwright-cli --version
[ "$status" = 0 ] && [ "$out" = "romwright-cli version 3.5.3" ] || fail "romwright-sim on the PATH: $status $out"
win 'C:\romwright tools\Uninstall.exe' /S
[ "$status" = 0 ] || fail "the second silent uninstall exited with $status"
wait_for_uninstaller
[ ! -e "$drive_c/romwright tools" ] || fail "left behind: $(find "$drive_c/romwright tools")"
[ "$(reg_value "$environment_key" Path)" = "$path_before" ] || fail "the PATH after the uninstall: $(reg_value "$environment_key" Path)"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 && fail "the Add/Remove Programs entry is still there"
say "installed into another folder and onto the PATH, uninstalled: the PATH is as it was"

# --- The ZIP: the same files in one folder, without the uninstaller ----------
zipped=$(python3 -c '
import sys, zipfile
for name in sorted(zipfile.ZipFile(sys.argv[1]).namelist()):
    if not name.endswith("/"): print(name)
' "$zip")
top=$(basename "$zip" .zip)
expected_zip=$(echo "$expected_files" | grep -v '^Uninstall.exe$' | sed "s|^|$top/|")
[ "$zipped" = "$expected_zip" ] || fail "the ZIP holds:
$zipped"
say "the ZIP holds the same files under $top/"
echo PASS
