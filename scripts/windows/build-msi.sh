#!/bin/sh
# Builds the MSI package of the staged Windows connector with Debian's wixl (package "wixl"):
# packaging/windows/sanvero-connector.wxs and a list of the staged files, the same ones the Inno Setup
# script packs: the staging folder's bin without other SQL drivers than ODBC and SQLite, without anything
# in 7-Zip but 7z.exe, 7z.dll and License.txt, without a configuration and an MSVC runtime installer.
#   scripts/windows/build-msi.sh STAGING_DIR VERSION OUTPUT.msi
# VERSION is major.minor or major.minor.build (the project's version; CI passes a higher build for the
# "newer" package of its upgrade check).
set -eu
[ $# -eq 3 ] || { echo "usage: $0 STAGING_DIR VERSION OUTPUT.msi" >&2; exit 2; }
staging=$1 version=$2 output=$3
bin=$(cd "$staging/bin" && pwd)
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
packaging=$(cd "$(dirname "$0")/../../packaging/windows" && pwd)

case $version in
*.*.*.*) echo "build-msi: Windows Installer compares three fields of a version, not $version" >&2; exit 2 ;;
*.*.*) ;;
*.*) version=$version.0 ;;
*) echo "build-msi: version $version is not major.minor[.build]" >&2; exit 2 ;;
esac
build=${version##*.}
upgrade_below=${version%.*}.$((build + 1))

listed=$(mktemp -d)
trap 'rm -rf "$listed"' EXIT
(cd "$bin" && find . -type f | sed 's|^\./||') >"$listed/all"
status=0
for required in sanvero-connector.exe sqldrivers/qsqlodbc.dll 7-Zip/7z.exe; do
    grep -q -x -F "$required" "$listed/all" || { echo "build-msi: $required missing from $bin" >&2; status=1; }
done
[ "$status" = 0 ] || exit 1
# The executable is in the main source, with its shortcuts; of sqldrivers and 7-Zip only what the connector
# uses; no configuration and no MSVC runtime installer.
{
    grep -v -x -E 'sanvero-connector\.exe|connector\.json|vc_redist[^/]*\.exe|(sqldrivers|7-Zip)/.*' "$listed/all" || true
    grep -x -E 'sqldrivers/qsql(odbc|ite)\.dll|7-Zip/(7z\.exe|7z\.dll|License\.txt)' "$listed/all" || true
} >"$listed/files"

# wixl-heat makes a folder of each run of files in one folder, so the list is sorted by folder first. It
# names folders and components after a hash of their path, so the names stay the same from build to build.
awk '{ folder = $0; sub(/[^\/]*$/, "", folder); print folder "\t" $0 }' "$listed/files" | sort | cut -f2 |
    sed 's|^|bin/|' |
    wixl-heat -p bin/ --directory-ref INSTALLDIR --component-group StagedFiles --var var.StagingBin --win64 \
        >"$listed/files.wxs"
# wixl finds sources only by paths relative to the working folder.
ln -s "$bin" "$listed/bin"
cp "$packaging/connector.json" "$packaging/sanvero-connector.ico" "$listed/"
# wixl's warnings name the attributes it ignores: none may pass unseen.
status=0
(cd "$listed" && wixl -a x64 -D ProductVersion="$version" -D UpgradeBelow="$upgrade_below" -D StagingBin=bin \
    -D ConfigFile=connector.json -D Win64=yes -o "$output" "$packaging/sanvero-connector.wxs" files.wxs) \
    2>"$listed/warnings" || status=$?
if [ "$status" != 0 ] || [ -s "$listed/warnings" ]; then
    cat "$listed/warnings" >&2
    echo "build-msi: wixl failed (status $status) or ignored part of the package source" >&2
    rm -f "$output"
    exit 1
fi
