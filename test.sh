#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the framer's fuzz
# target for a minute, the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the whole suite in the normal build, and ./run.sh
# built without the test-only packages. Compiler warnings are errors in the
# first three.
#
#   FUZZ_SECONDS=10 ./test.sh    a shorter fuzzing run
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

echo "== fuzzing the record framer (${FUZZ_SECONDS:-60} s)"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALVERN_FUZZ=ON -DTALVERN_WERROR=ON >/dev/null
cmake --build build-fuzz
corpus=$(mktemp -d)
# What each test runner said, for the count at the end.
said=$(mktemp)
trap 'rm -rf "$corpus" "$said"' EXIT
build-fuzz/fuzz/framer_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 \
    "$corpus" 2>&1 | grep -E '^(stat::number_of_executed_units|==|SUMMARY|Done)' || true
test "${PIPESTATUS[0]}" -eq 0

echo "== every test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVERN_SANITIZE=ON \
    -DTALVERN_WERROR=ON >/dev/null
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure --parallel 2 | tee -a "$said"

echo "== every test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERN_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure --parallel 2 | tee -a "$said"

echo "== the run command, without the test-only packages"
tests/run_command_test.sh && echo "run command: 1 test passed" >>"$said"

# The Windows program: cross-built, packaged as an installer and tested under
# Wine. The first run builds Qt for Windows once (about 22 minutes on an idle
# two-core machine); TALVERN_SKIP_WINDOWS=1 leaves this part out.
if [ "${TALVERN_SKIP_WINDOWS:-0}" != 1 ]; then
    echo "== the Windows program and its installer, tested under Wine"
    ./windows.sh test | tee -a "$said"
fi

# Any failure has ended this script before here; the count of what passed.
awk '/tests passed, 0 tests failed out of/ { n += $NF } /^run command: 1 test passed$/ { n++ }
     END { printf "all: %d passed, 0 failed\n", n }' "$said"
