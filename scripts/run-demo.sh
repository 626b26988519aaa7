#!/bin/sh
# Installs what is missing, builds the connector and its simulators, lays out a demo workstation,
# serves the demo page on http://localhost:8080 and the audiometry installer archive on
# http://127.0.0.1:8081 (the demo configuration's "download_server"), and runs the connector until Ctrl-C.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
scripts/build.sh build -DCONNECTOR_TESTS=OFF -DCONNECTOR_BENCH=OFF
scripts/setup-demo.sh build demo

# Without a display the connector's window is drawn off screen; the page works the same.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi

python3 -m http.server 8080 --bind 127.0.0.1 --directory web >/dev/null 2>&1 &
web_server=$!
python3 -m http.server 8081 --bind 127.0.0.1 --directory demo/download >/dev/null 2>&1 &
download_server=$!
trap 'kill $web_server $download_server 2>/dev/null' EXIT INT TERM

query="helixPath=$root/demo/helix/&somnoPath=$root/demo/somnopanel/"
echo
echo "Demo page:  http://localhost:8080/demo.html?$(printf '%s' "$query" | sed 's/ /%20/g')"
echo "Connector:  ws://localhost:1024 (Ctrl-C stops it)"
echo "Download:   http://127.0.0.1:8081: \"Install audiometry\" unpacks the installer onto your desktop"
echo
cd demo
"$root/build/src/sanvero-connector" connector.json
