#!/bin/sh
# Under Wine, in a Wine prefix of its own: the portable tests as Windows programs, a smoke run of the
# staged connector driven over ws://127.0.0.1:1024, the MSI package (msi-checks.sh) and, where this host
# executes 32-bit programs, the Inno Setup installer (inno-checks.sh, under Xvfb).
#   scripts/windows/wine-checks.sh WORK [STARTED]    (WORK as left by lane.sh; run in a private network)
# Every Windows program runs with Wine's 64-bit loader (scripts/windows/wine64); Inno Setup's compiler and
# setup are 32-bit. LANE_32BIT=yes or no says what lane.sh found; LANE_NO_32BIT_REASON why not.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
work=$1
started=${2:-$(date +%s)}
qt=$work/sdk/qt6-mingw

# Nothing of the machine's own Wine or desktop folders is used.
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all HOME="$work/home"
. "$root/scripts/windows/checks-lib.sh"
# Every Windows program of this private prefix was started here; none outlives the run, failed or not.
trap 'wineserver -k 2>/dev/null || true' EXIT

phase "Making a Wine prefix"
rm -rf "$WINEPREFIX" "$HOME"
mkdir -p "$HOME"
# Made by the 64-bit loader, the prefix also holds the 32-bit half where this host runs it; elsewhere
# Wine says once that it could not start syswow64\rundll32.exe.
"$wine64" wineboot -i >/dev/null 2>&1
# Wine hands no QT_* variable of the Linux environment to Windows programs; these reach every program
# of the prefix. Debug and test output go to the error output instead of the Windows debug log.
"$wine64" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null
"$wine64" reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null
"$wine64" reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f >/dev/null
# The connector runs on Windows 10 1809 and later; Wine 8 says Windows 7 unless told otherwise.
set_windows_version win10
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
"$wine64" "$somno_tools/somnodb-tool.exe" demo 'C:\Clinic\SomnoPanel Demo' >/dev/null
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
wineserver -k || true
wineserver -w

sh "$tools/msi-checks.sh" "$work" "$started"
# Both installers install into the same folder and keep connector.json there; the Inno Setup checks start
# from a machine without the connector, as the MSI checks did.
rm -rf "$app"

if [ "${LANE_32BIT:-no}" != yes ]; then
    echo "-- Inno Setup installer not compiled, installed, updated or removed: its compiler and setup are 32-bit" \
        "Windows programs, and this host cannot execute 32-bit programs (${LANE_NO_32BIT_REASON:-not checked})"
    exit 0
fi
# A wineserver left from headless programs breaks window creation under Xvfb.
wineserver -k || true
wineserver -w
exec xvfb-run -a -s '-nolisten tcp' sh "$tools/inno-checks.sh" "$work" "$started"
