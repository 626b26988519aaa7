#!/bin/sh
# The 32-bit check's outcomes, with stand-ins for Wine's 32-bit loader: one that answers as Wine does, one
# that the kernel refuses as hosts without IA-32 emulation refuse every 32-bit program (an ELF header of an
# unknown machine: "Exec format error"), ones that start and fail or are not Wine, and one that is not
# installed.
#   scripts/windows/test-host32.sh
set -eu
. "$(dirname "$0")/host32.sh"
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
printf '#!/bin/sh\necho "wine-8.0 (Debian 8.0~repack-4)"\n' >"$stubs/answers"
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\231\231\001\000\000\000' >"$stubs/refused"
printf '#!/bin/sh\necho "wine: could not load kernel32.dll, status c0000135" >&2\nexit 1\n' >"$stubs/fails"
printf '#!/bin/sh\necho "Usage: not Wine"\n' >"$stubs/other"
printf '#!/bin/sh\necho "wine-8.0 (Debian 8.0~repack-4)"\nexit 134\n' >"$stubs/crashes"
chmod +x "$stubs"/*

passed=0 failed=0
# expect WANTED_STATUS WANTED_REASON_PART LOADER
expect() {
    got=0
    host_runs_32bit "$3" || got=$?
    case $got:$no_32bit_reason in
    "$1":*"$2"*)
        passed=$((passed + 1))
        ;;
    *)
        failed=$((failed + 1))
        echo "FAIL $3: status $got, reason \"$no_32bit_reason\"; wanted status $1 and \"$2\""
        ;;
    esac
}
expect 0 "" "$stubs/answers"
expect 1 "status 126: " "$stubs/refused"
expect 1 "Exec format error" "$stubs/refused"
expect 1 "status 1: wine: could not load kernel32.dll" "$stubs/fails"
expect 1 "status 0: Usage: not Wine" "$stubs/other"
expect 1 "status 134: wine-8.0" "$stubs/crashes"
expect 1 "$stubs/missing is not installed" "$stubs/missing"
echo "32-bit check: $passed passed, $failed failed"
[ "$failed" = 0 ]
