#!/usr/bin/env bash
# Runs the x64 Win32 driver tests under Wine: a throwaway prefix, a persistent wineserver so
# the driver host survives between programs, Tavro.sys installed as a kernel service by the
# test programs themselves. Every Wine process writes to a file in the work directory (Wine's
# system processes keep inherited pipes open forever); the logs are printed afterwards.
#
# run-wine-tests.sh [--install] <mingw-x64 build directory> <work directory>
#   --install  install the Wine packages first (CI); otherwise a missing Wine skips (77).
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
required=("$driver" "$probe" "$build/tests/windows/TavroApp.exe")
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
for program in "${programs[@]}"; do
    log="$work/$program.log"
    programStart=$(date +%s)
    # shellcheck disable=SC2086 # the arguments are words without blanks
    timeout 180 wine "C:\\tavro-tests\\$program.exe" ${arguments[$program]} >"$log" 2>&1 </dev/null
    result=$?
    cat "$log"
    echo "$program: exit code $result after $(($(date +%s) - programStart)) s"
    if [ $result -ne 0 ]; then
        failed=1
    fi
done

echo "Wine run finished after $(elapsed) s"
if [ $failed -ne 0 ]; then
    echo "FAIL: driver tests under Wine (logs in $work)"
    exit 1
fi
echo "PASS: driver tests under Wine"
