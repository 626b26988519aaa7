#!/bin/sh
# Compiles the Windows platform files that need no Qt with the MinGW-w64 cross compiler, so the
# Windows branch is at least built on every change. Files that include Qt headers are listed and
# left out: they need a Windows build of Qt.
# Exit status: 0 all compiled, 1 a file failed, 77 no cross compiler installed.
set -u
compiler=${MINGW_CXX:-x86_64-w64-mingw32-g++}
root=$(cd "$(dirname "$0")/.." && pwd)

if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "check-windows-platform: $compiler not found (Debian package g++-mingw-w64-x86-64)" >&2
    exit 77
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
for file in "$root"/src/platform/*_windows.cpp; do
    [ -e "$file" ] || continue
    name=$(basename "$file" .cpp)
    if grep -Eq '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
        echo "check-windows-platform: $name needs Qt, not compiled here"
        continue
    fi
    if "$compiler" -std=c++17 -Wall -Wextra -Werror -I"$root/src" -c "$file" -o "$out/$name.o"; then
        echo "check-windows-platform: $name compiled"
    else
        echo "check-windows-platform: $name FAILED" >&2
        status=1
    fi
done
exit $status
