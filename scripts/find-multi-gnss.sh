#!/usr/bin/env bash
# How reliably `tavro find` finds a receiver, measured with real processes: gps-sim as a
# GPS-only receiver and as one tracking GPS, GLONASS, Galileo and BeiDou (talkers GN, GP, GL,
# GA, GB), N trials at each speed of gps-sim that is also in the search's speed table (the
# table's 187500 is a speed gps-sim cannot run at), each trial with its own seed, COM directory,
# settings and status block. The multi-constellation receiver is also tried with "Multi GNSS"
# set to 0. The CI suite runs a short version (PosixMultiGnss.FindFindsAMultiConstellationReceiver).
#
#     scripts/find-multi-gnss.sh [--build DIR] [--trials N] [SPEED ...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/native
trials=10
speeds=()
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --trials) trials="$2"; shift 2 ;;
    *) speeds+=("$1"); shift ;;
    esac
done
[ ${#speeds[@]} -ne 0 ] || speeds=(4800 9600 19200 38400 57600 115200)
tavro="$PWD/$build/hub/posix/tavro"
gpssim="$PWD/$build/tools/gps-sim/gps-sim"
for program in "$tavro" "$gpssim"; do
    [ -x "$program" ] || { echo "missing $program (cmake --build --preset native)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-find-XXXXXX")
trap 'rm -rf "$work"' EXIT

# One trial: prints "found <speed>", "found <other speed>" or "not found".
trial() {
    local speed=$1 constellations=$2 multi=$3 seed=$4
    local dir="$work/t$seed-$speed-$constellations-$multi"
    mkdir -p "$dir/dev"
    local pid result
    (
        export TAVRO_DEVDIR="$dir/dev" XDG_CONFIG_HOME="$dir/config" HOME="$dir"
        export TAVRO_SHM="/TavroFind-$$-$seed-$speed-$multi"
        "$tavro" config set "Multi GNSS" "$multi" >/dev/null
        "$gpssim" --com 4 --baud "$speed" --constellations "$constellations" --seed "$seed" \
            --quiet >"$dir/sim.log" 2>&1 &
        pid=$!
        for _ in $(seq 100); do
            [ -L "$dir/dev/COM4" ] && break
            sleep 0.05
        done
        result=$("$tavro" find 2>&1 | tail -1 || true)
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        case "$result" in
        "GPS on COM4 at $speed") echo "found $speed" ;;
        "GPS on COM4 at "*) echo "found ${result##* }" ;;
        *) echo "not found" ;;
        esac
    )
}

printf '%-8s %-14s %-14s %-22s\n' speed "GPS only" "multi-GNSS" "multi-GNSS, setting 0"
total_fail=0
for speed in "${speeds[@]}"; do
    row=()
    for config in "gps 1" "gps,glonass,galileo,beidou 1" "gps,glonass,galileo,beidou 0"; do
        set -- $config
        found=0
        for seed in $(seq "$trials"); do
            outcome=$(trial "$speed" "$1" "$2" "$seed")
            [ "$outcome" = "found $speed" ] && found=$((found + 1))
        done
        row+=("$found/$trials")
        if [ "$2" = 1 ] && [ "$found" -ne "$trials" ]; then
            total_fail=1
        fi
    done
    printf '%-8s %-14s %-14s %-22s\n' "$speed" "${row[@]}"
done
exit $total_fail
