#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERN_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure --parallel 2
