#!/usr/bin/env bash
# The Windows edition's relay under Wine, measured (scripts/bench-latency --wine runs it):
# Tavro.exe with the x64 Tavro.sys reads a receiver on a Wine COM port (a pseudo-terminal that
# relay-bench feeds), eight Win32 readers on its virtual ports, and a Win32 reader on a second
# port that gets the same sentences directly. First sentences at intervals (the delay), then a
# stream at 11,520 bytes/s (115200 baud at full load).
#
# tests/windows/bench-wine.sh [sentences] [stream seconds]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source="$(cd "$here/../.." && pwd)"
count="${1:-200}"
seconds="${2:-60}"

if ! command -v wine >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ] ||
    ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
    echo "SKIP: Wine (wine, wine64) or the mingw-w64 x64 compiler is not installed"
    exit 0
fi
build="$source/build/mingw-x64"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset mingw-x64 >/dev/null || exit 1
fi
cmake --build "$build" --target TavroRelayBench Tavro tavro_sys >/dev/null || exit 1
bench="$source/build/native/tools/relay-bench/relay-bench"

work="$(mktemp -d /tmp/tavro-wine-bench-XXXXXX)"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k >>"$work/wineserver.log" 2>&1 || true
    [ -n "${feeder:-}" ] && kill "$feeder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
wineboot --init >"$work/wineboot.log" 2>&1 </dev/null && wineserver -w >>"$work/wineboot.log" 2>&1
# No display: windows and timers work, the tray icon does not (it is not measured).
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$work/reg.log" 2>&1 </dev/null
wineserver -p >"$work/wineserver.log" 2>&1 </dev/null
drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
mkdir -p "$drivers" "$WINEPREFIX/drive_c/bench"
cp "$build/sys/kernel/Tavro.sys" "$drivers/"
cp "$build/hub/win32/Tavro.exe" "$build/tests/windows/TavroRelayBench.exe" \
    "$WINEPREFIX/drive_c/bench/"

run() { # run <label> <feed arguments...>
    local label="$1"
    shift
    rm -f "$work/links" "$work/ready" "$work/done"
    "$bench" feed --links "$work/links" --ready "$work/ready" --done "$work/done" "$@" \
        >"$work/feed.log" 2>&1 &
    feeder=$!
    while [ ! -s "$work/links" ]; do sleep 0.1; done
    ln -sfn "$(sed -n 1p "$work/links")" "$WINEPREFIX/dosdevices/com5"
    ln -sfn "$(sed -n 2p "$work/links")" "$WINEPREFIX/dosdevices/com6"
    echo "-- $label"
    timeout 400 wine 'C:\bench\TavroRelayBench.exe' '\SystemRoot\system32\drivers\Tavro.sys' \
        'C:\bench\Tavro.exe' 5 6 8 "$expected" 'Z:'"${work//\//\\}"'\ready' \
        'Z:'"${work//\//\\}"'\done' >"$work/bench.log" 2>&1 </dev/null
    local result=$?
    wait "$feeder"
    feeder=
    grep -E '^(path|Win32|Tavro|sentences|the hub)' "$work/bench.log"
    cat "$work/feed.log"
    return $result
}

failed=0
expected="$count"
run "$count sentences of 72 bytes every 57 ms, 8 Win32 readers on Tavro.sys ports" \
    --count "$count" --interval-ms 57 || failed=1
expected=$((seconds * 11520 / 80))
run "a stream of 11,520 bytes/s for $seconds s" --stream --rate 11520 --seconds "$seconds" ||
    failed=1
exit $failed
