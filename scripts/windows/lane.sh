#!/bin/sh
# The Windows stage: cross-builds the connector, the simulators and the portable tests with MinGW-w64
# against the Qt 6 SDK in ../shared/windows-sdk, stages the files as the installers ship them, builds the
# MSI package, then under Wine runs the portable tests, a smoke run of the connector, the MSI package
# (install, repair, upgrade, removal) and the Inno Setup installer (install, update, removal).
#   scripts/windows/lane.sh
# Windows programs run with Wine's 64-bit loader on every host. Inno Setup's compiler and setup are 32-bit:
# where the host cannot execute 32-bit programs, the stage says so in one line and leaves that part out.
# WINDOWS_SDK_DIR overrides where the SDK is looked for. Without the SDK the stage says so and is skipped,
# unless CONNECTOR_REQUIRE_WINDOWS=1 (as in CI), which makes a missing SDK an error.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
sdk=${WINDOWS_SDK_DIR:-$root/../shared/windows-sdk}
archive=$sdk/qt6.4.2-mingw64.tar.zst
if [ ! -f "$archive" ]; then
    if [ "${CONNECTOR_REQUIRE_WINDOWS:-0}" = 1 ]; then
        echo "Windows stage: no Windows SDK at $sdk, and this run requires it (WINDOWS_SDK_DIR)" >&2
        exit 1
    fi
    echo "Windows stage skipped: no Windows SDK at $sdk (set WINDOWS_SDK_DIR to its folder)"
    exit 0
fi
sdk=$(cd "$sdk" && pwd)
scripts/install-deps.sh windows
work=$root/build-ci-windows
qt=$work/sdk/qt6-mingw
started=$(date +%s)
phase() { printf -- '-- %s (%s s)\n' "$1" "$(($(date +%s) - started))"; }

# Asked once: Inno Setup's part runs only where this host executes 32-bit programs.
. scripts/windows/host32.sh
if host_runs_32bit; then
    export LANE_32BIT=yes
    phase "This host executes 32-bit programs"
else
    export LANE_32BIT=no LANE_NO_32BIT_REASON="$no_32bit_reason"
    phase "This host cannot execute 32-bit programs: $no_32bit_reason"
fi

phase "Unpacking the Qt 6 MinGW SDK"
rm -rf "$work"
mkdir -p "$work/sdk"
zstd -dc "$archive" | tar -C "$work/sdk" -xf -

# The committed icon must be the one made from the window icon.
python3 scripts/windows/make-icon.py packaging/favicon.png "$work/icon-check.ico"
if ! cmp -s "$work/icon-check.ico" packaging/windows/sanvero-connector.ico; then
    echo "packaging/windows/sanvero-connector.ico is not made from packaging/favicon.png:" \
        "run scripts/windows/make-icon.py packaging/favicon.png packaging/windows/sanvero-connector.ico" >&2
    exit 1
fi

phase "Cross-building for Windows"
"$qt/bin/qt-cmake" -S . -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCONNECTOR_QT6=ON \
    -DCONNECTOR_WERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/windows/wine64" >/dev/null
nice cmake --build "$work/build" -j"$(nproc)"

phase "Staging"
scripts/windows/stage.sh "$work/build" "$work/staging" "$qt" "$sdk/7-Zip"
npm ci --prefix scripts/windows --no-audit --no-fund --silent

phase "Building the MSI package"
# The project's version, with a build field; the upgrade check's newer package has the next build.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/CMakeCache.txt")
case $version in *.*.*) ;; *) version=$version.0 ;; esac
newer_version=${version%.*}.$((${version##*.} + 1))
scripts/windows/build-msi.sh "$work/staging" "$version" "$work/msi/sanvero-connector.msi"
scripts/windows/build-msi.sh "$work/staging" "$newer_version" "$work/msi/newer/sanvero-connector.msi"
echo "$version" >"$work/msi/version"
echo "$newer_version" >"$work/msi/newer/version"

# Port 1024 and the download server live in a private network namespace, as for the Linux tests.
scripts/in-test-network.sh sh scripts/windows/wine-checks.sh "$work" "$started"
phase "Windows stage passed"
