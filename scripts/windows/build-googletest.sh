#!/usr/bin/env bash
# Builds GoogleTest for 64-bit Windows from Debian's source (/usr/src/googletest),
# once, into the cache beside Qt. Prints its prefix on the last line.
set -euo pipefail
. "$(dirname "$0")/common.sh"

version=$(dpkg-query -W -f='${Version}' googletest)
key=$( { echo "$version"; cat "$WINDOWS_TOOLCHAIN_SOURCE"; } | sha256sum | cut -c1-12)
prefix=$TALVERN_WINDOWS_CACHE/googletest-${version%%-*}-mingw-$key
if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d "$TALVERN_WINDOWS_CACHE/googletest-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake -S /usr/src/googletest -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_TOOLCHAIN_SOURCE" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
nice -n 10 cmake --build "$work/build" --parallel 2 >/dev/null
DESTDIR="$work/stage" cmake --install "$work/build" >/dev/null
mv -T "$work/stage$prefix" "$prefix"
echo "$prefix"
