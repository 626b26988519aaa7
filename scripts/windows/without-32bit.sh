#!/bin/sh
# Runs a command as on a host that cannot execute 32-bit programs (IA-32 emulation off): in a private mount
# namespace, Wine's 32-bit loader and server and the 32-bit dynamic loader are covered by a file that the
# kernel refuses as it refuses every 32-bit program there, with "Exec format error". For trying the
# Windows stage on such a host:
#   scripts/windows/without-32bit.sh scripts/windows/lane.sh      (as root)
set -eu
refused=$(mktemp)
# An ELF header of a machine no kernel runs.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\231\231\001\000\000\000' >"$refused"
chmod 755 "$refused"
exec unshare --mount --propagation private -- sh -c '
    set -eu
    refused=$1
    shift
    for program in /usr/lib/wine/wine /usr/lib/wine/wineserver32 /lib/ld-linux.so.2; do
        if [ -e "$program" ]; then
            mount --bind "$refused" "$(readlink -f "$program")"
        fi
    done
    # The mounts keep the file; its name is not needed any more.
    rm -f "$refused"
    exec "$@"' sh "$refused" "$@"
