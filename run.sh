#!/usr/bin/env bash
# Installs what the program needs, builds it in the checkout (build-run/,
# without the tests, so none of the test-only packages is needed) and starts it
# in the folder this was run from: a relative file name is taken from there.
#
#   ./run.sh [CMAKE_OPTION...]    further options for the build's configure step
set -euo pipefail
source_dir=$(cd "$(dirname "$0")" && pwd)
. "$source_dir/scripts/packages.sh"
ensure_packages "${BUILD_PACKAGES[@]}"

build="$source_dir/build-run"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALVERN_BUILD_TESTS=OFF "$@"
cmake --build "$build" --target talvern
exec "$build/window/talvern"
