#!/bin/sh
# Runs a command in a private network namespace: its own loopback (so the fixed port 1024 is free
# whatever else runs on the machine) and one non-loopback address, 192.0.2.1 (a documentation
# address that is never routed), for the tests that check what a non-loopback peer can reach.
set -e
if [ "${CONNECTOR_IN_TEST_NETWORK:-}" = 1 ]; then
    exec "$@"
fi
exec unshare --net -- sh -c '
    set -e
    ip link set lo up
    ip link add veth-test0 type veth peer name veth-test1
    ip addr add 192.0.2.1/24 dev veth-test0
    ip link set veth-test0 up
    ip link set veth-test1 up
    CONNECTOR_IN_TEST_NETWORK=1 exec "$@"' sh "$@"
