#!/usr/bin/env bash
# The Debian package, built and tried as a user would get it: `cpack -G DEB` from the native
# build, its contents and dependencies, installed with dpkg into a private root (nothing on this
# machine changes), the programs and man pages from there, the systemd unit checked, and the
# unit's command line started by hand with a stand-in service manager (NOTIFY_SOCKET) while the
# simulated receiver runs; then, as root on a machine that systemd does not run, the unit under a
# real user manager (scripts/user-unit-test.sh: start, reload, restart through the descriptor
# store, stop). With TAVRO_PACKAGE_SYSTEM_INSTALL=1 (CI, on a throw-away machine) it is also
# installed for real with apt-get, that installed unit tried under the user manager instead, and
# removed again.
#
#     ./scripts/package-test.sh          # prints "package test passed" at the end
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

fail() {
    echo "package test: $*" >&2
    exit 1
}

cmake --preset native >/dev/null
cmake --build --preset native --target tavro tavro-web feltro gps-sim tavro_man_pages
(cd build/native && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(Tavro VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$(ls build/native/package/tavro_"$version"_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\|Suggests\):/  \1:/p'

work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-package-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

echo "== contents"
contents=$(dpkg-deb --contents "$deb")
for path in usr/bin/tavro usr/bin/tavro-web usr/bin/feltro usr/bin/gps-sim \
    usr/share/man/man1/tavro.1.gz usr/share/man/man1/tavro-web.1.gz \
    usr/share/man/man1/feltro.1.gz usr/share/man/man1/gps-sim.1.gz \
    usr/lib/systemd/user/tavro.service usr/lib/systemd/user/tavro-web.service \
    usr/share/doc/tavro/examples/60-tavro-gps.rules usr/share/doc/tavro/copyright; do
    grep -q " \./$path\$" <<<"$contents" || fail "$path is not in the package"
done

echo "== cmake --install into another prefix"
cmake --install build/native --prefix "$work/prefix" >/dev/null
grep -q "^ExecStart=$work/prefix/bin/tavro run\$" "$work/prefix/lib/systemd/user/tavro.service" ||
    fail "the installed unit does not name the installed program"
grep -q "^ExecStart=$work/prefix/bin/tavro-web\$" "$work/prefix/lib/systemd/user/tavro-web.service" ||
    fail "the installed dashboard unit does not name the installed program"
[ -x "$work/prefix/bin/tavro" ] && [ -f "$work/prefix/share/man/man1/tavro.1.gz" ] ||
    fail "cmake --install left out the program or its man page"

echo "== dependencies resolve on this system"
if [ "$(id -u)" -eq 0 ]; then
    apt-get -s install "$PWD/$deb" >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log"
        fail "apt-get cannot install it"
    }
else
    echo "  (not root: apt-get -s skipped)"
fi

echo "== dpkg -i into a private root"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
# The root has no libc of its own: the programs run on this system's libraries.
dpkg --root="$root" --force-depends --force-script-chrootless --force-not-root -i "$deb" \
    >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log"
    fail "dpkg -i failed"
}
bin="$root/usr/bin"
for program in tavro tavro-web feltro gps-sim; do
    out=$("$bin/$program" --version)
    [ "$out" = "$program $version" ] || fail "$program --version says '$out'"
done
"$bin/tavro" status --help | grep -q "^usage: tavro status" || fail "tavro status --help"

echo "== man pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

echo "== the unit"
unit="$root/usr/lib/systemd/user/tavro.service"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ "${exec_start%% *}" = /usr/bin/tavro ] || fail "ExecStart is '$exec_start'"
for line in Type=notify WatchdogSec= FileDescriptorStoreMax= ExecReload=; do
    grep -q "^$line" "$unit" || fail "the unit has no $line"
done
if command -v systemd-analyze >/dev/null; then
    sed "s|/usr/bin/|$bin/|" "$unit" >"$work/tavro.service"
    sed "s|/usr/bin/|$bin/|" "$root/usr/lib/systemd/user/tavro-web.service" \
        >"$work/tavro-web.service"
    systemd-analyze verify --man=no "$work/tavro.service" "$work/tavro-web.service" ||
        fail "systemd-analyze verify"
    # The sandbox: an exposure of 3.0 ("OK") at most for each unit, as a user manager reads
    # them (it needs a runtime folder to name).
    mkdir -p "$work/runtime"
    for name in tavro.service tavro-web.service; do
        XDG_RUNTIME_DIR="$work/runtime" systemd-analyze security --offline=true --user \
            --threshold=30 --no-pager "$work/$name" >"$work/security.txt" 2>&1 ||
            fail "$name is exposed above 3.0: $(tail -n 1 "$work/security.txt")"
        echo "  $(tail -n 1 "$work/security.txt")"
    done
