# Whether this host executes 32-bit programs: sourced by the Windows stage, which asks once.
# Some hosts cannot (the kernel's IA-32 emulation is off): Wine's 32-bit loader then ends with "Exec
# format error". Inno Setup's compiler and setup are 32-bit; everything else runs with the 64-bit loader.
#
# host_runs_32bit [LOADER]: status 0 when LOADER (default /usr/lib/wine/wine) answers --version as Wine;
# otherwise status 1, with the reason in $no_32bit_reason.
host_runs_32bit() {
    loader=${1:-/usr/lib/wine/wine}
    no_32bit_reason=
    if [ ! -f "$loader" ]; then
        no_32bit_reason="$loader is not installed"
        return 1
    fi
    status=0
    answer=$("$loader" --version 2>&1) || status=$?
    case $status:$answer in
    0:wine-*) return 0 ;;
    esac
    no_32bit_reason="$loader --version ends with status $status: $(printf '%s\n' "$answer" | tail -n 1)"
    return 1
}
