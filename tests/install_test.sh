#!/usr/bin/env bash
# Installs the program into a temporary prefix and builds its Debian package,
# then checks both: every file in place, the binary hardened and stripped, the
# desktop entry and AppStream metainfo valid, the package's dependencies
# computed, and lintian finding nothing to report.
#
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# check_binary FILE WHAT: hardened as Debian builds its own packages, with no
# library search path of its own, and stripped.
check_binary() {
    local dynamic
    dynamic=$(readelf -d "$1")
    ! grep -Eq '\((RUNPATH|RPATH)\)' <<<"$dynamic" || fail "$2 carries a library search path"
    grep -Eq '\(FLAGS_1\).* NOW( |$)' <<<"$dynamic" || fail "$2 is not linked for immediate binding"
    grep -Eq '\(FLAGS_1\).* PIE( |$)' <<<"$dynamic" || fail "$2 is not position-independent"
    readelf -lW "$1" | grep -q GNU_RELRO || fail "$2 has no read-only relocations"
    [[ $(file -b "$1") == *", stripped"* ]] || fail "$2 is not stripped"
}

# An install into a prefix of our own holds every file.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in \
    bin/talvern \
    share/applications/org.talvern.Talvern.desktop \
    share/icons/hicolor/scalable/apps/org.talvern.Talvern.svg \
    share/metainfo/org.talvern.Talvern.metainfo.xml \
    share/man/man1/talvern.1.gz \
    share/doc/talvern/copyright \
    share/doc/talvern/changelog.gz; do
    [ -f "$work/prefix/$file" ] || fail "missing after install: $file"
done
[ -x "$work/prefix/bin/talvern" ] || fail "bin/talvern is not executable"
check_binary "$work/prefix/bin/talvern" "the installed bin/talvern"

# The validators accept what was installed, without a hint.
hints=$(desktop-file-validate "$work/prefix/share/applications/org.talvern.Talvern.desktop") \
    || fail "desktop-file-validate: $hints"
[ -z "$hints" ] || fail "desktop-file-validate: $hints"
metainfo=$work/prefix/share/metainfo/org.talvern.Talvern.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
! grep -Eq '://[^<]*\bexample\.(org|com|net)\b' "$metainfo" \
    || fail "the metainfo points at a placeholder address"
grep -q '^Exec=talvern$' "$work/prefix/share/applications/org.talvern.Talvern.desktop" \
    || fail "the desktop entry does not start talvern"
if command -v groff >/dev/null; then
    warnings=$(zcat "$work/prefix/share/man/man1/talvern.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "the manual page has troff warnings: $warnings"
fi

# The package: built by CPack, its dependencies computed from the binary.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(ls "$work"/package/talvern_*.deb)
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6serialport6 libc6 fonts-liberation qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "the package does not depend on $needed"
done
description=$(dpkg-deb --field "$deb" Description)
[[ $description != *";"* ]] || fail "the package description holds a joined list: $description"
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/talvern ./usr/share/applications/org.talvern.Talvern.desktop \
    ./usr/share/metainfo/org.talvern.Talvern.metainfo.xml ./usr/share/man/man1/talvern.1.gz \
    ./usr/share/doc/talvern/copyright ./usr/share/doc/talvern/changelog.gz; do
    grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
dpkg-deb --extract "$deb" "$work/unpacked"
check_binary "$work/unpacked/usr/bin/talvern" "the packaged usr/bin/talvern"

# Debian's own checker, pedantic, has nothing to say but the one note whose
# reason is given beside the package settings in CMakeLists.txt. Tags print as
# "X: package: tag detail"; the exit status only tells whether lintian ran.
report=$(lintian --pedantic --display-info --fail-on none "$deb" 2>/dev/null) \
    || fail "lintian did not run"
unexpected=$(grep -v '^I: talvern: hardening-no-fortify-functions ' <<<"$report" || true)
[ -z "$unexpected" ] || fail "lintian reports:"$'\n'"$unexpected"
echo "install and package: ok"
