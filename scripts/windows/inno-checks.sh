#!/bin/sh
# The Inno Setup installer under Wine and Xvfb (its setup needs a display even when silent): compiled,
# refused on Windows 8.1, installed, started by its logon shortcut, updated with a changed connector.json, removed. Its compiler,
# setup and uninstaller are 32-bit Windows programs: wine-checks.sh runs this only where the host
# executes 32-bit programs.
#   scripts/windows/inno-checks.sh WORK [STARTED]    (run by wine-checks.sh, with its Wine prefix)
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$1
started=${2:-$(date +%s)}
. "$root/scripts/windows/checks-lib.sh"
trap 'wineserver -k 2>/dev/null || true' EXIT

phase "Inno Setup: compiling the installer"
wine "$tools/node_modules/innosetup/bin/ISCC.exe" /Q /DStagingDir="$(winpath "$work/staging")" \
    /O"$(winpath "$work/installer")" "$(winpath "$root/packaging/windows/sanvero-connector.iss")"
setup=$work/installer/sanvero-connector-setup.exe
# Inno Setup's uninstaller runs a copy of itself and returns at once: wait for the prefix to fall quiet.
run_setup() {
    wine "$@" /VERYSILENT /SUPPRESSMSGBOXES /LOG="$(winpath "$work/installer/$(basename "$1").log")"
    wineserver -w
}
edit_entry="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/SANvero Connector/Edit configuration.lnk"
# The shell link's RunAsUser flag: bit 0x20 of its 22nd byte.
edit_entry_elevates() {
    flags=$(od -An -tu1 -j21 -N1 "$edit_entry") && [ $((flags & 32)) -ne 0 ]
}
same_files_as_msi() {
    program_files | diff -u "$work/msi/installed-files" - >&2
}
# The installed connector shows its window with the windows platform plugin on the Xvfb display.
"$wine64" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d windows /f >/dev/null

phase "Inno Setup: installing"
set_windows_version win81
check "on Windows 8.1 the setup refuses to install" sh -c '! wine "$1" /VERYSILENT /SUPPRESSMSGBOXES && [ ! -e "$2" ]' \
    sh "$setup" "$app/sanvero-connector.exe"
wineserver -w
set_windows_version win10
run_setup "$setup"
check "the installed tree holds the connector, TLS backend, platform plugin, SQL drivers and 7-Zip" installed_tree
check "the same program files as the MSI package" same_files_as_msi
check "a new installation writes the default connector.json" holds_default_config
check "the logon shortcut is in the all-users Startup folder" test -f "$startup_folder/SANvero Connector.lnk"
check "the start menu's Edit configuration opens Notepad with administrator rights" edit_entry_elevates
start_by_logon_shortcut
check "the connector started by its shortcut answers" answers
stop_connector

phase "Inno Setup: updating"
write_clinic_config
run_setup "$setup"
check "the update keeps the clinic's connector.json" holds_clinic_config
start_by_logon_shortcut
check "after the update the connector runs with the clinic's configuration" \
    answers --origin https://care.example.org --refused-origin https://other.example.org \
    --odbc-somno 'C:\Clinic\SomnoPanel Demo\'
stop_connector

phase "Inno Setup: removing"
run_setup "$app/unins000.exe"
check "removal deletes the program files" program_files_gone
check "removal keeps the clinic's connector.json" holds_clinic_config
[ "$failures" = 0 ] || { echo "the setup logs are in $work/installer" >&2; exit 1; }
