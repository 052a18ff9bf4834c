#!/usr/bin/env bash
# The log window's benchmarks under Xvfb (a real X server, so painting is
# real), in a private D-Bus session:
#   1. a server printing 10,000 lines/s for 30 s, its log shown with
#      auto-scroll on: worst gap of a 4 ms timer, GUI main-thread CPU, RSS
#      every 5 s (flat once the cap is reached);
#   2. opening the log window on 10 servers x 2,000 lines (to its first paint),
#      switching servers (to the log's paint), a search over 2,000 lines.
#
#   bench/windows/run.sh BUILD_DIR
# Environment: WL_BENCH_STREAM_SECONDS (30), WL_BENCH_STREAM_RATE (10000).
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)

if [ -z "${WL_BENCH_WINDOWS_SESSION:-}" ]; then
    scratch=$(mktemp -d /tmp/wardlamp-bench-windows.XXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -p "$scratch/home/.config" "$scratch/runtime"
    chmod 700 "$scratch/runtime"
    exec env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY WL_BENCH_WINDOWS_SESSION=1 HOME="$scratch/home" \
        XDG_CONFIG_HOME="$scratch/home/.config" XDG_DATA_HOME="$scratch/home/.local/share" \
        XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=xcb SHELL=/bin/sh \
        xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$0" "$build"
fi

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== stream"
"$build/bin/bench_windows" stream "${WL_BENCH_STREAM_RATE:-10000}" "${WL_BENCH_STREAM_SECONDS:-30}" 2>/dev/null
echo "== open, switch, search"
"$build/bin/bench_windows" open 2>/dev/null
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
