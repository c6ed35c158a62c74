#!/usr/bin/env bash
# Installs what is missing, builds optimised, runs every benchmark and prints
# two tables of figures (Markdown), with the machine it ran on: the program's
# parts in process, then the program end to end beside PuTTY, a bare one-thread
# Qt reader and `cat`. Takes about a quarter of an hour.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target bench_framing bench_status_box bench_e2e bench_one_thread_floor talvern_harness >/dev/null

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
     "$(. /etc/os-release && echo "$PRETTY_NAME"), $(date -u +%F)," \
     "load average $(cut -d" " -f1-3 /proc/loadavg) at the start"
echo
# Each figure is the median of three or five runs, with the lowest and highest
# beside it. In process, "beside it" is a plain memchr scan and write of the
# same bytes for the framing rows.
printf '| %-54s | %-28s | %-26s | %-18s |\n' measure "this program" "beside it" target
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..56})" "$(printf -- '-%.0s' {1..30})" \
    "$(printf -- '-%.0s' {1..28})" "$(printf -- '-%.0s' {1..20})"
build-bench/bench/bench_framing --benchmark_format=csv --benchmark_repetitions=3 2>/dev/null |
    awk -F, '
    function spread(list,    v, n, i, j, t) {
        n = split(list, v, " ")
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return sprintf("%.0f MB/s (%.0f-%.0f)", v[int((n + 1) / 2)], v[1], v[n])
    }
    /^"framing/ && !/_(mean|median|stddev|cv)"/ {
        gsub(/"/, "", $1)
        split($1, part, "/")
        size = part[2]
        kind = part[1] ~ /framer/ ? "framer" : "limit"
        runs[kind, size] = runs[kind, size] " " $6 / 1e6
        if (!(size in seen)) { seen[size] = 1; order[++sizes] = size }
    }
    END {
        for (i = 1; i <= sizes; i++)
            printf "| %-54s | %-28s | %-26s | %-18s |\n",
                   "framing in process, " order[i] "-byte records",
                   spread(runs["framer", order[i]]), spread(runs["limit", order[i]]), ""
    }'
build-bench/bench/bench_status_box 2>/dev/null
echo
# End to end, each contender on a pseudo-terminal of its own in the same runs.
build-bench/bench/bench_e2e 1 10 20 header 2>/dev/null
build-bench/bench/bench_e2e 3 10 20 steady 2>/dev/null
# Start-up, floods and latency vary most from run to run, and take little time:
# five runs.
build-bench/bench/bench_e2e 5 10 20 startup 2>/dev/null
build-bench/bench/bench_e2e 5 10 20 flood 2>/dev/null
build-bench/bench/bench_e2e 5 10 20 latency 2>/dev/null
# Floods of 200 MB against `cat`, the others without PuTTY (minutes a flood).
build-bench/bench/bench_e2e 3 10 200 floodcat 2>/dev/null
# The program as users run it, syncing, beside the same program without syncs:
# floods long enough for the syncs to weigh, and drives slow to flush.
build-bench/bench/bench_e2e 3 10 200 floodsync 2>/dev/null
build-bench/bench/bench_e2e 3 10 20 slowdrive 2>/dev/null
# The capture file's syncs to disk: how often, and what they cost.
build-bench/bench/bench_e2e 3 10 20 sync 2>/dev/null
