#!/bin/sh
# Lays out a demo workstation with the simulators: an audiometry installation, a polysomnography
# installation with its stand-in database and measurements, and a connector configuration.
#   scripts/setup-demo.sh BUILD_DIR DEMO_DIR
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:?usage: setup-demo.sh BUILD_DIR DEMO_DIR}" && pwd)
demo=${2:?usage: setup-demo.sh BUILD_DIR DEMO_DIR}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
rm -rf "$demo/helix" "$demo/somnopanel"

scripts/install-helix-simulator.sh "$build/simulators/helix/helix-simulator" "$demo/helix" \
    '{ "delay_ms": 1500, "chunks": 3, "chunk_delay_ms": 200, "idle_exit_ms": 600000 }' >/dev/null
"$build/simulators/somnopanel/somnodb-tool" demo "$demo/somnopanel" >/dev/null
cp examples/connector.json "$demo/connector.json"
cp packaging/favicon.png "$demo/favicon.png"
echo "Demo installations in $demo: helix/ (audiometry), somnopanel/ (polysomnography), connector.json"
