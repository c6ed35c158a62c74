#!/usr/bin/env bash
# Installs what is missing, builds the program optimised and hardened and makes
# its Debian package, with dependencies computed from the binary. Prints the
# package's path. Arguments go to CMake, such as a distributor's settings:
#
#   ./package.sh -DTALVERN_MAINTAINER="Name <e-mail>" -DTALVERN_HOMEPAGE=https://...
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVERN_BUILD_TESTS=OFF \
    "$@" >/dev/null
cmake --build build-package
(cd build-package && cpack -G DEB >/dev/null)
ls "$PWD"/build-package/talvern_*.deb
