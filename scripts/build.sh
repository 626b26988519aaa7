#!/bin/sh
# Configures and builds the connector, its simulators and its tests.
#   scripts/build.sh BUILD_DIR [extra CMake arguments...]
set -eu
cd "$(dirname "$0")/.."
build_dir=${1:-build}
[ $# -gt 0 ] && shift
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONNECTOR_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
