#!/bin/sh
# Installs what is missing, builds from scratch and runs every test:
# Qt 5 (the product's line) and Qt 6 builds, a sanitizer build, the JavaScript client and the demo page
# in real browsers (Chromium, also from a public HTTPS origin, and Firefox ESR), the Windows product (cross-built, installed and run under Wine), the fuzzers and
# formatting. The Windows stage needs ../shared/windows-sdk (or WINDOWS_SDK_DIR); without it the stage is
# skipped, unless CONNECTOR_REQUIRE_WINDOWS=1 (set by .ci/run).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}
results="$root/test-artifacts"
rm -rf "$results" && mkdir -p "$results"

step() { printf '\n==== %s (%s)\n' "$1" "$(date +%H:%M:%S)"; }

step "Installing dependencies"
scripts/install-deps.sh
# The window tests start their own Xvfb, which keeps its socket here.
mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix

step "Formatting"
unformatted=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c warning || true)
if [ "$unformatted" != 0 ]; then
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep warning | head -20
    echo "Sources are not formatted with .clang-format"
    exit 1
fi

# Every test runs in a private network and process namespace, so nothing else on the machine holds port
# 1024 or counts as a running Helix.exe; the ones labelled "root" need it (an address beside loopback), the
# others pass outside it too. The fixed-port tests (SERIAL) run one at a time either way.
run_ctest() {
    dir=$1
    shift
    scripts/in-test-network.sh ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 -LE root "$@"
    scripts/in-test-network.sh ctest --test-dir "$dir" --output-on-failure --timeout 600 -L root "$@"
}

step "Layers"
scripts/check-layers.sh

step "Qt 5 build"
rm -rf build-ci-qt5
scripts/build.sh build-ci-qt5 -DCONNECTOR_BENCH=ON
step "Qt 5 tests"
run_ctest build-ci-qt5

step "JavaScript client tests"
node --test tests/web/

step "Demo page in a real browser"
npm ci --prefix tests/browser --no-audit --no-fund --silent
demo_dir=$(mktemp -d)
scripts/setup-demo.sh build-ci-qt5 "$demo_dir"
# The demo configuration lets in the demo page's own origin, http://127.0.0.1:8080. Chromium and Firefox ESR;
# the public-origin test serves the page as https://care.example.org from a public address of the private network.
# The files take turns: each starts the connector on port 1024.
CONNECTOR_BIN="$root/build-ci-qt5/src/sanvero-connector" DEMO_DIR="$demo_dir" DEMO_HTTP_PORT=8080 \
    timeout 600 scripts/in-test-network.sh node --test --test-concurrency=1 tests/browser/
rm -rf "$demo_dir"

step "Qt 6 build"
rm -rf build-ci-qt6
scripts/build.sh build-ci-qt6 -DCONNECTOR_QT6=ON -DCONNECTOR_BENCH=OFF
step "Qt 6 tests"
run_ctest build-ci-qt6

step "Windows: cross build with Qt 6, tests, smoke run, MSI and installer under Wine"
scripts/windows/test-host32.sh
scripts/windows/lane.sh

step "Address and undefined-behaviour sanitizer build"
rm -rf build-ci-asan
scripts/build.sh build-ci-asan -DCONNECTOR_SANITIZERS=ON -DCONNECTOR_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
step "Tests under sanitizers"
# Qt keeps some allocations until exit by design; released objects are counted by the channel tests and
# memory is measured by the benchmarks instead.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest build-ci-asan

step "Fuzzing, ${fuzz_seconds} s per target"
rm -rf build-ci-fuzz
CC=clang CXX=clang++ scripts/build.sh build-ci-fuzz -DCONNECTOR_FUZZ=ON -DCONNECTOR_TESTS=OFF -DCONNECTOR_BENCH=OFF
for target in build-ci-fuzz/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    cp fuzz/corpus/"${name#fuzz_}"/* "$corpus"/
    # Qt's JSON parser keeps some memory on malformed input; leaks are not what these targets look for.
    status=0
    ASAN_OPTIONS=detect_leaks=0 "$target" -max_total_time="$fuzz_seconds" -max_len=65536 -detect_leaks=0 \
        -artifact_prefix="$results/$name-" "$corpus" >"$results/$name.log" 2>&1 || status=$?
    printf '%s: %s\n' "$name" "$(grep -a -E '^Done [0-9]+ runs' "$results/$name.log" || echo 'no summary')"
    rm -rf "$corpus"
    if [ "$status" != 0 ]; then
        tail -n 40 "$results/$name.log"
        echo "$name found a failure; the input is in $results"
        exit 1
    fi
done

step "All tests passed"
