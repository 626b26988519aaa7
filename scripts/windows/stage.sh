#!/bin/sh
# Lays out the Windows connector as it is installed: the executable with its window icon, the Qt and
# MinGW runtime DLLs and the plugin folders as windeployqt places them (platforms, tls, sqldrivers,
# styles, imageformats), and 7-Zip in the folder "7-Zip" beside the executable. The Inno Setup script
# packs this folder and the Windows lane runs the connector from it, so both see the same files.
#   scripts/windows/stage.sh BUILD_DIR STAGING_DIR QT_SDK_DIR SEVEN_ZIP_DIR
# BUILD_DIR is a finished Windows build; QT_SDK_DIR the unpacked qt6-mingw folder; SEVEN_ZIP_DIR holds
# 7z.exe (and 7z.dll when it is not the standalone console build).
set -eu
[ $# -eq 4 ] || { echo "usage: $0 BUILD_DIR STAGING_DIR QT_SDK_DIR SEVEN_ZIP_DIR" >&2; exit 2; }
build=$1 staging=$2 qt=$3 sevenzip=$4
exe=sanvero-connector.exe

rm -rf "$staging"
cmake --install "$build" --prefix "$staging" >/dev/null
# The SDK's stand-in for windeployqt: the DLLs the executable and the plugins import, and the plugins.
# It copies the executable too, so it is given the built one, not the installed copy in place.
"$qt/bin/qt-mingw-deploy" "$build/src/$exe" "$staging/bin"
cmp -s "$build/src/$exe" "$staging/bin/$exe"

mkdir -p "$staging/bin/7-Zip"
for file in 7z.exe 7z.dll License.txt; do
    if [ -f "$sevenzip/$file" ]; then
        cp "$sevenzip/$file" "$staging/bin/7-Zip/"
    fi
done

# What the connector cannot work without, each named so a missing one is plain in the log.
status=0
for file in "$exe" Qt6Core.dll Qt6Network.dll Qt6Sql.dll platforms/qwindows.dll tls/qschannelbackend.dll \
    sqldrivers/qsqlodbc.dll sqldrivers/qsqlite.dll libstdc++-6.dll libwinpthread-1.dll 7-Zip/7z.exe; do
    if [ ! -f "$staging/bin/$file" ]; then
        echo "stage: $file missing from $staging/bin" >&2
        status=1
    fi
done
exit $status
