#!/usr/bin/env bash
# Installs the program into a temporary prefix and builds its Debian package,
# then checks both: every file in place, the desktop entry and AppStream
# metainfo valid, the package's dependencies computed.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# An install into a prefix of our own holds every file.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in \
    bin/talvern \
    share/applications/org.talvern.Talvern.desktop \
    share/icons/hicolor/scalable/apps/org.talvern.Talvern.svg \
    share/metainfo/org.talvern.Talvern.metainfo.xml \
    share/man/man1/talvern.1; do
    [ -f "$work/prefix/$file" ] || fail "missing after install: $file"
done
[ -x "$work/prefix/bin/talvern" ] || fail "bin/talvern is not executable"

# The validators accept what was installed.
desktop-file-validate "$work/prefix/share/applications/org.talvern.Talvern.desktop" \
    || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/prefix/share/metainfo/org.talvern.Talvern.metainfo.xml" \
    || fail "appstreamcli validate"
grep -q '^Exec=talvern$' "$work/prefix/share/applications/org.talvern.Talvern.desktop" \
    || fail "the desktop entry does not start talvern"
if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$work/prefix/share/man/man1/talvern.1" 2>&1)
    [ -z "$warnings" ] || fail "the manual page has troff warnings: $warnings"
fi

# The package: built by CPack, its dependencies computed from the binary.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(ls "$work"/package/talvern_*.deb)
info=$(dpkg-deb --info "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6serialport6 libc6 fonts-liberation qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "the package does not depend on $needed"
done
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/talvern ./usr/share/applications/org.talvern.Talvern.desktop \
    ./usr/share/metainfo/org.talvern.Talvern.metainfo.xml ./usr/share/man/man1/talvern.1; do
    grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
echo "install and package: ok"
