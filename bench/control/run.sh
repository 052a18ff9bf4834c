#!/usr/bin/env bash
# Control socket benchmarks, against a real wardlampd supervising 50 servers:
#   1. `wardlampd ls` (and `ls --json`) end to end: from spawning the command
#      to its exit, its output to /dev/null;
#   2. a followed log: the delay from a server's write of a line to the moment
#      a follower of the socket receives it (an upper bound of "after the
#      manager has it": it includes the pipe and the manager's read);
#   3. ingestion beside followers: a server writes 1,000,000 lines of 80 bytes
#      in 1 MiB writes, with 1 follower and with 1 + 100, runs interleaved.
#      Ingestion is the time from the server's first instruction to its last
#      write done (its pipe is small beside the text, so the manager has read
#      nearly all of it by then); delivery is the time until the first
#      follower receives the manager's "Stopped (exit 0)" line. Followers are
#      raw socket clients that read and discard (wl_bench_follow). A follower
#      that falls behind is sent {"skipped":N} in place of its oldest lines,
#      so delivery is about the newest lines, not every line. The CPU time
#      of wardlampd's main thread over each run is printed too: on two cores
#      the wall times move with whatever else runs (the followers included);
#      and so are the bytes all followers received while the server wrote
#      (what they cost the cores ingestion runs on).
#
#   bench/control/run.sh BUILD_DIR
#
# Environment: WL_BENCH_RUNS=15 (ingestion runs per setting; medians printed),
# WL_BENCH_LS_RUNS=50, WL_BENCH_LINES=1000000, WL_BENCH_FOLLOWERS=100.
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
bin=$build/bin
runs=${WL_BENCH_RUNS:-15}
lsRuns=${WL_BENCH_LS_RUNS:-50}
lines=${WL_BENCH_LINES:-1000000}
followers=${WL_BENCH_FOLLOWERS:-100}
daemon=$bin/wardlampd
for tool in "$daemon" "$bin/wl_bench_spawntime" "$bin/wl_bench_follow" "$bin/wl_bench_stamper" "$bin/wl_bench_loggen"; do
    [ -x "$tool" ] || { echo "run.sh: $tool is not built" >&2; exit 1; }
done

# A private HOME and XDG tree: no rc file of the user's slows the login shell,
# no setting of the user's is read or written, the socket is our own.
scratch=$(mktemp -d /tmp/wardlamp-bench-control.XXXXXX)
mkdir -p "$scratch/home/.config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/runtime SHELL=/bin/bash
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS WL_SEED_SERVERS WL_REMOTE_ENABLED QT_LOGGING_RULES

