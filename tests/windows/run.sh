#!/usr/bin/env bash
# Checks the resources of the program and the installer, then runs the Windows
# suites and the end-to-end test of the installers and the zip under Wine, in a
# Wine prefix of their own that is removed afterwards. A failed resource check
# still lets the rest run, and fails the whole at the end.
#
#   run.sh BUILD_DIR INSTALLER ZIP SIGNED_INSTALLER SIGNING_CERT
#
# SIGNED_INSTALLER is a build signed with the certificate SIGNING_CERT.
set -euo pipefail
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
build=$(cd "$1" && pwd)
installer=$(absolute "$2") zip=$(absolute "$3") signed=$(absolute "$4") cert=$(absolute "$5")
here=$(cd "$(dirname "$0")" && pwd)

echo "-- what Windows shows of the program and the installer"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
resources=0
/usr/bin/python3 "$here/resources.py" "$build/deploy/talvern.exe" "$installer" "$version" ||
    resources=1

work=$(mktemp -d /tmp/talvern-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# A new prefix, with a server of its own whose output goes nowhere.
mkdir -p "$WINEPREFIX"
wineserver --persistent >/dev/null 2>&1
wineboot -i >/dev/null 2>&1

echo "-- the capture core's suites under Wine"
# Now and then Wine ends a program at once, saying nothing, right after the
# prefix is made: a failed run is run once more (ctest prints both).
ctest --test-dir "$build" --output-on-failure --repeat until-pass:2

echo "-- the installed and the portable program under Wine, end to end"
if ! /usr/bin/python3 "$here/end_to_end.py" "$installer" "$zip" "$signed" "$cert" "$work/e2e"; then
    for log in "$work"/e2e/*.log; do
        [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; }
    done
    exit 1
fi
exit $resources
