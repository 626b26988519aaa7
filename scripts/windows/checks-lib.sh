# What the Windows stage's checks under Wine share: sourced by wine-checks.sh, msi-checks.sh and
# inno-checks.sh, with $root, $work, $started and WINEPREFIX set.
tools=$root/scripts/windows
wine64=$tools/wine64
app="$WINEPREFIX/drive_c/Program Files/SANvero Connector"
startup_folder="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp"
logon_shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\SANvero Connector.lnk'
# The clinic lists its application folders, so the registration check is served without a question.
clinic_config='{"sessionids": "", "allowed_origins": ["https://care.example.org"], "application_folders": ["C:\\Clinic\\SomnoPanel Demo\\"]}'
failures=0

phase() { printf -- '-- %s (%s s)\n' "$1" "$(($(date +%s) - started))"; }
# Wine's Z: drive is the Linux root.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# set_windows_version VERSION: the Windows version that Wine reports to every program (winecfg -v). A failure
# says how winecfg ended and what Wine's error channel reports on a second try, never silently; it still fails.
set_windows_version() {
    "$wine64" winecfg -v "$1" && return 0
    status=$?
    echo "winecfg -v $1 ended with status $status; Wine's errors on a second try (for the record only):"
    WINEDEBUG=err+all "$wine64" winecfg -v "$1" 2>&1 | tail -n 20
    return "$status"
}

# check DESCRIPTION COMMAND...: runs the command and counts a failure.
check() {
    what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

# What the connector cannot work without, installed.
installed_tree() {
    for file in sanvero-connector.exe connector.json favicon.png Qt6Core.dll platforms/qwindows.dll \
        tls/qschannelbackend.dll sqldrivers/qsqlodbc.dll sqldrivers/qsqlite.dll 7-Zip/7z.exe; do
        [ -f "$app/$file" ] || { echo "not installed: $file"; return 1; }
    done
}
program_files_gone() {
    [ ! -e "$app/sanvero-connector.exe" ] && [ ! -e "$app/Qt6Core.dll" ] && [ ! -e "$app/7-Zip/7z.exe" ]
}
# The installed files, one relative path a line, sorted; the configuration and each installer's own files
# left out, so that both installers' trees compare.
program_files() {
    (cd "$app" && find . -type f ! -name connector.json ! -name connector.default.json ! -name 'unins000.*' |
        sed 's|^\./||' | LC_ALL=C sort)
}
holds_default_config() {
    cmp -s "$app/connector.json" "$root/packaging/windows/connector.json"
}
holds_clinic_config() {
    printf '%s\n' "$clinic_config" | cmp -s - "$app/connector.json"
}
write_clinic_config() {
    printf '%s\n' "$clinic_config" >"$app/connector.json"
}
start_by_logon_shortcut() {
    "$wine64" start "$logon_shortcut"
}
# Wine's taskkill finds no process by its image name, so the prefix's own server ends every program of
# this private prefix instead.
stop_connector() {
    wineserver -k || true
    wineserver -w
}
answers() {
    node "$tools/drive-connector.mjs" answers "$@"
}
