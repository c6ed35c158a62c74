#!/usr/bin/env bash
# Installs what is missing, builds optimised, runs every benchmark and prints
# one table of figures (Markdown), with the machine it ran on.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target bench_framing bench_e2e talvern_harness >/dev/null

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
     "$(. /etc/os-release && echo "$PRETTY_NAME"), $(date -u +%F)"
echo
printf '| %-44s | %-30s | %-24s |\n' measure result target
printf '|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" "$(printf -- '-%.0s' {1..32})" \
    "$(printf -- '-%.0s' {1..26})"
build-bench/bench/bench_framing --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"framing/ { gsub(/"/, "", $1); sub(/\/.*/, "", $1); printf "| %-44s | %-30s | %-24s |\n", $1,
             sprintf("%.0f MB/s", $6 / 1e6), "" }'
build-bench/bench/bench_e2e 2>/dev/null
