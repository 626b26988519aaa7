#!/bin/sh
# Runs every benchmark against a build and prints the figures.
#   bench/run.sh BUILD_DIR [quick]
# "quick" uses smaller counts (the full audiometry run delivers 1000 results, one per poll tick: about 8 minutes).
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
quick=${2:-}
export CONNECTOR_BIN="$build/src/sanvero-connector"
export CONNECTOR_BUILD_DIR="$build" CONNECTOR_SOURCE_DIR="$(pwd)" QT_QPA_PLATFORM=offscreen
[ -d bench/node_modules/ws ] || npm ci --prefix bench --no-audit --no-fund --silent

run() { printf '\n== %s\n' "$*"; scripts/in-test-network.sh "$@"; }
if [ "$quick" = quick ]; then
    run "$build/bench/channel/bench_roundtrip" "$CONNECTOR_BIN" 5000
    run "$build/bench/channel/bench_channel_memory" "$CONNECTOR_BIN" 2000 100
    run "$build/bench/audiometry/audiometry-bench" 30 50
    run "$build/bench/polysomnography/bench_polysomno" 50 200
    run "$build/bench/installation/bench_installation" 50
else
    run "$build/bench/channel/bench_roundtrip" "$CONNECTOR_BIN" 20000
    run "$build/bench/channel/bench_channel_memory" "$CONNECTOR_BIN" 10000 500
    run "$build/bench/audiometry/audiometry-bench" 100 1000
    run "$build/bench/polysomnography/bench_polysomno" 200 1000
    run "$build/bench/installation/bench_installation" 200
fi
