#!/usr/bin/env bash
# The packaged user unit under a real systemd user manager: started, reloaded, restarted while
# a program reads a virtual port (the terminal must come back from the descriptor store with
# the reader still on it), and stopped, all inside the sandbox the unit asks for.
#
# Where systemd does not run the machine (containers, CI), the manager is started by hand for
# a throw-away account: its own cgroup, and a mount namespace in which /run/systemd/system
# marks the machine as booted with systemd. Elsewhere, or without root, it skips with the
# reason. Called by scripts/package-test.sh:
#
#     scripts/user-unit-test.sh ROOT    # ROOT: / for the installed package, or a dpkg --root
set -euo pipefail

root=${1:?usage: user-unit-test.sh ROOT (/ or the root the package was unpacked into)}
skip() {
    echo "  user manager test skipped: $*"
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "it needs root (an account, its cgroup, a mount namespace)"
[ -x /lib/systemd/systemd ] && command -v systemctl >/dev/null || skip "systemd is not installed"
# A machine run by systemd has user managers of its own; this one must not be replaced.
[ -d /run/systemd/system ] && skip "systemd runs this machine (the test is for machines without)"

user=tavro-unit-test
created=0
if ! id "$user" >/dev/null 2>&1; then
    useradd --create-home --user-group --shell /usr/sbin/nologin "$user"
    created=1
fi
uid=$(id -u "$user")
gid=$(id -g "$user")
home=$(getent passwd "$user" | cut -d: -f6)
runtime=/run/user/$uid
shm=/TavroUnitTest-$$
work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-unit-XXXXXX")
log=$home/test # the account's own: the unit's /tmp is a private one
mkdir -p "$runtime" "$log"
chown "$uid:$gid" "$runtime" "$log"
chmod 700 "$runtime"

manager="" sim="" reader=""
cgroups=()
cleanup() {
    for pid in $reader $sim $manager; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for group in "${cgroups[@]}"; do
        find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
        rmdir "$(dirname "$group")" 2>/dev/null || true # user.slice, unless others are in it
    done
    rm -rf "$work" "$runtime" /dev/shm/"${shm#/}"*
    if [ "$created" = 1 ]; then
        userdel --remove "$user" 2>/dev/null || true
    fi
}
trap cleanup EXIT

fail() {
    echo "user manager test: $*" >&2
    echo "-- the hub's output:" >&2
    tail -n 20 "$log/hub.log" >&2 2>/dev/null || true
    echo "-- systemctl --user status tavro:" >&2
    as_user systemctl --user status --no-pager --lines=0 tavro.service >&2 || true
    exit 1
}
# A command as the account; `"${as_user[@]}" COMMAND &` keeps $! the command's own process.
as_user=()
as_user() { "${as_user[@]}" "$@"; }
unit() { as_user systemctl --user show tavro.service --value -p "$1"; }
# until SECONDS COMMAND...: true once COMMAND succeeds, tried every 0.1 s.
until_true() {
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
ms() { echo $((($(date +%s%N) - $1) / 1000000)); }

# The programs and the unit where the package put them; from a private root, where a user's
# own installation would (~/.local/bin, ~/.config/systemd/user).
units=$home/.config/systemd/user
mkdir -p "$units/tavro.service.d"
if [ "$root" = / ]; then
    bin=/usr/bin
else
    bin=$home/.local/bin
    mkdir -p "$bin"
    cp "$root/usr/bin/tavro" "$root/usr/bin/gps-sim" "$bin/"
    sed "s|/usr/bin/|$bin/|" "$root/usr/lib/systemd/user/tavro.service" >"$units/tavro.service"
fi
# No journald here: the hub's output goes to a file instead; nothing else of the unit changes.
printf '[Service]\nStandardOutput=append:%s\nStandardError=append:%s\n' "$log/hub.log" \
    "$log/hub.log" >"$units/tavro.service.d/test-output.conf"
chown -R "$uid:$gid" "$home"
as_user=(setpriv --reuid="$uid" --regid="$gid" --init-groups env -i HOME="$home" USER="$user"
    LOGNAME="$user" XDG_RUNTIME_DIR="$runtime" TAVRO_SHM="$shm" PATH="$bin:/usr/bin:/bin")

# The manager's cgroup, delegated to the account as logind would: the unified hierarchy, and
# the named systemd one where the layout is hybrid.
if [ "$(stat -fc %T /sys/fs/cgroup)" = cgroup2fs ]; then
    hierarchies=(/sys/fs/cgroup)
else
    hierarchies=()
    for h in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
        if mountpoint -q "$h"; then hierarchies+=("$h"); fi
    done
fi
[ ${#hierarchies[@]} -gt 0 ] || skip "no cgroup hierarchy systemd can use is mounted"
procs=""
for h in "${hierarchies[@]}"; do
    group=$h/user.slice/user-$uid.slice
    mkdir -p "$group/user@$uid.service" 2>/dev/null || skip "cannot create a cgroup under $h"
    cgroups+=("$group")
    chown -R "$uid:$gid" "$group/user@$uid.service"
    procs+=" $group/user@$uid.service/cgroup.procs"
done

echo "== a user manager for $user (uid $uid)"
# In its mount namespace: /run a mount point (systemd mounts a fresh one over /run for a
# sandboxed service otherwise, hiding the runtime folder), /run/systemd/system the sign of a
# machine booted with systemd, and unit-root where it builds a service's file system view.
mkdir -p "$work/run-systemd/system" /run/systemd
mkdir -m 0700 "$work/run-systemd/unit-root"
start=$(date +%s%N)
PROCS=$procs RUN_SYSTEMD=$work/run-systemd TEST_UID=$uid TEST_GID=$gid \
    TEST_USER=$user TEST_HOME=$home RUNTIME=$runtime unshare --mount --propagation slave sh -c '
    for file in $PROCS; do echo $$ >"$file"; done
    mountpoint -q /run || mount --bind /run /run
    mount --bind "$RUN_SYSTEMD" /run/systemd
    exec setpriv --reuid="$TEST_UID" --regid="$TEST_GID" --init-groups env -i HOME="$TEST_HOME" \
        USER="$TEST_USER" LOGNAME="$TEST_USER" XDG_RUNTIME_DIR="$RUNTIME" PATH=/usr/bin:/bin \
        /lib/systemd/systemd --user' </dev/null >"$work/manager.out" 2>&1 &
manager=$!
if ! until_true 10 as_user systemctl --user show -p Version; then
    skip "the user manager did not start: $(tail -n 3 "$work/manager.out")"
fi
echo "  running in $(ms "$start") ms: systemd $(as_user systemctl --user show -p Version --value)"

echo "== the receiver"
# gps-sim's COM1 leads through /proc/<pid>/fd/, which a process in the unit's user namespace
# may not follow; a real receiver is a device path, as COM2 is.
"${as_user[@]}" gps-sim --com 1 --quiet </dev/null >"$work/sim.log" 2>&1 &
sim=$!
until_true 10 test -e "$runtime/tavro/COM1" || fail "gps-sim made no COM1"
as_user tavro link COM2 "$(readlink -f "$runtime/tavro/COM1")" >/dev/null
as_user tavro config set Port 2 >/dev/null
as_user tavro config set Port0 5 >/dev/null
as_user systemctl --user set-environment TAVRO_SHM="$shm"

echo "== systemctl --user start tavro"
start=$(date +%s%N)
as_user systemctl --user start tavro.service || fail "systemctl --user start failed"
until_true 10 as_user tavro status || fail "tavro status: $(as_user tavro status 2>&1)"
pid=$(unit MainPID)
echo "  active, input open, in $(ms "$start") ms (pid $pid)"
field() { awk -v name="$1:" '$1 == name { print $2 }' "/proc/$pid/status"; }
tmp=$(awk '$5 == "/tmp" { print ($4 == "/" ? "shared" : "private") }' "/proc/$pid/mountinfo")
echo "  sandbox: NoNewPrivs $(field NoNewPrivs), Seccomp $(field Seccomp) with" \
    "$(field Seccomp_filters) filters, CapEff $(field CapEff), user namespace mapping" \
    "$(wc -l <"/proc/$pid/uid_map") id, /tmp ${tmp:-shared}"

# A program on COM5, reading raw; it notes how its reading ended.
"${as_user[@]}" python3 -c '
import os, sys, tty
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NOCTTY)
tty.setraw(fd)
with open(sys.argv[2], "ab", buffering=0) as out:
    while True:
        try:
            data = os.read(fd, 4096)
        except OSError as error:
            data = b""
            out.write(b"\n[reader: errno %d]\n" % error.errno)
        if not data:
            break
        out.write(data)
' "$runtime/tavro/COM5" "$log/reader.out" </dev/null 2>"$work/reader.err" &
reader=$!
sentences() { grep -c '^\$GPRMC,' "$log/reader.out" 2>/dev/null || true; }
more_sentences() { [ "$(sentences)" -ge "$1" ]; }
until_true 10 more_sentences 1 || fail "the reader on COM5 got nothing"

echo "== systemctl --user reload tavro"
reads=$(grep -c "settings read again" "$log/hub.log" || true)
start=$(date +%s%N)
as_user systemctl --user reload tavro.service || fail "systemctl --user reload failed"
read_again() { [ "$(grep -c "settings read again" "$log/hub.log")" -gt "$reads" ]; }
until_true 5 read_again || fail "the hub did not read its settings again"
[ "$(unit MainPID)" = "$pid" ] && [ "$(unit ActiveState)" = active ] ||
    fail "the hub did not stay up through the reload"
echo "  settings read again in $(ms "$start") ms, same process"

echo "== systemctl --user restart tavro, with a program on COM5"
terminal=$(readlink -f "$runtime/tavro/COM5")
before=$(sentences)
start=$(date +%s%N)
as_user systemctl --user restart tavro.service || fail "systemctl --user restart failed"
restarted=$(ms "$start")
until_true 10 as_user tavro status || fail "tavro status after the restart"
[ "$(unit MainPID)" != "$pid" ] || fail "the hub was not restarted"
[ "$(readlink -f "$runtime/tavro/COM5")" = "$terminal" ] ||
    fail "COM5 leads to $(readlink -f "$runtime/tavro/COM5"), not to $terminal as before"
until_true 10 more_sentences $((before + 2)) ||
    fail "the reader stopped at $(sentences) sentences: $(grep -a '\[reader' "$log/reader.out")"
! grep -aq '\[reader' "$log/reader.out" || fail "the reader lost COM5 in the restart"
echo "  back in $restarted ms; COM5 is still $terminal and its reader went on"

echo "== systemctl --user stop tavro"
start=$(date +%s%N)
as_user systemctl --user stop tavro.service || fail "systemctl --user stop failed"
echo "  stopped in $(ms "$start") ms"
! as_user systemctl --user is-failed --quiet tavro.service || fail "the unit failed"
[ "$(unit Result)" = success ] && [ "$(unit ExecMainStatus)" = 0 ] ||
    fail "the hub ended with $(unit Result), status $(unit ExecMainStatus)"
[ ! -e "$runtime/tavro/COM5" ] || fail "COM5 is left behind"
# With the hub stopped for good, the store lets the terminal go and the reader sees its end.
until_true 5 grep -aq '\[reader' "$log/reader.out" || fail "the terminal outlived the unit"
if grep -aiE "denied|not permitted|bad system call|SIGSYS" "$log/hub.log"; then
    fail "the sandbox refused the hub something"
fi
echo "  no sandbox refusals in the hub's output"
echo "user manager test passed"
