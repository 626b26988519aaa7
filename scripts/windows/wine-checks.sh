#!/bin/sh
# Under Wine, in a Wine prefix of its own: the portable tests as Windows programs, a smoke run of the
# staged connector driven over ws://127.0.0.1:1024, and the installer (install, start, update, removal).
#   scripts/windows/wine-checks.sh WORK [STARTED]    (WORK as left by lane.sh; run in a private network)
# The installer part runs under Xvfb: Inno Setup needs a display even when silent.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
mode=all
if [ "${1:-}" = installer ]; then
    mode=installer
    shift
fi
work=$1
started=${2:-$(date +%s)}
qt=$work/sdk/qt6-mingw
tools=$root/scripts/windows
phase() { printf -- '-- %s (%s s)\n' "$1" "$(($(date +%s) - started))"; }
# Wine's Z: drive is the Linux root.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Nothing of the machine's own Wine or desktop folders is used.
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all HOME="$work/home"
# Every Windows program of this private prefix was started here; none outlives the run, failed or not.
trap 'wineserver -k 2>/dev/null || true' EXIT

if [ "$mode" = all ]; then
    phase "Making a Wine prefix"
    rm -rf "$WINEPREFIX" "$HOME"
    mkdir -p "$HOME"
    wine wineboot -i >/dev/null 2>&1
    # Wine hands no QT_* variable of the Linux environment to Windows programs; these reach every program
    # of the prefix. Debug and test output go to the error output instead of the Windows debug log.
    wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null
    wine reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null
    wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null
    wineserver -w

    phase "Portable tests under Wine"
    WINEPATH=$(winpath "$qt/bin") ctest --test-dir "$work/build" -L portable --output-on-failure \
        -j"$(nproc)" --timeout 300

    phase "Smoke run of the Windows connector"
    clinic=$WINEPREFIX/drive_c/Clinic
    helix="$clinic/Helix Audio"
    "$qt/bin/qt-mingw-deploy" "$work/build/simulators/helix/helix-simulator.exe" "$helix"
    # In capitals, as an installer may name it: Windows file names are case-insensitive, so the connector
    # finds it as Helix.exe and its running check must count "HELIX.EXE" too.
    mv "$helix/helix-simulator.exe" "$helix/HELIX.EXE"
    echo '{"delay_ms": 100}' >"$helix/helix-simulator.json"
    somno_tools=$work/somno-tools
    "$qt/bin/qt-mingw-deploy" "$work/build/simulators/somnopanel/somnodb-tool.exe" \
        "$work/build/simulators/somnopanel/SomnoPanel.exe" "$somno_tools"
    wine "$somno_tools/somnodb-tool.exe" demo 'C:\Clinic\SomnoPanel Demo' >/dev/null
    # The stand-in starts in its own bin folder, as the real application does: its DLLs must lie there too.
    "$qt/bin/qt-mingw-deploy" "$work/build/simulators/somnopanel/SomnoPanel.exe" "$clinic/SomnoPanel Demo/bin"
    # The installer archive: a stand-in HelixSetup.exe that records its start.
    x86_64-w64-mingw32-gcc-posix -std=c11 -O2 -Wall -Wextra -Werror -s -static \
        -o "$work/HelixSetup.exe" "$tools/helixsetup-standin.c"
    (cd "$work" && rm -f HelixSetup.zip && 7zz a -tzip -bd HelixSetup.zip HelixSetup.exe >/dev/null)
    mkdir -p "$work/smoke"
    node "$tools/drive-connector.mjs" smoke --connector "$work/staging/bin" --work "$work/smoke" \
        --helix 'C:\Clinic\Helix Audio\' --somno 'C:\Clinic\SomnoPanel Demo\' --archive "$work/HelixSetup.zip" \
        --installer "$work/HelixSetup.exe" --example "$root/tests/audiometry/gdtexample.h"
    # A wineserver left from headless programs breaks window creation under Xvfb.
    wineserver -k || true
    wineserver -w

    exec xvfb-run -a -s '-nolisten tcp' sh "$tools/wine-checks.sh" installer "$work" "$started"
fi

