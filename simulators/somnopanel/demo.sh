#!/bin/sh
# Sets up a demo polysomnography installation and a connector configuration, and says how to use them.
#   simulators/somnopanel/demo.sh [BUILD_DIR] [DEMO_DIR]     (defaults: build, demo)
set -eu
build=$(cd "${1:-build}" && pwd)
mkdir -p "${2:-demo}"
demo=$(cd "${2:-demo}" && pwd)
installation="$demo/SomnoPanel Demo"

if [ -e "$installation" ]; then
    echo "$installation exists already; remove it for a fresh demo" >&2
    exit 1
fi
"$build/simulators/somnopanel/somnodb-tool" demo "$installation"
# The demo's installation is listed, so its registration is served without a question about the folder.
python3 -c 'import json, sys; print(json.dumps({"sessionids": "demo", "application_folders": [sys.argv[1] + "/"]}, indent=4))' \
    "$installation" > "$demo/connector.json"

cat <<EOT

Start the connector (it listens on port 1024):
  (cd "$demo" && "$build/src/sanvero-connector" connector.json)
Register a patient as the page would, from another terminal:
  "$build/simulators/somnopanel/somno-page" --code DEMO-0003 --first-name Garcia --last-name Lucia "$installation/"
See the patient in the stand-in database and the recorded start of the stand-in application:
  "$build/simulators/somnopanel/somnodb-tool" list "$installation/SomnoDB/SomnoDB.mdb"
  cat "$installation/bin/SomnoPanel.starts"
EOT
