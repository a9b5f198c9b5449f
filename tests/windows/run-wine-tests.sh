#!/usr/bin/env bash
# Runs the x64 Win32 driver tests under Wine: a throwaway prefix, a persistent wineserver so
# the driver host survives between programs, Tavro.sys installed as a kernel service by the
# test programs themselves. Every Wine process writes to a file in the work directory (Wine's
# system processes keep inherited pipes open forever); the logs are printed afterwards.
#
# run-wine-tests.sh [--install] <mingw-x64 build directory> <work directory>
#   --install  install the Wine packages first (CI); otherwise a missing Wine skips (77).
# TAVRO_CLIENT_SECONDS: how long the library clients read (default 5).
# TAVRO_WINE_ONLY=clients: only the library clients (scripts/wine-clients.sh);
# TAVRO_WINE_ONLY=serial-writes: only the writes to a slow receiver.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/packages.sh"

if [ "${1:-}" = "--install" ]; then
    shift
    ensure_packages "${WINE_PACKAGES[@]}" || exit 1
fi
if [ $# -ne 2 ]; then
    echo "usage: $0 [--install] <mingw-x64 build directory> <work directory>" >&2
    exit 2
fi
build="$(cd "$1" && pwd)"
work="$2"

if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1 ||
    [ ! -x /usr/lib/wine/wine64 ]; then
    echo "SKIP: Wine (wine, wine64) is not installed"
    exit 77
fi

driver="$build/sys/kernel/Tavro.sys"
probe="$build/tests/windows/kernel/TavroStaticProbe.sys"
programs=(TavroServiceTest TavroHubSide)
required=("$driver" "$probe" "$build/tests/windows/TavroApp.exe"
    "$build/tests/windows/TavroInstallerTest.exe" "$build/hub/win32/Tavro.exe")
for program in "${programs[@]}"; do
    required+=("$build/tests/windows/$program.exe")
done
for file in "${required[@]}"; do
    if [ ! -f "$file" ]; then
        echo "FAIL: $file is missing (build the mingw-x64 target tavro_wine_artifacts)" >&2
        exit 1
    fi
done

rm -rf "$work"
mkdir -p "$work"
work="$(cd "$work" && pwd)"

export WINEPREFIX="$work/prefix"
export WINEARCH=win64
export WINEDEBUG="${TAVRO_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

start=$(date +%s)
elapsed() { echo $(($(date +%s) - start)); }

cleanup() {
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 || true
}
trap cleanup EXIT

echo "wine prefix: $WINEPREFIX"
if ! wineboot --init >"$work/wineboot.log" 2>&1 </dev/null; then
    echo "FAIL: wineboot --init (see $work/wineboot.log)"
    exit 1
fi
wineserver -w >>"$work/wineboot.log" 2>&1 </dev/null
# Persistent server: the driver's host process stays between the test programs.
wineserver -p >"$work/wineserver.log" 2>&1 </dev/null
echo "prefix ready after $(elapsed) s"

drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
tests="$WINEPREFIX/drive_c/tavro-tests"
mkdir -p "$drivers" "$tests"
cp "$driver" "$drivers/Tavro.sys"
cp "$probe" "$drivers/TavroStaticProbe.sys"
cp "$build/tests/windows/TavroApp.exe" "$tests/"
for program in "${programs[@]}"; do
    cp "$build/tests/windows/$program.exe" "$tests/"
done
# Wine resolves only absolute image paths for kernel services.
image='\SystemRoot\system32\drivers\Tavro.sys'
declare -A arguments=(
    [TavroServiceTest]="$image \SystemRoot\system32\drivers\TavroStaticProbe.sys"
    [TavroHubSide]="$image"
)

failed=0
failures=()
# fail_part NAME: records a failed part; the summary at the end names every one.
fail_part() {
    failed=1
    failures+=("$1")
}
only="${TAVRO_WINE_ONLY:-}"
if [ -n "$only" ]; then
    programs=()
fi
for program in "${programs[@]}"; do
    log="$work/$program.log"
    programStart=$(date +%s)
    # shellcheck disable=SC2086 # the arguments are words without blanks
    timeout 180 wine "C:\\tavro-tests\\$program.exe" ${arguments[$program]} >"$log" 2>&1 </dev/null
    result=$?
    cat "$log"
    echo "$program: exit code $result after $(($(date +%s) - programStart)) s"
    if [ $result -ne 0 ]; then
        fail_part "$program"
    fi
done

# The hub: Tavro.exe under Xvfb, its receiver gps-sim (tracking GPS, GLONASS, Galileo and
# BeiDou) on a pseudo-terminal that Wine sees as COM5, the driver giving it virtual port COM7.
# TavroHubSmoke.exe plays the other programs.
# Needs gps-sim (TAVRO_GPS_SIM, set by the CTest entry) and Xvfb; skipped without them.
hub_smoke() {
    local hub="$build/hub/win32/Tavro.exe"
    local smoke="$build/tests/windows/TavroHubSmoke.exe"
    local sim="${TAVRO_GPS_SIM:-}"
    local receiverCom=5
    if [ -z "$sim" ] || [ ! -x "$sim" ]; then
        echo "SKIP hub smoke test: no gps-sim (TAVRO_GPS_SIM)"
        return 0
    fi
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP hub smoke test: Xvfb is not installed"
        return 0
    fi
    if [ ! -f "$hub" ] || [ ! -f "$smoke" ]; then
        echo "FAIL: $hub or $smoke is missing (build tavro_wine_artifacts)" >&2
        return 1
    fi
    cp "$hub" "$smoke" "$tests/"

    # Xvfb picks a free display and writes its number to fd 3.
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 </dev/null &
    local xvfbPid=$!
    local comDir="$work/comdir"
    mkdir -p "$comDir"
    TAVRO_DEVDIR="$comDir" "$sim" --com "$receiverCom" --rate 2 --baud 38400 --no-garbage \
        --constellations gps,glonass,galileo,beidou --quiet \
        --log "$work/gps-sim-commands.log" >"$work/gps-sim.log" 2>&1 </dev/null &
    local simPid=$!
    local waited=0
    while { [ ! -s "$work/display" ] || [ ! -L "$comDir/COM$receiverCom" ]; } &&
        [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    local result=1
    if [ -s "$work/display" ] && [ -L "$comDir/COM$receiverCom" ]; then
        local pts
        pts="$(readlink -f "$comDir/COM$receiverCom")"
        ln -sfn "$pts" "$WINEPREFIX/dosdevices/com$receiverCom"
        echo "hub smoke: display :$(cat "$work/display"), receiver COM$receiverCom -> $pts"
        local log="$work/TavroHubSmoke.log"
        local smokeStart=$(date +%s)
        DISPLAY=":$(cat "$work/display")" timeout 180 wine "C:\\tavro-tests\\TavroHubSmoke.exe" \
            "$image" "C:\\tavro-tests\\Tavro.exe" "$receiverCom" >"$log" 2>&1 </dev/null
        result=$?
        cat "$log"
        echo "TavroHubSmoke: exit code $result after $(($(date +%s) - smokeStart)) s"
    else
        echo "FAIL: Xvfb or gps-sim did not come up (logs in $work)"
    fi
    kill "$simPid" "$xvfbPid" 2>/dev/null
    wait "$simPid" "$xvfbPid" 2>/dev/null
    if [ $result -eq 0 ]; then
        # WriteToReceiver: the sentence reached the receiver.
        if grep -q 'PMTK220,1000' "$work/gps-sim-commands.log" 2>/dev/null; then
            echo "  ok    the receiver got the sentence sent with WriteToReceiver"
        else
            echo "  FAIL  the receiver did not get the WriteToReceiver sentence"
            result=1
        fi
    fi
    return $result
}

# The setup tool: Feltro.exe under Xvfb, first without a hub, then against Tavro.exe whose
# receiver is gps-sim on COM6 tracking four constellations (no driver needed).
# TavroFeltroSmoke.exe plays the user.
feltro_smoke() {
    local hub="$build/hub/win32/Tavro.exe"
    local feltro="$build/setup/win32/Feltro.exe"
    local smoke="$build/tests/windows/TavroFeltroSmoke.exe"
    local sim="${TAVRO_GPS_SIM:-}"
    local receiverCom=6
    if [ -z "$sim" ] || [ ! -x "$sim" ]; then
        echo "SKIP Feltro smoke test: no gps-sim (TAVRO_GPS_SIM)"
        return 0
    fi
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP Feltro smoke test: Xvfb is not installed"
        return 0
    fi
    if [ ! -f "$hub" ] || [ ! -f "$feltro" ] || [ ! -f "$smoke" ]; then
        echo "FAIL: $hub, $feltro or $smoke is missing (build tavro_wine_artifacts)" >&2
        return 1
    fi
    cp "$hub" "$feltro" "$smoke" "$tests/"
    # A fresh Wine session, so that its desktop is the display below and the test can read the
    # screen (a desktop started by the earlier programs without a display has no screen).
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null

    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/feltro-display" \
        >"$work/feltro-xvfb.log" 2>&1 </dev/null &
    local xvfbPid=$!
    local comDir="$work/feltro-comdir"
    local commands="$work/feltro-gps-sim-commands.log"
    mkdir -p "$comDir"
    TAVRO_DEVDIR="$comDir" "$sim" --com "$receiverCom" --baud 38400 --no-garbage \
        --constellations gps,glonass,galileo,beidou --quiet \
        --log "$commands" >"$work/feltro-gps-sim.log" 2>&1 </dev/null &
    local simPid=$!
    local waited=0
    while { [ ! -s "$work/feltro-display" ] || [ ! -L "$comDir/COM$receiverCom" ]; } &&
        [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    local result=1
    if [ -s "$work/feltro-display" ] && [ -L "$comDir/COM$receiverCom" ]; then
        local pts
        pts="$(readlink -f "$comDir/COM$receiverCom")"
        ln -sfn "$pts" "$WINEPREFIX/dosdevices/com$receiverCom"
        echo "Feltro smoke: display :$(cat "$work/feltro-display"), receiver COM$receiverCom -> $pts"
        local log="$work/TavroFeltroSmoke.log"
        local smokeStart=$(date +%s)
        DISPLAY=":$(cat "$work/feltro-display")" timeout 180 \
            wine "C:\\tavro-tests\\TavroFeltroSmoke.exe" "C:\\tavro-tests\\Tavro.exe" \
            "C:\\tavro-tests\\Feltro.exe" "$receiverCom" >"$log" 2>&1 </dev/null
        result=$?
        cat "$log"
        echo "TavroFeltroSmoke: exit code $result after $(($(date +%s) - smokeStart)) s"
        cp "$tests/Feltro-dialog.bmp" "$work/" 2>/dev/null &&
            echo "Feltro's dialog as the screen showed it: $work/Feltro-dialog.bmp"
    else
        echo "FAIL: Xvfb or gps-sim did not come up (logs in $work)"
    fi
    kill "$simPid" "$xvfbPid" 2>/dev/null
    wait "$simPid" "$xvfbPid" 2>/dev/null
    if [ $result -eq 0 ]; then
        # What the dialog sent, as the receiver logged it (without the checksums).
        local expected
        for expected in 'command $PMTK400' 'command $PMTK414' \
            'command $PMTK314,2,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0' 'command $PMTK251,9600' \
            'now at 9600 baud'; do
            if grep -qF "$expected" "$commands" 2>/dev/null; then
                echo "  ok    the receiver logged \"$expected\""
            else
                echo "  FAIL  the receiver did not log \"$expected\""
                result=1
            fi
        done
    fi
    return $result
}

# The input port's writes to a receiver that reads slowly (slow-receiver.py on a
# pseudo-terminal that Wine sees as COM20, a number no other part uses; the link goes again
# afterwards): TavroSerialWrites.exe writes through the engine's input port on arrival while
# its ticks settle the quiet arrival read; every byte must arrive. Then it closes the port with
# a write in flight: exactly the bytes it did not count as dropped must arrive.
serial_writes() {
    local program="$build/tests/windows/TavroSerialWrites.exe"
    local receiverCom=20
    if [ ! -f "$program" ]; then
        echo "FAIL: $program is missing (build tavro_wine_artifacts)" >&2
        return 1
    fi
    cp "$program" "$tests/"
    rm -f "$work/slow-receiver.path" "$work/slow-receiver.bin"
    python3 "$here/slow-receiver.py" "$work/slow-receiver.path" "$work/slow-receiver.bin" \
        >"$work/slow-receiver.log" 2>&1 </dev/null &
    local receiverPid=$!
    local waited=0
    while [ ! -s "$work/slow-receiver.path" ] && [ $waited -lt 50 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if [ ! -s "$work/slow-receiver.path" ]; then
        echo "FAIL: the slow receiver did not come up (see $work/slow-receiver.log)"
        kill "$receiverPid" 2>/dev/null
        return 1
    fi
    ln -sfn "$(cat "$work/slow-receiver.path")" "$WINEPREFIX/dosdevices/com$receiverCom"
    local log="$work/TavroSerialWrites.log"
    local testStart=$(date +%s)
    timeout 120 wine "C:\\tavro-tests\\TavroSerialWrites.exe" "$receiverCom" \
        "C:\\tavro-tests\\serial-writes-sent.bin" >"$log" 2>&1 </dev/null
    local result=$?
    cat "$log"
    echo "TavroSerialWrites: exit code $result after $(($(date +%s) - testStart)) s"
    wait "$receiverPid" 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com$receiverCom"
    local sent="$tests/serial-writes-sent.bin"
    local got="$work/slow-receiver.bin"
    if cmp -s "$sent" "$got"; then
        echo "  ok    the slow receiver read all $(stat -c %s "$sent") bytes in order"
    else
        echo "  FAIL  the slow receiver read $(stat -c %s "$got" 2>/dev/null || echo 0) of" \
            "$(stat -c %s "$sent" 2>/dev/null || echo 0) bytes as sent" \
            "($(cmp "$sent" "$got" 2>&1 | head -1))"
        result=1
    fi
    return $result
}

if [ -z "$only" ] || [ "$only" = serial-writes ]; then
    if ! serial_writes; then
        fail_part "writes to a slow receiver"
    fi
fi

if [ -z "$only" ]; then
    if ! hub_smoke; then
        fail_part "hub smoke test"
    fi
    if ! feltro_smoke; then
        fail_part "Feltro smoke test"
    fi
fi

# Serial libraries' call patterns against Tavro.exe + Tavro.sys, the receiver gps-sim on COM12
# of a fresh Wine session under Xvfb (its shell is restarted, so it must be this display's):
# TavroClientSuite.exe runs the clients at once and restarts the shell; here the receiver's log
# must show every client's command. Before them, the same receiver on the network: socat serves
# its pseudo-terminal over TCP, Tavro.exe's "Source" is tcp://, and the pyserial client on COM7
# reads its stream and writes a command, which must come back through socat to the receiver.
clients_suite() {
    local hub="$build/hub/win32/Tavro.exe"
    local sim="${TAVRO_GPS_SIM:-}"
    local receiverCom=12
    local seconds="${TAVRO_CLIENT_SECONDS:-5}"
    if [ -z "$sim" ] || [ ! -x "$sim" ]; then
        echo "SKIP library clients: no gps-sim (TAVRO_GPS_SIM)"
        return 0
    fi
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP library clients: Xvfb is not installed"
        return 0
    fi
    local copied=("$hub" "$build/tests/windows/TavroClientSuite.exe"
        "$build/tests/windows/TavroClients.exe")
    local boost="$build/tests/windows/TavroBoostClient.exe"
    [ -f "$boost" ] && copied+=("$boost")
    cp "${copied[@]}" "$tests/" || return 1
    [ -f "$boost" ] || rm -f "$tests/TavroBoostClient.exe"
    # The hub smoke test disabled its ports, which deletes the driver file.
    cp "$driver" "$drivers/Tavro.sys" || return 1
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null

    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/clients-display" \
        >"$work/clients-xvfb.log" 2>&1 </dev/null &
    local xvfbPid=$!
    local comDir="$work/clients-comdir"
    local commands="$work/clients-gps-sim-commands.log"
    mkdir -p "$comDir"
    TAVRO_DEVDIR="$comDir" "$sim" --com "$receiverCom" --no-garbage --quiet \
        --log "$commands" >"$work/clients-gps-sim.log" 2>&1 </dev/null &
    local simPid=$!
    local waited=0
    while { [ ! -s "$work/clients-display" ] || [ ! -L "$comDir/COM$receiverCom" ]; } &&
        [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    local result=1
    if [ -s "$work/clients-display" ] && [ -L "$comDir/COM$receiverCom" ]; then
        # The source first: the other run ends this session's shell.
        clients_source "$(readlink -f "$comDir/COM$receiverCom")" "$seconds"
        local sourceResult=$?
        ln -sfn "$(readlink -f "$comDir/COM$receiverCom")" "$WINEPREFIX/dosdevices/com$receiverCom"
        local log="$work/TavroClientSuite.log"
        local suiteStart=$(date +%s)
        DISPLAY=":$(cat "$work/clients-display")" timeout $((seconds + 240)) \
            wine "C:\\tavro-tests\\TavroClientSuite.exe" "$image" "C:\\tavro-tests\\Tavro.exe" \
            "$receiverCom" "$seconds" >"$log" 2>&1 </dev/null
        result=$?
        cat "$log"
        echo "TavroClientSuite: exit code $result after $(($(date +%s) - suiteStart)) s"
        [ $sourceResult -eq 0 ] || result=1
    else
        echo "FAIL: Xvfb or gps-sim did not come up (logs in $work)"
    fi
    kill "$simPid" "$xvfbPid" 2>/dev/null
    wait "$simPid" "$xvfbPid" 2>/dev/null
    local tags=(dotnet pyserial qt source)
    [ -f "$boost" ] && tags+=(boost)
    local i
    for i in $(seq 0 19); do
        tags+=("flush-$i")
    done
    local missing=0 tag
    for tag in "${tags[@]}"; do
        if ! grep -q " command \$PMTK000,$tag\$" "$commands" 2>/dev/null; then
            echo "  FAIL  the receiver did not get the command of \"$tag\""
            missing=$((missing + 1))
        fi
    done
    echo "  the receiver got $((${#tags[@]} - missing)) of ${#tags[@]} client commands"
    [ $missing -eq 0 ] || result=1
    return $result
}

# clients_source PTS SECONDS: TavroClientSuite.exe with the receiver on PTS served by socat
# (the display and gps-sim of clients_suite).
clients_source() {
    if ! command -v socat >/dev/null 2>&1; then
        echo "  FAIL  socat is not installed (the receiver on the network)"
        return 1
    fi
    local port
    port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    socat "TCP-LISTEN:$port,reuseaddr,bind=127.0.0.1" "OPEN:$1,raw,echo=0" \
        >"$work/clients-socat.log" 2>&1 </dev/null &
    local socatPid=$!
    local log="$work/TavroClientSuite-source.log"
    local suiteStart=$(date +%s)
    DISPLAY=":$(cat "$work/clients-display")" timeout $(($2 + 120)) \
        wine "C:\\tavro-tests\\TavroClientSuite.exe" "$image" "C:\\tavro-tests\\Tavro.exe" \
        "tcp://127.0.0.1:$port" "$2" >"$log" 2>&1 </dev/null
    local result=$?
    cat "$log"
    echo "TavroClientSuite (tcp:// source): exit code $result after" \
        "$(($(date +%s) - suiteStart)) s"
    kill "$socatPid" 2>/dev/null
    wait "$socatPid" 2>/dev/null
    return $result
}

if [ -z "$only" ] || [ "$only" = clients ]; then
    if ! clients_suite; then
        fail_part "library clients"
    fi
fi

# The dashboard: TavroWeb.exe beside the running Tavro.exe serves the page, which the Linux
# Chromium loads (Wine uses the host's sockets). Skipped without Chromium. With the hub's TCP
# port, the page must also list the virtual ports COM7 and COM9 that a TavroPortUser.exe each
# holds and a TCP client the check keeps open, and show COM9 free once its program closed it.
dashboard_smoke() {
    local display="$1" tcpPort="$2"
    local web="$build/web/TavroWeb.exe"
    if [ ! -f "$web" ]; then
        echo "  FAIL  $web is missing"
        return 1
    fi
    local webPort
    webPort="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    cp "$web" "$tests/"
    DISPLAY="$display" wine "C:\\tavro-tests\\TavroWeb.exe" --port "$webPort" \
        >"$work/dashboard.log" 2>&1 </dev/null &
    local webPid=$!
    /usr/bin/python3 "$here/../web/wine_dashboard_check.py" "http://127.0.0.1:$webPort/" \
        "$(dirname "$build")/wine-dashboard-screenshot.png" "$tcpPort" "$tests/release-9" \
        >"$work/dashboard-check.log" 2>&1
    local result=$?
    sed 's/^/        /' "$work/dashboard-check.log"
    kill "$webPid" 2>/dev/null
    wait "$webPid" 2>/dev/null
    case $result in
    0) echo "  ok    TavroWeb.exe serves the running Tavro.exe's page, ports and clients" ;;
    77) echo "  SKIP  the dashboard under Wine: no Chromium"; result=0 ;;
    *) echo "  FAIL  TavroWeb.exe (log: $work/dashboard.log)"; sed 's/^/        /' "$work/dashboard.log" ;;
    esac
    return $result
}

# The network output: Tavro.exe (under Xvfb, the driver giving it virtual ports COM7 and COM9)
# reads gps-sim on COM8 and serves NMEA over TCP on a free port, which Linux programs read
# (Wine uses the host's sockets): nc gets the sentences, the dashboard lists the ports two
# programs hold, and gpsd given only tcp://127.0.0.1:<port> reports the simulated position to
# gpspipe. The same hub exports each fix's time to "NTP Unit" 2, which TavroTimeReader.exe
# reads from the mapping Global\NTP2 as ntpd would.
network_smoke() {
    local sim="${TAVRO_GPS_SIM:-}"
    local receiverCom=8
    if [ -z "$sim" ] || [ ! -x "$sim" ] || ! command -v nc >/dev/null 2>&1 ||
        ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP network smoke test: no gps-sim (TAVRO_GPS_SIM), nc or Xvfb"
        return 0
    fi
    local port
    port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/network-display" \
        >"$work/network-xvfb.log" 2>&1 </dev/null &
    local xvfbPid=$!
    local comDir="$work/network-comdir"
    mkdir -p "$comDir"
    # Each fix's first byte alone, 50 ms after its second: the time the hub exports is
    # received 52 ms (50 ms and one byte time at 4800 baud) after the fix's.
    TAVRO_DEVDIR="$comDir" "$sim" --com "$receiverCom" --no-garbage --quiet --emit-delay 50 \
        >"$work/network-gps-sim.log" 2>&1 </dev/null &
    local simPid=$!
    local waited=0
    while { [ ! -L "$comDir/COM$receiverCom" ] || [ ! -s "$work/network-display" ]; } &&
        [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    # A fresh Wine session whose desktop is that display: its first program (reg) makes it.
    local display=":$(cat "$work/network-display")"
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    local key='HKCU\Software\Brindle\Tavro3'
    # Settings of its own: what the earlier tests left (virtual ports, a driver to start)
    # is no part of this one.
    {
        DISPLAY="$display" wine reg delete "$key" /f
        DISPLAY="$display" wine reg add "$key" /v Port /t REG_DWORD /d "$receiverCom" /f
        DISPLAY="$display" wine reg add "$key" /v Baud /t REG_DWORD /d 4800 /f
        DISPLAY="$display" wine reg add "$key" /v "TCP Port" /t REG_DWORD /d "$port" /f
        DISPLAY="$display" wine reg add "$key" /v "NTP Unit" /t REG_DWORD /d 2 /f
    } >"$work/network-reg.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null
    ln -sfn "$(readlink -f "$comDir/COM$receiverCom")" "$WINEPREFIX/dosdevices/com$receiverCom"
    cp "$build/hub/win32/Tavro.exe" "$build/tests/windows/TavroPortUser.exe" "$tests/"
    rm -f "$tests/release-7" "$tests/release-9"
    DISPLAY="$display" wine "C:\\tavro-tests\\TavroPortUser.exe" driver "$image" 7 9 \
        >"$work/network-driver.log" 2>&1 </dev/null
    sed 's/^/        /' "$work/network-driver.log"
    DISPLAY="$display" wine "C:\\tavro-tests\\Tavro.exe" HIDE >"$work/network-hub.log" 2>&1 \
        </dev/null &
    local hubPid=$!
    local result=1
    waited=0
    while [ $waited -lt 60 ]; do
        # nc reads until the time-out ends it: what it got is what counts.
        timeout 2 nc -d 127.0.0.1 "$port" </dev/null >"$work/network-nc.out" 2>/dev/null
        if grep -q '^\$GPRMC,' "$work/network-nc.out"; then
            result=0
            break
        fi
        sleep 0.5
        waited=$((waited + 1))
    done
    local holders=()
    if [ $result -eq 0 ]; then
        echo "  ok    a Linux nc reads the sentences Tavro.exe serves on TCP port $port"
        local com
        for com in 7 9; do
            DISPLAY="$display" wine "C:\\tavro-tests\\TavroPortUser.exe" hold "$com" \
                "C:\\tavro-tests\\release-$com" >"$work/port-user-$com.log" 2>&1 </dev/null &
            holders+=($!)
        done
        if ! dashboard_smoke "$display" "$port"; then
            result=1
            sed 's/^/        /' "$work"/port-user-*.log
        fi
        cp "$build/tests/windows/TavroTimeReader.exe" "$tests/"
        DISPLAY="$display" timeout 60 wine "C:\\tavro-tests\\TavroTimeReader.exe" 2 4 \
            >"$work/time-reader.log" 2>&1 </dev/null
        local timeResult=$?
        sed 's/^/        /' "$work/time-reader.log"
        if [ $timeResult -eq 0 ]; then
            echo "  ok    TavroTimeReader.exe reads Tavro.exe's fixes from Global\\NTP2"
        else
            echo "  FAIL  TavroTimeReader.exe: exit code $timeResult"
            result=1
        fi
    else
        echo "  FAIL  nothing from Tavro.exe on TCP port $port"
        echo "        COM$receiverCom -> $(readlink "$WINEPREFIX/dosdevices/com$receiverCom")," \
            "listening: $(ss -ltn 2>/dev/null | grep -c ":$port ")"
        wine reg query "$key" >>"$work/network-reg.log" 2>&1 </dev/null
    fi
    local gpsd=/usr/sbin/gpsd
    if [ $result -eq 0 ] && [ -x "$gpsd" ] && command -v gpspipe >/dev/null 2>&1; then
        local gpsdPort
        gpsdPort="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
        "$gpsd" -N -n -F "$work/gpsd.sock" -P "$work/gpsd.pid" -S "$gpsdPort" \
            "tcp://127.0.0.1:$port" >"$work/network-gpsd.log" 2>&1 </dev/null &
        local gpsdPid=$!
        local fix=""
        for _ in 1 2 3 4 5 6; do
            fix="$(timeout 8 gpspipe -w -n 12 "127.0.0.1:$gpsdPort" 2>/dev/null |
                grep '"class":"TPV"' | grep '"mode":3' | head -n 1)"
            [ -n "$fix" ] && break
        done
        kill "$gpsdPid" 2>/dev/null
        wait "$gpsdPid" 2>/dev/null
        if [ -n "$fix" ]; then
            echo "  ok    gpsd reading tcp://127.0.0.1:$port reports a 3D fix: ${fix:0:120}"
        else
            echo "  FAIL  gpsd reading tcp://127.0.0.1:$port reports no fix"
            result=1
        fi
    fi
    kill "$hubPid" "$simPid" "${holders[@]}" 2>/dev/null
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    kill "$xvfbPid" 2>/dev/null
    wait "$hubPid" "$simPid" "$xvfbPid" "${holders[@]}" 2>/dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wine reg delete "$key" /v "TCP Port" /f >>"$work/network-reg.log" 2>&1 </dev/null
    wine reg delete "$key" /v "NTP Unit" /f >>"$work/network-reg.log" 2>&1 </dev/null
    # The later hubs must not find the driver's service and start it.
    wine "C:\\tavro-tests\\TavroPortUser.exe" remove >>"$work/network-driver.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null
    return $result
}

if ! network_smoke; then
    fail_part "network output and dashboard"
fi

# A receiver on the network: Tavro.exe with "Source" tcp:// reads gps-sim's stream that socat
# serves from Linux, relays it (a Linux nc on its TCP output reads the sentences), and when
# socat goes away and comes back, connects again by itself.
source_smoke() {
    local sim="${TAVRO_GPS_SIM:-}"
    if [ -z "$sim" ] || [ ! -x "$sim" ] || ! command -v nc >/dev/null 2>&1 ||
        ! command -v socat >/dev/null 2>&1 || ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP network source test: no gps-sim (TAVRO_GPS_SIM), nc, socat or Xvfb"
        return 0
    fi
    local free='import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
    local sourcePort outPort
    sourcePort="$(python3 -c "$free")"
    outPort="$(python3 -c "$free")"
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/source-display" \
        >"$work/source-xvfb.log" 2>&1 </dev/null &
    local xvfbPid=$!
    local comDir="$work/source-comdir"
    mkdir -p "$comDir"
    TAVRO_DEVDIR="$comDir" "$sim" --com 8 --no-garbage --quiet >"$work/source-gps-sim.log" 2>&1 \
        </dev/null &
    local simPid=$!
    local waited=0
    while { [ ! -L "$comDir/COM8" ] || [ ! -s "$work/source-display" ]; } && [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    serve() {
        socat "TCP-LISTEN:$sourcePort,reuseaddr,bind=127.0.0.1" \
            "OPEN:$(readlink -f "$comDir/COM8"),raw,echo=0" >>"$work/source-socat.log" 2>&1 \
            </dev/null &
        socatPid=$!
    }
    # nc reads the hub's TCP output until its time-out: true once a whole RMC came.
    relays() {
        for _ in $(seq 1 30); do
            timeout 2 nc -d 127.0.0.1 "$outPort" </dev/null >"$work/source-nc.out" 2>/dev/null
            grep -q '^\$GPRMC,' "$work/source-nc.out" && return 0
            sleep 0.5
        done
        return 1
    }
    local socatPid
    serve
    local display=":$(cat "$work/source-display")"
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    local key='HKCU\Software\Brindle\Tavro3'
    {
        DISPLAY="$display" wine reg delete "$key" /f
        DISPLAY="$display" wine reg add "$key" /v Port /t REG_DWORD /d 0 /f
        DISPLAY="$display" wine reg add "$key" /v Baud /t REG_DWORD /d 4800 /f
        DISPLAY="$display" wine reg add "$key" /v Source /t REG_SZ \
            /d "tcp://127.0.0.1:$sourcePort" /f
        DISPLAY="$display" wine reg add "$key" /v "TCP Port" /t REG_DWORD /d "$outPort" /f
    } >"$work/source-reg.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null
    cp "$build/hub/win32/Tavro.exe" "$tests/"
    DISPLAY="$display" wine "C:\\tavro-tests\\Tavro.exe" HIDE >"$work/source-hub.log" 2>&1 \
        </dev/null &
    local hubPid=$!
    local result=0
    if relays; then
        echo "  ok    Tavro.exe relays tcp://127.0.0.1:$sourcePort (socat serving gps-sim)"
    else
        echo "  FAIL  nothing relayed from tcp://127.0.0.1:$sourcePort"
        result=1
    fi
    kill "$socatPid" 2>/dev/null
    wait "$socatPid" 2>/dev/null
    sleep 3
    serve
    if [ $result -eq 0 ] && relays; then
        echo "  ok    after the source dropped for 3 s, Tavro.exe connected again"
    elif [ $result -eq 0 ]; then
        echo "  FAIL  Tavro.exe did not connect again after the source dropped"
        result=1
    fi
    kill "$hubPid" "$simPid" "$socatPid" 2>/dev/null
    wineserver -k >>"$work/wineserver-kill.log" 2>&1 </dev/null
    kill "$xvfbPid" 2>/dev/null
    wait "$hubPid" "$simPid" "$socatPid" "$xvfbPid" 2>/dev/null
    wineserver -w >>"$work/wineserver-kill.log" 2>&1 </dev/null
    wine reg delete "$key" /v Source /f >>"$work/source-reg.log" 2>&1 </dev/null
    wine reg delete "$key" /v "TCP Port" /f >>"$work/source-reg.log" 2>&1 </dev/null
    wineserver -p >>"$work/wineserver.log" 2>&1 </dev/null
    return $result
}

if ! source_smoke; then
    fail_part "network source"
fi

# The hub's driver installer: TavroInstallerTest.exe reads the packaged Tavro.exe as the
# installer's program file, enables and disables the ports, then lets Tavro.exe itself start
# the service it left installed. It removes the service and the driver file the other tests
# installed by hand, so it runs last.
installer_test() {
    local log="$work/TavroInstallerTest.log"
    cp "$build/hub/win32/Tavro.exe" "$build/tests/windows/TavroInstallerTest.exe" "$tests/"
    local testStart=$(date +%s)
    timeout 180 wine "C:\\tavro-tests\\TavroInstallerTest.exe" "C:\\tavro-tests\\Tavro.exe" \
        >"$log" 2>&1 </dev/null
    local result=$?
    cat "$log"
    echo "TavroInstallerTest: exit code $result after $(($(date +%s) - testStart)) s"
    return $result
}

if [ -z "$only" ] && ! installer_test; then
    fail_part "installer test"
fi

echo "Wine run finished after $(elapsed) s"
if [ $failed -ne 0 ]; then
    echo "Failed parts: ${failures[*]}"
    # Their failed checks again, here at the end where a cut output still shows them.
    grep -h -E '^\s*(FAIL|not ok)' "$work"/*.log 2>/dev/null | head -n 40
    echo "FAIL: driver and hub tests under Wine (logs in $work)"
    exit 1
fi
echo "PASS: driver and hub tests under Wine"
