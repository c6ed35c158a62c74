#!/usr/bin/env bash
# Builds the Windows program and its installer on this Debian machine, and with
# `test` runs its tests under Wine. Installs the cross tools it needs. The first
# run cross-builds Qt for Windows (about 22 minutes on two cores), cached outside
# the checkout (/var/cache/talvern as root, else ~/.cache/talvern, or
# TALVERN_WINDOWS_CACHE); later runs reuse it.
#
#   ./windows.sh          builds build-windows/talvern-VERSION-setup.exe
#   ./windows.sh test     the same, then the Windows suites and the end-to-end
#                         test of the installer under Wine
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
. scripts/windows/common.sh
ensure_packages "${WINDOWS_PACKAGES[@]}"

started=$SECONDS
qt=$(scripts/windows/build-qt.sh | tail -n 1)
googletest=$(scripts/windows/build-googletest.sh | tail -n 1)
echo "Qt for Windows: $qt"

build=build-windows
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVERN_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DGTest_DIR="$googletest/lib/cmake/GTest" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
nice -n 10 cmake --build "$build" --parallel 2 --target talvern capture_tests_windows

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
scripts/windows/deploy.sh "$build/talvern.exe" "$qt" "$build/deploy"
installer=$PWD/$build/talvern-$version-setup.exe
makensis -V2 -DVERSION="$version" -DSOURCE="$PWD/$build/deploy" -DICON="$PWD/$build/talvern.ico" \
    -DOUTFILE="$installer" \
    scripts/windows/talvern.nsi
echo "Installer: $installer ($(du -k "$installer" | cut -f1) KiB, built in $((SECONDS - started)) s)"

if [ "${1:-}" = test ]; then
    # Wine makes every serial device of the machine a COM port; the tests run
    # where there are none, so that COM1 is their pseudo-terminal and COM2 is
    # missing. Without the rights for that, they run as they are.
    status=0
    scripts/windows/without-serial-devices.sh tests/windows/run.sh "$build" "$installer" ||
        status=$?
    if [ "$status" -eq 125 ]; then
        echo "(cannot hide the serial devices here: the COM ports are the machine's)"
        tests/windows/run.sh "$build" "$installer"
    elif [ "$status" -ne 0 ]; then
        exit "$status"
    fi
    echo "Windows build and tests: $((SECONDS - started)) s"
fi
