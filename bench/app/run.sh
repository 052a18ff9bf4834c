#!/usr/bin/env bash
# Desktop app benchmarks, under Xvfb with trayer as the tray host and a private
# D-Bus session (no keyring involved):
#   1. launch -> tray icon docked (in process, from the process's start);
#   2. icon activation -> panel painted, 3 and 200 servers, cold and warm;
#   3. event-loop stalls while 10 servers print 1,000 lines/s each, panel open;
#   4. memory: RSS and PSS of wardlamp with 10 servers holding 2,000 lines
#      each, beside a bare Qt Widgets tray program (the floor);
#   5. idle: context switches of every wardlamp thread over 30 s, 10 quiet
#      servers, panel closed.
#
#   bench/app/run.sh BUILD_DIR
# Environment: WL_BENCH_RUNS (5), WL_BENCH_IDLE_SECONDS (30).
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)

if [ -z "${WL_BENCH_APP_SESSION:-}" ]; then
    scratch=$(mktemp -d /tmp/wardlamp-bench-app.XXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -p "$scratch/home/.config" "$scratch/runtime"
    chmod 700 "$scratch/runtime"
    exec env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY WL_BENCH_APP_SESSION=1 HOME="$scratch/home" \
        XDG_CONFIG_HOME="$scratch/home/.config" XDG_DATA_HOME="$scratch/home/.local/share" \
        XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=xcb SHELL=/bin/sh \
        xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$0" "$build"
fi

runs=${WL_BENCH_RUNS:-5}
idleSeconds=${WL_BENCH_IDLE_SECONDS:-30}
bin=$build/bin
trayer --edge top --align right --widthtype pixel --width 120 --height 32 --SetDockType true \
    --transparent false --tint 0xdddddd >/dev/null 2>&1 &
trayerPid=$!
trap 'kill $trayerPid 2>/dev/null || true' EXIT
sleep 1

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

echo "== launch -> tray icon docked ($runs runs)"
for _ in $(seq "$runs"); do
    "$bin/bench_app" launch 2>/dev/null | sed -n 's/.*docked: \([0-9.]*\) ms/\1/p'
done | median | sed 's/^/median ms: /'

echo "== activation -> panel painted"
"$bin/bench_app" open 3 2>/dev/null
"$bin/bench_app" open 200 2>/dev/null

echo "== stalls"
"$bin/bench_app" stalls 2>/dev/null

memory() { # pid label
    awk -v label="$2" '/^Rss:/ { rss = $2 } /^Pss:/ { pss = $2 } /^Private_Dirty:/ { priv = $2 }
        END { printf "%s: RSS %.1f MiB, PSS %.1f MiB, private dirty %.1f MiB\n", label, rss / 1024, pss / 1024, priv / 1024 }' \
        "/proc/$1/smaps_rollup"
}

child=$bin/wl-test-child
seed() { # steps...
    local list="" i
    for i in $(seq 10); do
        [ -n "$list" ] && list="$list,"
        list="$list{\"id\":\"00000000-0000-4000-8000-0000000000$((10 + i))\",\"name\":\"server $i\",\"command\":\"$child $*\",\"autostart\":true,\"errorAlertEnabled\":false}"
    done
    echo "[$list]"
}

echo "== memory"
"$bin/bench_qt_floor" & floorPid=$!
sleep 3
memory $floorPid "bare Qt Widgets tray program (the floor)"
kill $floorPid; wait $floorPid 2>/dev/null || true

WL_SEED_SERVERS=$(seed lines:2000:60 hold) "$bin/wardlamp" 2>/dev/null & appPid=$!
sleep 6
memory $appPid "wardlamp, 10 servers x 2,000 lines"
kill $appPid; wait $appPid 2>/dev/null || true

WL_SEED_SERVERS="[]" "$bin/wardlamp" 2>/dev/null & appPid=$!
sleep 3
memory $appPid "wardlamp, no servers"
kill $appPid; wait $appPid 2>/dev/null || true

echo "== idle ($idleSeconds s, 10 quiet servers, panel closed)"
WL_SEED_SERVERS=$(seed out:ready hold) "$bin/wardlamp" 2>/dev/null & appPid=$!
# Past Qt's thread pool expiry (30 s): helper threads of the start-up are gone.
sleep 40
sample() { for t in /proc/$1/task/*; do echo "${t##*/} $(awk '/ctxt_switches/ { n += $2 } END { print n }' "$t/status")"; done | sort; }
before=$(sample $appPid)
sleep "$idleSeconds"
after=$(sample $appPid)
join <(echo "$before") <(echo "$after") | awk -v secs="$idleSeconds" -v nb="$(echo "$before" | wc -l)" -v na="$(echo "$after" | wc -l)" \
    '{ d += $3 - $2 } END { printf "context switches of all threads in %d s: %d (threads %d before, %d after)\n", secs, d, nb, na }'
kill $appPid; wait $appPid 2>/dev/null || true
