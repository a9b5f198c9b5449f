# Debian packages the build and the tests need, and a helper that installs the missing ones.
# Sourced by scripts/test.sh, scripts/demo.sh and .ci/run.

# nlohmann-json3-dev: the status JSON of tavro status and the dashboard (header-only).
BUILD_PACKAGES=(cmake ninja-build g++ make pkg-config libsystemd-dev nlohmann-json3-dev)
# dbus-daemon: a private bus stands in for the system bus in the hub's suspend tests.
# socat and nc read the hub's network output in the end-to-end tests.
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev python3 dbus-daemon socat
    netcat-openbsd)
# The dashboard's page in a real browser, driven through its DevTools protocol.
BROWSER_PACKAGES=(chromium python3-websocket)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
CROSS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64)
# ccache: CI's build without systemd takes the native build's objects instead of compiling
# them again.
TOOL_PACKAGES=(clang-format ccache)
# gpsd reads a virtual port in the end-to-end tests (skipped with a message where it is missing).
GPSD_PACKAGES=(gpsd gpsd-clients)
# chronyd reads the hub's time export in its test (skipped with a message where it is missing).
TIME_PACKAGES=(chrony)
# The Debian package: dependencies of its programs (dpkg-shlibdeps), its man pages checked, its
# units checked (systemd-analyze verify and security).
PACKAGE_PACKAGES=(dpkg-dev man-db systemd)
# Wine runs the x64 driver and Win32 test programs; never wine32 (it breaks every wine command
# on machines that cannot run 32-bit code).
# libboost-dev: Boost.Asio's headers for the Win32 client built on its serial_port.
WINE_PACKAGES=(wine wine64 xvfb xauth libboost-dev)

# ensure_packages PKG...: apt-get installs those not installed yet (apt-get update first).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "Missing packages: ${missing[*]} (run as root or install them)" >&2
            return 1
        fi
    fi
    local recommends=(--no-install-recommends)
    # Wine needs its recommended X and graphics libraries for windows under Xvfb.
    if [ "${APT_RECOMMENDS:-0}" = 1 ]; then
        recommends=()
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${recommends[@]}" \
        "${missing[@]}"
}