daemonPid=""
cleanup() {
    [ -n "$daemonPid" ] && kill "$daemonPid" 2>/dev/null && wait "$daemonPid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print v[int((NR + 1) / 2)] }'; }

# 50 quiet servers that start with the daemon, a stamper and a generator that wait to be started.
{
    printf '['
    for i in $(seq 1 50); do
        printf '{"id":"%s","name":"idle-%02d","command":"sleep 100000","autostart":true,"errorAlertEnabled":false},' \
            "$(cat /proc/sys/kernel/random/uuid)" "$i"
    done
    printf '{"id":"%s","name":"stamper","command":"%s 500 20","autostart":false,"errorAlertEnabled":false},' \
        "$(cat /proc/sys/kernel/random/uuid)" "$bin/wl_bench_stamper"
    printf '{"id":"%s","name":"gen","command":"%s --lines %d --mode large --t0-file %s/t0 --done-file %s/done","autostart":false,"errorAlertEnabled":false}]' \
        "$(cat /proc/sys/kernel/random/uuid)" "$bin/wl_bench_loggen" "$lines" "$scratch" "$scratch"
} > "$scratch/servers.json"

"$daemon" --servers "$scratch/servers.json" --quiet > /dev/null 2> "$scratch/daemon.err" &
daemonPid=$!
for _ in $(seq 1 600); do
    running=$("$daemon" ls --json 2>/dev/null | grep -o '"status":"running"' | wc -l || true)
    [ "$running" -ge 50 ] && break
    sleep 0.1
done
[ "$running" -ge 50 ] || { echo "run.sh: the 50 servers did not all start" >&2; cat "$scratch/daemon.err" >&2; exit 1; }
socket=$(ls "$XDG_RUNTIME_DIR"/wardlamp/*.sock)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "1. wardlampd ls, 50 servers running, $lsRuns runs (ms, spawn to exit)"
printf '   ls          %s\n' "$("$bin/wl_bench_spawntime" "$lsRuns" "$daemon" ls)"
printf '   ls --json   %s\n' "$("$bin/wl_bench_spawntime" "$lsRuns" "$daemon" ls --json)"
echo "   target: 20 ms"

echo
echo "2. logs -f: a line every 20 ms, 500 lines (ms, from the server's write to a follower's read)"
coproc FOLLOW { "$bin/wl_bench_follow" "$socket" stamper 1 latency 480; }
# bash unsets FOLLOW and FOLLOW_PID once the coprocess has ended, possibly
# before its last line is read: keep a copy of both while they are there.
followPid=$FOLLOW_PID
exec {followOut}<&"${FOLLOW[0]}"
read -r word <&"$followOut"
[ "$word" = ready ] || { echo "run.sh: the follower did not start" >&2; exit 1; }
"$daemon" start stamper > /dev/null
read -r figures <&"$followOut"
exec {followOut}<&-
wait "$followPid" 2>/dev/null || true
"$daemon" stop stamper > /dev/null
printf '   1 follower  %s\n' "$figures"
echo "   target: 10 ms"

echo
echo "3. ingestion of $lines lines (1 MiB writes) with followers (ms, median of $runs)"
# CPU time (ms) of wardlampd's main thread so far.
mainCpu() { awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); print int(($12 + $13) * 1000 / hz) }' "/proc/$daemonPid/task/$daemonPid/stat"; }
ingest() { # extra followers; prints "INGESTION_MS DELIVERY_MS MAIN_THREAD_CPU_MS RECEIVED_DURING_MB"
    rm -f "$scratch/t0" "$scratch/done"
    local cpuBefore
    cpuBefore=$(mainCpu)
    coproc INGEST { "$bin/wl_bench_follow" "$socket" gen $((1 + $1)) until 'Stopped (exit 0)' "$scratch/t0:$scratch/done"; }
    local ingestPid=$INGEST_PID ingestOut
    exec {ingestOut}<&"${INGEST[0]}"
    read -r word <&"$ingestOut"
    [ "$word" = ready ] || { echo "run.sh: the followers did not start" >&2; exit 1; }
    "$daemon" start gen > /dev/null
    local endUs during all
    read -r endUs during all <&"$ingestOut"
    exec {ingestOut}<&-
    wait "$ingestPid" 2>/dev/null || true
    for _ in $(seq 1 100); do [ -s "$scratch/done" ] && break; sleep 0.05; done
    local t0
    t0=$(cat "$scratch/t0")
    echo "$(( ($(cat "$scratch/done") - t0) / 1000 )) $(( (endUs - t0) / 1000 )) $(( $(mainCpu) - cpuBefore )) $(( during / 1000000 ))"
}
aloneIn=() aloneOut=() aloneCpu=() aloneGot=() crowdIn=() crowdOut=() crowdCpu=() crowdGot=()
for _ in $(seq 1 "$runs"); do
    read -r i o c g < <(ingest 0)
    aloneIn+=("$i") aloneOut+=("$o") aloneCpu+=("$c") aloneGot+=("$g")
    read -r i o c g < <(ingest "$followers")
    crowdIn+=("$i") crowdOut+=("$o") crowdCpu+=("$c") crowdGot+=("$g")
done
ai=$(printf '%s\n' "${aloneIn[@]}" | median)
ci=$(printf '%s\n' "${crowdIn[@]}" | median)
ao=$(printf '%s\n' "${aloneOut[@]}" | median)
co=$(printf '%s\n' "${crowdOut[@]}" | median)
printf '   ingestion, 1 follower          %s ms   (runs: %s)\n' "$ai" "${aloneIn[*]}"
printf '   ingestion, 1 + %d followers   %s ms   (runs: %s)\n' "$followers" "$ci" "${crowdIn[*]}"
awk -v a="$ai" -v c="$ci" 'BEGIN { printf "   slower by                      %.1f%%   (target: at most 10%%)\n", (c - a) * 100 / a }'
# The runs alternate, so each crowded run has a lone one beside it: the median
# of those pairs' ratios is not moved by a drift of the machine's speed over
# the minutes the runs take, which moves the two medians above apart.
pairwise=$(for ((i = 0; i < ${#aloneIn[@]}; i++)); do
    awk -v a="${aloneIn[i]}" -v c="${crowdIn[i]}" 'BEGIN { printf "%.1f\n", (c - a) * 100 / a }'
done | median)
printf '   slower by, run by run          %s%%   (median of the %d pairs of runs)\n' "$pairwise" "$runs"
printf '   delivery, 1 follower           %s ms   (runs: %s)\n' "$ao" "${aloneOut[*]}"
printf '   delivery, 1 + %d followers    %s ms   (runs: %s)\n' "$followers" "$co" "${crowdOut[*]}"
printf '   main thread CPU, 1 follower    %s ms   (runs: %s)\n' "$(printf '%s\n' "${aloneCpu[@]}" | median)" "${aloneCpu[*]}"
printf '   main thread CPU, 1 + %d        %s ms   (runs: %s)\n' "$followers" "$(printf '%s\n' "${crowdCpu[@]}" | median)" "${crowdCpu[*]}"
printf '   received meanwhile, 1          %s MB   (runs: %s)\n' "$(printf '%s\n' "${aloneGot[@]}" | median)" "${aloneGot[*]}"
printf '   received meanwhile, 1 + %d     %s MB   (all followers; runs: %s)\n' "$followers" "$(printf '%s\n' "${crowdGot[@]}" | median)" "${crowdGot[*]}"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
