# Sourced by the Windows build scripts: the packages they need and where the
# cross-built Qt is cached.

WINDOWS_PACKAGES=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    wine64 wine fonts-wine nsis xvfb xdotool
    cmake ninja-build qt6-base-dev qt6-base-dev-tools googletest xz-utils patch
    python3 xclip
    # The icon, made from the SVG at build time, and the checks of the resources.
    librsvg2-bin icoutils
    # The portable zip, and signing (the tests make their own certificate).
    zip osslsigncode openssl
)

WINDOWS_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WINDOWS_TOOLCHAIN_SOURCE=$WINDOWS_SCRIPTS/toolchain-x86_64-w64-mingw32.cmake

# The cache lives outside the checkout, so a new checkout or `git clean` keeps it.
if [ -z "${TALVERN_WINDOWS_CACHE:-}" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        TALVERN_WINDOWS_CACHE=/var/cache/talvern
    else
        TALVERN_WINDOWS_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/talvern
    fi
fi
mkdir -p "$TALVERN_WINDOWS_CACHE"

# Debian's security fixes to Qt 6.4.2 that apply to what is built here.
QT_PATCHES=(cve-2023-32762.diff cve-2023-32763.diff cve-2023-33285.diff cve-2023-24607.patch)

# What goes into Qt's build, apart from its prefix and toolchain file. Every
# option here is part of the cache key.
QT_CONFIGURE_OPTIONS=(
    -release -shared -qt-host-path /usr
    -nomake tests -nomake examples
    -no-opengl -no-vulkan -no-dbus -no-icu -no-openssl -no-direct2d
    -no-feature-network -no-feature-sql -no-feature-testlib -no-feature-xml
    -no-feature-printsupport -no-feature-concurrent
    # The +dfsg source drops the tablet library the windows plugin includes.
    -no-feature-tabletevent
    # With -no-direct2d the plugin still references the DirectWrite font
    # database QtGui leaves out; GDI is the default font engine anyway.
    -no-feature-directwrite3
    -qt-zlib -qt-pcre -qt-freetype -qt-libpng -no-libjpeg -qt-doubleconversion
    # Built once per machine, and on a fresh one inside the first test run's
    # time limit: optimised for size (-Os instead of -O2, and -O3 for Core and
    # Gui) compiles a fifth faster and makes smaller DLLs; the records are
    # Latin-1 text, which needs no shaping engine; no widget here is drawn by
    # the graphics view.
    -optimize-size -no-harfbuzz -no-feature-graphicsview
)

# The Debian source version of the host tools (moc, rcc, uic): the Windows Qt
# is built from the same source package.
qt_debian_version() { dpkg-query -W -f='${source:Version}' qt6-base-dev-tools; }
qt_upstream_version() { local v; v=$(qt_debian_version); v=${v%%+*}; echo "${v%%-*}"; }

# The cached Qt's prefix: its version and a hash of everything that shapes it.
qt_prefix() {
    local key
    key=$( { echo "${QT_CONFIGURE_OPTIONS[*]}"; echo "${QT_PATCHES[*]}"; qt_debian_version;
             cat "$WINDOWS_TOOLCHAIN_SOURCE"; } | sha256sum | cut -c1-12)
    echo "$TALVERN_WINDOWS_CACHE/qt-$(qt_upstream_version)-mingw-$key"
}
