#!/usr/bin/env bash
# Checks ./run.sh as a new user meets it: it installs the packages the program
# needs, its build needs none of the test-only packages (they are made
# unfindable here), and it starts the program in the folder it was run from.
#
#   tests/run_command_test.sh        (from anywhere; builds in build-run/)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
fail() { echo "FAIL: $*" >&2; exit 1; }

# The packages: the program's own list, not nothing.
grep -Eq '^ensure_packages "\$\{BUILD_PACKAGES\[@\]\}"$' "$source_dir/run.sh" \
    || fail "run.sh does not install BUILD_PACKAGES"

# Configure, build and start it from another folder, offscreen.
caller=$(cd "$(mktemp -d)" && pwd -P)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$caller"
}
trap cleanup EXIT
(cd "$caller" && QT_QPA_PLATFORM=offscreen exec "$source_dir/run.sh" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON >"$caller/run.log" 2>&1) &
pid=$!

# run.sh ends in exec: once this process is the program, the build is done and
# the program has started. On the way it is a shell, env (the script's #! line)
# and a shell again; if it ends instead, run.sh has failed.
program="$source_dir/build-run/window/talvern"
for _ in $(seq 1800); do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || break
    [ "$exe" = "$program" ] && break
    sleep 1
done
if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" != "$program" ]; then
    cat "$caller/run.log" >&2
    fail "run.sh did not start $program"
fi
[ "$(readlink "/proc/$pid/cwd")" = "$caller" ] \
    || fail "the program runs in $(readlink "/proc/$pid/cwd"), not in $caller"
echo "run.sh built the program without the test-only packages and started it in the caller's folder"
