#!/usr/bin/env bash
# Builds the Windows program and its installer on this Debian machine, and with
# `test` runs its tests under Wine. Installs the cross tools it needs. The first
# run cross-builds Qt for Windows (about 22 minutes on two cores), cached outside
# the checkout (/var/cache/talvern as root, else ~/.cache/talvern, or
# TALVERN_WINDOWS_CACHE); later runs reuse it.
#
#   ./windows.sh          builds build-windows/talvern-VERSION-setup.exe and the
#                         portable build-windows/talvern-VERSION-windows-x64.zip
#   ./windows.sh test     the same, then the Windows suites and the end-to-end
#                         test of the installer and the zip under Wine
#
# With TALVERN_SIGN_CERT and TALVERN_SIGN_KEY naming a PEM certificate and its
# PEM key, talvern.exe, the installer and the uninstaller it writes are signed.
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

# Signing takes both variables or neither: one alone is a mistake, not a wish
# for an unsigned build.
if [ -n "${TALVERN_SIGN_CERT:-}" ] || [ -n "${TALVERN_SIGN_KEY:-}" ]; then
    for file in "${TALVERN_SIGN_CERT:-}" "${TALVERN_SIGN_KEY:-}"; do
        if [ ! -f "$file" ]; then
            echo "TALVERN_SIGN_CERT and TALVERN_SIGN_KEY must both name a PEM file" \
                "(got '${TALVERN_SIGN_CERT:-}' and '${TALVERN_SIGN_KEY:-}')" >&2
            exit 1
        fi
    done
    # makensis runs the signing from the script's folder.
    TALVERN_SIGN_CERT=$(realpath "$TALVERN_SIGN_CERT") TALVERN_SIGN_KEY=$(realpath "$TALVERN_SIGN_KEY")
fi

# package OUT_DIR: the installer and the portable zip of the deployed program,
# in OUT_DIR; talvern.exe, the installer and its uninstaller signed when
# TALVERN_SIGN_CERT and TALVERN_SIGN_KEY are set.
package() {
    local out stage sign=() file
    mkdir -p "$1"
    # Absolute: makensis reads its files from the script's folder.
    out=$(cd "$1" && pwd) stage=$out/package/TALVERN
    rm -rf "$out/package"
    mkdir -p "$out/package"
    cp -r "$build/deploy" "$stage"
    if [ -n "${TALVERN_SIGN_CERT:-}" ]; then
        scripts/windows/sign.sh "$stage/talvern.exe"
        sign=(-DSIGN="$PWD/scripts/windows/sign.sh")
    fi
    # What the uninstaller removes: each file the installer puts there, then
    # the folders, deepest first.
    {
        echo '!macro REMOVE_FILES'
        while read -r file; do
            file=${file#./}
            printf '    Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
        done < <(cd "$stage" && find . -type f | sort)
        while read -r file; do
            file=${file#./}
            printf '    RMDir "$INSTDIR\\%s"\n' "${file//\//\\}"
        done < <(cd "$stage" && find . -mindepth 1 -type d | sort -r)
        echo '!macroend'
    } >"$out/package/files.nsh"
    makensis -V2 -DVERSION="$version" -DSOURCE="$stage" -DFILES="$out/package/files.nsh" \
        -DICON="$PWD/$build/talvern.ico" -DOUTFILE="$out/talvern-$version-setup.exe" "${sign[@]}" \
        scripts/windows/talvern.nsi
    rm -f "$out/talvern-$version-windows-x64.zip"
    (cd "$out/package" && zip -q -r -9 "../talvern-$version-windows-x64.zip" TALVERN)
}

package "$build"
installer=$PWD/$build/talvern-$version-setup.exe
zip=$PWD/$build/talvern-$version-windows-x64.zip
signed=${TALVERN_SIGN_CERT:+, signed}
echo "Installer: $installer ($(du -k "$installer" | cut -f1) KiB$signed)"
echo "Portable:  $zip ($(du -k "$zip" | cut -f1) KiB${signed:+, talvern.exe signed})"
echo "Built in $((SECONDS - started)) s"

if [ "${1:-}" = test ]; then
    # A second package, signed with a certificate made here for the purpose,
    # which the tests install and check the signatures of.
    signing=$PWD/$build/test-signing
    mkdir -p "$signing"
    openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=TALVERN test signing" \
        -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
    TALVERN_SIGN_CERT=$signing/cert.pem TALVERN_SIGN_KEY=$signing/key.pem package "$signing"
    tests=(tests/windows/run.sh "$build" "$installer" "$zip"
           "$signing/talvern-$version-setup.exe" "$signing/cert.pem")
    # Wine makes every serial device of the machine a COM port; the tests run
    # where there are none, so that COM1 is their pseudo-terminal and COM2 is
    # missing. Without the rights for that, they run as they are.
    status=0
    scripts/windows/without-serial-devices.sh "${tests[@]}" || status=$?
    if [ "$status" -eq 125 ]; then
        echo "(cannot hide the serial devices here: the COM ports are the machine's)"
        "${tests[@]}"
    elif [ "$status" -ne 0 ]; then
        exit "$status"
    fi
    echo "Windows build and tests: $((SECONDS - started)) s"
fi
