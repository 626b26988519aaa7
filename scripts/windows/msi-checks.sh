#!/bin/sh
# The MSI package under Wine's 64-bit loader, as software distribution runs it, with every msiexec's exit
# code: refused below Windows 10 1809, a silent installation, the connector started by its logon shortcut,
# a repair and an upgrade that keep the clinic's connector.json, a refused downgrade, a removal that
# keeps it too.
#   scripts/windows/msi-checks.sh WORK [STARTED]    (run by wine-checks.sh, with its Wine prefix)
# WORK/msi holds sanvero-connector.msi and, of a higher version, newer/sanvero-connector.msi, each with a
# file "version".
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$1
started=${2:-$(date +%s)}
. "$root/scripts/windows/checks-lib.sh"
msi=$work/msi/sanvero-connector.msi
newer=$work/msi/newer/sanvero-connector.msi
version=$(cat "$work/msi/version")
newer_version=$(cat "$work/msi/newer/version")
logs=$work/msi/logs
rm -rf "$logs" && mkdir -p "$logs"

# msiexec_ends_with CODE LOG ARGUMENT...: runs msiexec silently with a verbose log in $logs and compares its
# exit code, which only a Windows program sees whole: Linux keeps its low 8 bits (1603 becomes 67).
msiexec_ends_with() {
    wanted=$1 log=$2
    shift 2
    got=$("$wine64" cmd /d /v:on /c "msiexec $* /qn /l*v $(winpath "$logs/$log") & echo exit code !errorlevel!" |
        tr -d '\r' | sed -n 's/^exit code //p')
    wineserver -w
    [ "$got" = "$wanted" ] || { echo "msiexec $*: exit code ${got:-none}, wanted $wanted"; return 1; }
}
# A folder property as an msiexec log has it, and the Linux path of such a C: path.
property_in_log() {
    sed -n "s/^Property(S): $1 = //p" "$logs/$2" | head -n 1
}
linux_path() {
    printf '%s\n' "$1" | sed 's/^[Cc]:\\//' | tr '\\' / | sed "s|^|$WINEPREFIX/drive_c/|"
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The list of programs: exactly one entry of this name, with the version and publisher given, and the
# product's icon where Windows Installer registers it for the list.
registered_as() {
    entries=$("$wine64" reg query "$uninstall_key" /s | tr -d '\r' | awk '
        /^HKEY_/ { key = $0 }
        $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); name[key] = $0 }
        $1 == "DisplayVersion" { version[key] = $3 }
        $1 == "Publisher" { sub(/^ *Publisher +REG_SZ +/, ""); publisher[key] = $0 }
        END { for (key in name) if (name[key] == "SANvero Connector") print version[key] " " publisher[key] }')
    [ "$entries" = "$1 SANvero" ] || { echo "list of programs: ${entries:-no entry}"; return 1; }
    icon=$("$wine64" reg query 'HKLM\Software\Classes\Installer\Products' /s | tr -d '\r' |
        sed -n 's/^ *ProductIcon *REG_SZ *[Cc]:\\//p' | tr '\\' /)
    cmp -s "$WINEPREFIX/drive_c/$icon" "$root/packaging/windows/sanvero-connector.ico" ||
        { echo "product icon: ${icon:-none}"; return 1; }
}
not_registered() {
    ! "$wine64" reg query "$uninstall_key" /s | grep -q 'SANvero Connector'
}
detection_value_is() {
    "$wine64" reg query 'HKLM\Software\SANvero\SANvero Connector' /v Version | tr -d '\r' | grep -q "REG_SZ *$1\$"
}
# Every installed program file is the staged one.
installed_as_staged() {
    program_files | while IFS= read -r file; do
        cmp -s "$app/$file" "$work/staging/bin/$file" || { echo "not the staged file: $file"; return 1; }
    done
}
# The package asks for the all-users folders (ALLUSERS=1): Windows puts its shortcuts there. Wine puts
# them in the installing user's folders whatever ALLUSERS says, so the checks look where Wine's log says.
asks_for_all_users() {
    msiinfo export "$msi" Property | tr -d '\r' | grep -q -x -F "$(printf 'ALLUSERS\t1')" &&
        msiinfo export "$msi" Shortcut | tr -d '\r' | grep -q "^$(printf 'LogonShortcut\tStartupFolder\t')"
}
shortcuts_installed() {
    [ -f "$startup/SANvero Connector.lnk" ] && [ -f "$menu/SANvero Connector/SANvero Connector.lnk" ] &&
        [ -f "$menu/SANvero Connector/Edit configuration.lnk" ]
}
shortcuts_gone() {
    [ ! -e "$startup/SANvero Connector.lnk" ] && [ ! -e "$menu/SANvero Connector" ]
}
start_by_startup_shortcut() {
    "$wine64" start "${startup_folder_property}SANvero Connector.lnk"
}

