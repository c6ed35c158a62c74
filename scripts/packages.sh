# Sourced by run.sh, test.sh and bench.sh: installs the Debian packages the
# build needs, or tells a non-root user the one line that does.

# To build and run the program.
BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-liberation
)
# To build the Debian package.
PACKAGE_PACKAGES=(dpkg-dev file)
# To build and run the tests, the fuzz target and the benchmarks.
TEST_PACKAGES=(
    libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    desktop-file-utils appstream groff-base lintian "${PACKAGE_PACKAGES[@]}"
    # The benchmarks run PuTTY beside the program, on an X server of their own,
    # and a drive slow to flush through FUSE.
    putty xvfb libxcb1-dev
    fuse3 python3-fusepy
)

# ensure_packages NAME... : installs whichever of the named packages is missing.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing. Install them, then run this again:" >&2
        echo "    sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