phase "Compiling the installer"
wine "$tools/node_modules/innosetup/bin/ISCC.exe" /Q /DStagingDir="$(winpath "$work/staging")" \
    /O"$(winpath "$work/installer")" "$(winpath "$root/packaging/windows/sanvero-connector.iss")"
setup=$work/installer/sanvero-connector-setup.exe
app="$WINEPREFIX/drive_c/Program Files/SANvero Connector"
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\SANvero Connector.lnk'
failures=0
# check DESCRIPTION COMMAND...: runs the command and counts a failure.
check() {
    what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
installed_tree() {
    for file in sanvero-connector.exe connector.json favicon.png Qt6Core.dll platforms/qwindows.dll \
        tls/qschannelbackend.dll sqldrivers/qsqlodbc.dll sqldrivers/qsqlite.dll 7-Zip/7z.exe unins000.exe; do
        [ -f "$app/$file" ] || { echo "not installed: $file"; return 1; }
    done
}
edit_entry="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/SANvero Connector/Edit configuration.lnk"
# The shell link's RunAsUser flag: bit 0x20 of its 22nd byte.
edit_entry_elevates() {
    flags=$(od -An -tu1 -j21 -N1 "$edit_entry") && [ $((flags & 32)) -ne 0 ]
}
program_files_gone() {
    [ ! -e "$app/sanvero-connector.exe" ] && [ ! -e "$app/Qt6Core.dll" ] && [ ! -e "$app/7-Zip/7z.exe" ]
}
clinic_config='{"sessionids": "", "allowed_origins": ["https://care.example.org"]}'
holds_clinic_config() {
    printf '%s\n' "$clinic_config" | cmp -s - "$app/connector.json"
}
# Inno Setup's uninstaller runs a copy of itself and returns at once: wait for the prefix to fall quiet.
run_setup() {
    wine "$@" /VERYSILENT /SUPPRESSMSGBOXES /LOG="$(winpath "$work/installer/$(basename "$1").log")"
    wineserver -w
}
start_by_shortcut() {
    wine start "$shortcut"
}
# Wine's taskkill finds no process by its image name, so the prefix's own server ends every program of
# this private prefix instead.
stop_connector() {
    wineserver -k || true
    wineserver -w
}
# The installed connector shows its window with the windows platform plugin on the Xvfb display.
wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d windows /f >/dev/null

phase "Refusing Windows before 10 1809"
# Wine plays Windows 8.1 for this one run of the setup.
wine winecfg -v win81
wineserver -w
check "the setup refuses Windows 8.1" sh -c '! wine "$1" /VERYSILENT /SUPPRESSMSGBOXES && [ ! -e "$2" ]' \
    sh "$setup" "$app/sanvero-connector.exe"
wineserver -w
wine winecfg -v win10
wineserver -w

phase "Installing"
run_setup "$setup"
check "the installed tree holds the connector, TLS backend, platform plugin, SQL drivers and 7-Zip" installed_tree
check "a new installation writes the default connector.json" \
    cmp -s "$app/connector.json" packaging/windows/connector.json
check "the start menu's Edit configuration opens Notepad with administrator rights" edit_entry_elevates
check "the logon shortcut is in the all-users Startup folder" \
    test -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/SANvero Connector.lnk"
start_by_shortcut
check "the connector started by its shortcut answers" node "$tools/drive-connector.mjs" answers \
    --odbc-somno 'C:\Clinic\SomnoPanel Demo\'
stop_connector

phase "Updating"
printf '%s\n' "$clinic_config" >"$app/connector.json"
run_setup "$setup"
check "the update keeps the clinic's connector.json" holds_clinic_config
start_by_shortcut
check "after the update the connector runs with the clinic's configuration" node "$tools/drive-connector.mjs" \
    answers --origin https://care.example.org --refused-origin https://other.example.org
stop_connector

phase "Removing"
run_setup "$app/unins000.exe"
check "removal deletes the program files" program_files_gone
check "removal keeps the clinic's connector.json" holds_clinic_config
[ "$failures" = 0 ] || { echo "the setup logs are in $work/installer" >&2; exit 1; }