fi

echo "== the unit's command line, by hand, with a stand-in service manager"
export TAVRO_DEVDIR="$work/dev" XDG_CONFIG_HOME="$work/config" HOME="$work"
export TAVRO_SHM="/TavroPackage-$$"
"$bin/gps-sim" --com 1 --quiet &
pids=("$!" "${pids[@]}")
for _ in $(seq 100); do [ -e "$TAVRO_DEVDIR/COM1" ] && break; sleep 0.1; done
"$bin/tavro" config set Port 1 >/dev/null
"$bin/tavro" config set Port0 5 >/dev/null
# The manager's end of NOTIFY_SOCKET: every notice on a line, with the descriptors it carried.
python3 - "$work/notify" "$work/notify.log" <<'EOF' &
import array, os, socket, sys
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(sys.argv[1])
log = open(sys.argv[2], "a")
while True:
    data, ancillary, _, _ = sock.recvmsg(4096, socket.CMSG_SPACE(64 * 4))
    fds = array.array("i")
    for level, kind, payload in ancillary:
        if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
            fds.frombytes(payload[: len(payload) - len(payload) % fds.itemsize])
    for fd in fds:
        os.close(fd)
    log.write(data.decode(errors="replace").replace("\n", " ") + " [%d fds]\n" % len(fds))
    log.flush()
EOF
pids=("$!" "${pids[@]}")
for _ in $(seq 50); do [ -S "$work/notify" ] && break; sleep 0.1; done
read -r -a command <<<"$exec_start"
command[0]="$bin/${command[0]#/usr/bin/}"
NOTIFY_SOCKET="$work/notify" WATCHDOG_USEC=2000000 "${command[@]}" 2>"$work/hub.log" &
hub=$!
pids=("$hub" "${pids[@]}")
code=1
for _ in $(seq 300); do
    code=0
    "$bin/tavro" status >"$work/status" || code=$?
    [ "$code" -eq 0 ] && break
    sleep 0.1
done
cat "$work/status"
[ "$code" -eq 0 ] || fail "tavro status exits $code; the hub's log: $(cat "$work/hub.log")"
sleep 3 # a few watchdog periods
kill -TERM "$hub"
code=0
wait "$hub" || code=$?
pids=("${pids[@]:1}")
[ "$code" -eq 0 ] || fail "the hub ended with $code after SIGTERM"
echo "-- notices:"
sort "$work/notify.log" | uniq -c | sed 's/^/  /'
grep -q "READY=1" "$work/notify.log" || fail "no READY=1 (Type=notify would time out)"
grep -q "WATCHDOG=1" "$work/notify.log" || fail "no WATCHDOG=1 within the watchdog period"
grep -q "FDSTORE=1" "$work/notify.log" || fail "the virtual port's terminal was not stored"
grep -q "STOPPING=1" "$work/notify.log" || fail "no STOPPING=1"
if [ "${TAVRO_PACKAGE_SYSTEM_INSTALL:-0}" != 1 ]; then
    echo "== the unit under a real user manager"
    scripts/user-unit-test.sh "$root" || fail "the unit under a user manager"
fi

if [ "${TAVRO_PACKAGE_SYSTEM_INSTALL:-0}" = 1 ]; then
    echo "== apt-get install (this machine)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$PWD/$deb" >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log"
        fail "apt-get install failed"
    }
    [ "$(tavro --version)" = "tavro $version" ] || fail "the installed tavro"
    man -w tavro >/dev/null || fail "man tavro"
    if command -v systemd-analyze >/dev/null; then
        systemd-analyze verify --man=no /usr/lib/systemd/user/tavro.service || fail "the unit"
    fi
    echo "== the installed unit under a real user manager"
    scripts/user-unit-test.sh / || fail "the installed unit under a user manager"
    dpkg -r tavro >/dev/null || fail "dpkg -r"
fi
echo "package test passed"
