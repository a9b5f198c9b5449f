#!/usr/bin/env bash
# The serial libraries' call patterns under Wine for a longer run (default 60 s): the .NET
# SerialPort, pyserial, Qt QSerialPort and Boost.Asio clients read the simulated receiver
# through Tavro.exe and Tavro.sys at the same time, each checking every sentence whole and in
# order, and each writes a command the receiver must log; then twenty write-flush-close
# programs, and the shell's restart. The test suite runs the same for 5 s.
#
# scripts/wine-clients.sh [seconds]      (work files in build/wine-clients)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
seconds="${1:-60}"
ensure_packages "${BUILD_PACKAGES[@]}" "${CROSS_PACKAGES[@]}"
APT_RECOMMENDS=1 ensure_packages "${WINE_PACKAGES[@]}"
cmake --preset mingw-x64 >/dev/null
cmake --build --preset mingw-x64 --target tavro_wine_artifacts
cmake --preset native >/dev/null
cmake --build --preset native --target gps-sim
TAVRO_GPS_SIM="$PWD/build/native/tools/gps-sim/gps-sim" TAVRO_WINE_ONLY=clients \
    TAVRO_CLIENT_SECONDS="$seconds" \
    exec tests/windows/run-wine-tests.sh build/mingw-x64 build/wine-clients
