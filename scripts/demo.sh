#!/usr/bin/env bash
# Tavro's main job in one command: installs what is missing, builds the hub and the receiver
# simulator, starts gps-sim with its built-in drive on COM1, starts `tavro run` with two
# virtual ports (COM5 and COM6), attaches an independent reader program to each, and shows for
# about 20 seconds what each reader receives and the hub's status line; then stops everything.
#
# Everything runs in a private temporary folder (COM directory, settings, status block name),
# so it never touches the user's own settings or a hub that is already running.
#
#     ./scripts/demo.sh            # DEMO_SECONDS=40 ./scripts/demo.sh runs longer
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

seconds=${DEMO_SECONDS:-20}

echo "== packages"
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
echo "== build (tavro, gps-sim)"
cmake --preset native >/dev/null
cmake --build --preset native --target tavro gps-sim
tavro=$PWD/build/native/hub/posix/tavro
gpssim=$PWD/build/native/tools/gps-sim/gps-sim

work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-demo-XXXXXX")
export TAVRO_DEVDIR=$work/dev
export XDG_CONFIG_HOME=$work/config
export TAVRO_SHM=/TavroDemo-$$
pids=()

stop_all() {
    trap - EXIT INT TERM
    local pid
    # Readers first, then the hub (SIGTERM is its orderly shutdown), then the receiver.
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    echo "== stopped; temporary folder removed"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# A reader: opens its port raw, as a navigation program would, and prints every line with its
# own prefix.
reader() {
    local port=$1
    local device=$TAVRO_DEVDIR/$port
    stty -F "$device" raw -echo 2>/dev/null || true
    local line
    while IFS= read -r line; do
        printf '[reader %s] %s\n' "$port" "${line%$'\r'}"
    done <"$device"
}

wait_for() {
    local path=$1
    for _ in $(seq 1 100); do
        [ -e "$path" ] && return 0
        sleep 0.1
    done
    echo "demo: $path did not appear" >&2
    return 1
}

echo "== gps-sim on COM1 (a drive through the city, NMEA at 4800 baud)"
"$gpssim" --com 1 --quiet &
pids=("$!" "${pids[@]}")
wait_for "$TAVRO_DEVDIR/COM1"

echo "== settings (in $work): input COM1 at 4800 baud, virtual ports COM5 and COM6"
"$tavro" config set Port 1 >/dev/null
"$tavro" config set Baud 4800 >/dev/null
"$tavro" config set Port0 5 >/dev/null
"$tavro" config set Port1 6 >/dev/null

echo "== tavro run"
"$tavro" run 2> >(sed -u 's/^[0-9-]* [0-9:]* tavro: /[tavro] /' >&2) &
pids=("$!" "${pids[@]}")
wait_for "$TAVRO_DEVDIR/COM5"
wait_for "$TAVRO_DEVDIR/COM6"

reader COM5 &
pids=("$!" "${pids[@]}")
reader COM6 &
pids=("$!" "${pids[@]}")

end=$((SECONDS + seconds))
while [ "$SECONDS" -lt "$end" ]; do
    sleep 4
    echo "[status] $("$tavro" status | head -n 1 || true)"
done
echo "== done after $seconds s"
