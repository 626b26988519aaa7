#!/bin/sh
# Installs the audiometry simulator into a folder as Helix.exe, the way the connector expects the
# audiometry application: <folder>/Helix.exe with its exchange folder <folder>/XCHG.
#   install-helix-simulator.sh <built helix-simulator> <folder> [settings JSON]
# The settings default to a two-second exam; see simulators/helix/main.cpp for the keys.
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 <helix-simulator binary> <folder> [settings JSON]" >&2
    exit 2
fi
binary=$1
folder=$2
settings=${3:-'{ "delay_ms": 2000, "chunks": 3, "chunk_delay_ms": 200, "idle_exit_ms": 600000 }'}

mkdir -p "$folder/XCHG"
cp "$binary" "$folder/Helix.exe"
chmod 755 "$folder/Helix.exe"
printf '%s\n' "$settings" > "$folder/helix-simulator.json"
folder=$(cd "$folder" && pwd)
echo "Audiometry simulator installed as $folder/Helix.exe"
envelope="{\"type\": \"AUDIOMETRY\", \"appPath\": \"$folder/\", \"args\": {\"command\": \"START_AUDIOMETRY\", \"patient\": {\"first_name\": \"Sample\", \"last_name\": \"Patient\", \"birth_date\": \"07/03/1985\", \"code\": \"P0042\", \"gender\": 1, \"height\": 170, \"weight\": 65}}}"
echo "With the connector running, send it this command from a page, for example the browser's console:"
echo "ws = new WebSocket(\"ws://127.0.0.1:1024\"); ws.onmessage = m => console.log(m.data);"
echo "ws.onopen = () => ws.send(JSON.stringify($envelope));"
