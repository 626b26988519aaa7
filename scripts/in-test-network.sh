#!/bin/sh
# Runs a command in a private network and process namespace: its own loopback (so the fixed port 1024 is
# free whatever else runs on the machine), one non-loopback address, 192.0.2.1 (a documentation address
# that is never routed), for the tests that check what a non-loopback peer can reach, and its own process
# list (/proc shows only what runs inside, so another run's Helix.exe is not seen as running). Whatever the
# command leaves running ends with it. Needs root.
set -e
if [ "${CONNECTOR_IN_TEST_NETWORK:-}" = 1 ]; then
    exec "$@"
fi
# unshare waits for the namespace with SIGINT and SIGTERM blocked, so this script takes them and ends
# unshare, and with it (--kill-child) the namespace's first process and everything in the namespace. A
# command started in the background would find its standard input closed and SIGINT ignored: both are
# given back.
exec 3<&0
env --default-signal=INT,QUIT unshare --net --pid --fork --kill-child --mount-proc -- sh -c '
    set -e
    ip link set lo up
    ip link add veth-test0 type veth peer name veth-test1
    ip addr add 192.0.2.1/24 dev veth-test0
    # No IPv6 link-local address: it would appear a moment after the link comes up, and a browser started
    # meanwhile sees the network change under its requests (ERR_NETWORK_CHANGED).
    ip link set veth-test0 addrgenmode none
    ip link set veth-test1 addrgenmode none
    ip link set veth-test0 up
    ip link set veth-test1 up
    # The first process stays this shell, which waits for the command and reaps what it leaves behind. A
    # program whose parent is process 1 counts as orphaned: Xvfb, for one, then never reports that it is
    # ready, and xvfb-run waits for ever.
    CONNECTOR_IN_TEST_NETWORK=1 "$@"' sh "$@" <&3 3<&- &
namespace=$!
exec 3<&-
trap 'kill -KILL "$namespace" 2>/dev/null || true' INT TERM HUP
status=0
wait "$namespace" || status=$?
# A signal ends the wait early: wait for unshare to end too.
while kill -0 "$namespace" 2>/dev/null; do
    wait "$namespace" || status=$?
done
exit "$status"
