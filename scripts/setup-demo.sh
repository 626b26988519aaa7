#!/bin/sh
# Lays out a demo workstation with the simulators: an audiometry installation, a polysomnography
# installation with its stand-in database and measurements, the audiometry installer archive as the
# download server offers it, and a connector configuration.
#   scripts/setup-demo.sh BUILD_DIR DEMO_DIR
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:?usage: setup-demo.sh BUILD_DIR DEMO_DIR}" && pwd)
demo=${2:?usage: setup-demo.sh BUILD_DIR DEMO_DIR}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
rm -rf "$demo/helix" "$demo/somnopanel" "$demo/download"

scripts/install-helix-simulator.sh "$build/simulators/helix/helix-simulator" "$demo/helix" \
    '{ "delay_ms": 1500, "chunks": 3, "chunk_delay_ms": 200, "idle_exit_ms": 600000 }' >/dev/null
"$build/simulators/somnopanel/somnodb-tool" demo "$demo/somnopanel" >/dev/null

# The installer archive under the download server's path; unpacked into <desktop>/HelixSetup/, it must hold
# HelixSetup.exe at its top. The stand-in installer notes where it ran, the way the real one starts there.
sevenzip=$(command -v 7zz || command -v 7z || true)
[ -n "$sevenzip" ] || { echo "setup-demo.sh: 7-Zip (7zz or 7z) is needed for the installer archive" >&2; exit 1; }
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cat >"$staging/HelixSetup.exe" <<'INSTALLER'
#!/bin/sh
# Stand-in for the audiometry application's installer: notes the folder it was started in and ends.
pwd > HelixSetup.started
INSTALLER
chmod 755 "$staging/HelixSetup.exe"
mkdir -p "$demo/download/audiometry/helix"
(cd "$staging" && "$sevenzip" a -tzip -bso0 "$demo/download/audiometry/helix/version_1.0.zip" HelixSetup.exe)

# The demo's own application folders are listed, so its page is served without a question about them.
python3 - "$demo" <<'CONFIG'
import json, sys
demo = sys.argv[1]
with open('examples/connector.json') as example:
    config = json.load(example)
config['application_folders'] = [demo + '/helix/', demo + '/somnopanel/']
with open(demo + '/connector.json', 'w') as file:
    json.dump(config, file, indent=4)
    file.write('\n')
CONFIG
cp packaging/favicon.png "$demo/favicon.png"
echo "Demo installations in $demo: helix/ (audiometry), somnopanel/ (polysomnography), download/ (the installer" \
    "archive), connector.json"
