#!/usr/bin/env bash
# Cross-builds Qt's base module (Core, Gui, Widgets, the windows platform
# plugin) for 64-bit Windows from Debian's own qt6-base source package, once:
# the result is cached outside the checkout under a name made of Qt's version
# and a hash of the configure options, and reused while that name matches.
# Prints the prefix on its last line.
set -euo pipefail
. "$(dirname "$0")/common.sh"

prefix=$(qt_prefix)
if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "$prefix"
    exit 0
fi

# A deb-src entry for the Debian archive the machine already uses.
have_deb_src() {
    grep -rqsE '^\s*(deb-src\s|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null
}
if ! have_deb_src; then
    src_list=/etc/apt/sources.list.d/talvern-deb-src.sources
    : >"$src_list.new"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        # deb822 stanzas of Debian's archive, as source entries.
        awk -v RS= -v ORS='\n\n' '/URIs:[^\n]*debian/ && /Types:[^\n]*deb/ {
            gsub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$src_list.new"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "$f" ] || continue
        # One-line entries become deb822 stanzas.
        awk '$1 == "deb" && /debian/ {
            i = 2; opts = "";
            if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            uri = $i; suite = $(i + 1); comps = "";
            for (j = i + 2; j <= NF; j++) comps = comps " " $j;
            print "Types: deb-src\nURIs: " uri "\nSuites: " suite "\nComponents:" comps "\n" }' \
            "$f" >>"$src_list.new"
    done
    if [ ! -s "$src_list.new" ]; then
        rm -f "$src_list.new"
        echo "No Debian archive in the apt sources to take Qt's source from." >&2
        exit 1
    fi
    mv "$src_list.new" "$src_list"
    echo "Added the source entries in $src_list"
    apt-get update -qq
fi

work=$(mktemp -d "$TALVERN_WINDOWS_CACHE/qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The source package matching the host tools, or the archive's current one of
# the same upstream version.
downloads=$TALVERN_WINDOWS_CACHE/qt-source
mkdir -p "$downloads"
# apt fetches as its own user where it may write.
[ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1 && chown _apt "$downloads"
(
    cd "$downloads"
    if ! ls qt6-base_*.orig.tar.xz >/dev/null 2>&1; then
        apt-get source --download-only "qt6-base=$(qt_debian_version)" ||
            apt-get source --download-only qt6-base
    fi
)
orig=$(ls "$downloads"/qt6-base_"$(qt_upstream_version)"*.orig.tar.xz | tail -n 1)
debian=$(ls "$downloads"/qt6-base_"$(qt_upstream_version)"*.debian.tar.xz | tail -n 1)

echo "Unpacking $(basename "$orig")"
tar -C "$work" -xf "$orig"
tar -C "$work" -xf "$debian" debian/patches
src=$(echo "$work"/qtbase-everywhere-src-*)
for p in "${QT_PATCHES[@]}"; do
    patch -d "$src" -p1 --quiet --forward <"$work/debian/patches/$p"
done

# Qt's installed toolchain file chain-loads this one from the prefix.
cp "$WINDOWS_TOOLCHAIN_SOURCE" "$work/toolchain-x86_64-w64-mingw32.cmake"

mkdir "$work/build"
cd "$work/build"
"$src/configure" -prefix "$prefix" "${QT_CONFIGURE_OPTIONS[@]}" \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain-x86_64-w64-mingw32.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$work/configure.log" 2>&1 ||
    { tail -n 40 "$work/configure.log"; exit 1; }
nice -n 10 cmake --build . --parallel "${QT_BUILD_JOBS:-2}"
DESTDIR="$work/stage" cmake --install . >/dev/null

# Into place only when complete, with the toolchain file beside it.
staged=$work/stage$prefix
cp "$WINDOWS_TOOLCHAIN_SOURCE" "$staged/toolchain-x86_64-w64-mingw32.cmake"
grep -rlF "$work/toolchain-x86_64-w64-mingw32.cmake" "$staged/lib/cmake" |
    xargs -r sed -i "s|$work/toolchain-x86_64-w64-mingw32.cmake|$prefix/toolchain-x86_64-w64-mingw32.cmake|g"
mv -T "$staged" "$prefix"
echo "$prefix"
