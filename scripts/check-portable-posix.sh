#!/usr/bin/env bash
# The portable POSIX adapters (platform/posix) must build on POSIX systems other than Linux:
# they are compiled here where no platform/linux header can be found, and may not name a
# Linux-only system header. Syntax only; a system's own folder supplies what their headers
# declare for it (CarrierWait.h, LineSpeed.h, ProcPaths.h, TcpWindow.h, TerminalDevices.h).
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${CXX:-c++}

status=0
linuxOnly='#include <(linux|asm|asm-generic)/|#include <sys/(inotify|signalfd|timerfd|epoll|eventfd|prctl|sysmacros|sendfile|vfs|syscall|fsuid|personality|capability)\.h>'
if grep -nE "$linuxOnly" platform/posix/*; then
    echo "platform/posix: Linux-only system headers above; they belong in platform/linux" >&2
    status=1
fi

# The project as the compiler sees it, without platform/linux. A quoted include is looked up
# beside the including file first, so the sources are compiled through this tree too.
shadow=$(mktemp -d)
trap 'rm -rf "$shadow"' EXIT
for entry in *; do
    [ "$entry" = platform ] || ln -s "$PWD/$entry" "$shadow/$entry"
done
mkdir "$shadow/platform"
for entry in platform/*; do
    [ "$entry" = platform/linux ] || ln -s "$PWD/$entry" "$shadow/$entry"
done
if ! (cd "$shadow" && printf '%s\0' platform/posix/*.cpp |
    xargs -0 -n 4 -P "$(nproc)" "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
        -I "$shadow"); then
    echo "platform/posix does not build without platform/linux" >&2
    status=1
fi
exit $status