phase "MSI: installing"
set_windows_version win81
check "on Windows 8.1 msiexec /i is refused with 1603" msiexec_ends_with 1603 refused.log /i "$(winpath "$msi")"
check "and nothing is installed" test ! -e "$app"
set_windows_version win10
check "on Windows 10 msiexec /i ends with 0" msiexec_ends_with 0 install.log /i "$(winpath "$msi")"
startup_folder_property=$(property_in_log StartupFolder install.log)
startup=$(linux_path "$startup_folder_property")
menu=$(linux_path "$(property_in_log ProgramMenuFolder install.log)")
check "the installed tree holds the connector, TLS backend, platform plugin, SQL drivers and 7-Zip" installed_tree
check "every installed program file is the staged one" installed_as_staged
check "a new installation writes the default connector.json" holds_default_config
check "the package puts its shortcuts in the all-users folders" asks_for_all_users
check "the logon shortcut is in the Startup folder, the start menu has its entries" shortcuts_installed
check "the list of programs has one entry: name, version $version, publisher, icon" registered_as "$version"
check "the detection value holds the version" detection_value_is "$version"
program_files >"$work/msi/installed-files"
start_by_startup_shortcut
check "the connector started by its logon shortcut answers" answers
stop_connector

phase "MSI: repairing"
write_clinic_config
rm "$app/Qt6Core.dll"
# What msiexec /fa does; Wine's msiexec repairs neither by product code nor by package with /f.
check "a repair (REINSTALL=ALL REINSTALLMODE=amus) ends with 0" \
    msiexec_ends_with 0 repair.log /i "$(winpath "$msi")" REINSTALL=ALL REINSTALLMODE=amus
check "the repair restores a deleted program file" test -f "$app/Qt6Core.dll"
check "the repair keeps the clinic's connector.json" holds_clinic_config

phase "MSI: upgrading"
check "msiexec /i of a newer package ends with 0" msiexec_ends_with 0 upgrade.log /i "$(winpath "$newer")"
check "the upgrade keeps the clinic's connector.json" holds_clinic_config
check "the list of programs has one entry, of version $newer_version" registered_as "$newer_version"
check "the detection value holds the newer version" detection_value_is "$newer_version"
check "the upgraded tree holds the connector" installed_tree
start_by_startup_shortcut
check "after the upgrade the connector runs with the clinic's configuration" \
    answers --origin https://care.example.org --refused-origin https://other.example.org \
    --odbc-somno 'C:\Clinic\SomnoPanel Demo\'
stop_connector
check "an older package is refused with 1603" msiexec_ends_with 1603 downgrade.log /i "$(winpath "$msi")"
check "and the newer one stays, alone" registered_as "$newer_version"

phase "MSI: removing"
check "msiexec /x ends with 0" msiexec_ends_with 0 remove.log /x "$(winpath "$newer")"
check "removal deletes the program files" program_files_gone
check "removal deletes the shortcuts" shortcuts_gone
check "removal deletes the entry in the list of programs" not_registered
check "removal keeps the clinic's connector.json" holds_clinic_config
[ "$failures" = 0 ] || { echo "the msiexec logs are in $logs" >&2; exit 1; }
