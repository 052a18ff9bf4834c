#!/usr/bin/env bash
# Supervision benchmarks, each beside the tools a user would pick instead:
#   1. log ingestion: 1,000,000 lines of 80 bytes through the real ServerManager,
#      the raw pipe (generator | cat), supervisord, concurrently and pm2;
#   2. memory: wardlampd and supervisord, each supervising the same 10 servers
#      that hold 2000 lines;
#   3. idle: context switches of wardlampd (all threads) with 10 quiet servers;
#   4. stop: time until the last of 5 descendants (one setsid'd) is gone;
#   5. port recovery: a real Node server on a port a stray Node server holds,
#      from the EADDRINUSE line to the restarted server's first answer;
#   6. marginal cost per line in 64 KiB writes: the CPU a reader spends per extra
#      line (the slope between two line counts, so start-up and exit cancel out),
#      for the raw pipe's cat, the in-process ServerManager and wardlampd.
# Prints one table per benchmark: medians of several runs, ratios to the raw pipe.
#
#   bench/supervision/run.sh BUILD_DIR
#
# Environment:
#   WL_BENCH_RUNS=5            runs per measurement (the median is printed)
#   WL_BENCH_LINES=1000000     lines per ingestion run
#   WL_BENCH_IDLE_SECONDS=30   idle window
#   WL_BENCH_ONLY="ingest memory idle stop port marginal"   a subset of the benchmarks
#   WL_BENCH_MARGINAL_LINES="1000000 5000000"  the two line counts of the slope (at
#                              200,000 the fixed costs still move the slope by 50%)
#   WL_BENCH_PEERS="supervisord concurrently pm2"   peers to measure (empty: none)
#   WL_BENCH_NPM_PREFIX=DIR    reuse an npm prefix holding pm2 and concurrently
#                              (default: `npm install` into a fresh temporary one)
#
# Fairness: every ingestion time runs from the generator's own first instruction
# (it writes CLOCK_REALTIME to a file) to the moment the tool has handled the
# last line, so no tool is charged for its own start-up or for the login shell
# that Wardlamp runs every command through (the ServerManager row also prints
# the time from start(), shell included). "Handled" means: the raw pipe's cat
# has exited; supervisord's and pm2's log files hold every byte; concurrently
# has exited after writing every line; Wardlamp's ServerManager has published
# the last line to its observers.
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
bin=$build/bin
runs=${WL_BENCH_RUNS:-5}
lines=${WL_BENCH_LINES:-1000000}
idleSeconds=${WL_BENCH_IDLE_SECONDS:-30}
only=${WL_BENCH_ONLY:-ingest memory idle stop port marginal}
marginalLines=${WL_BENCH_MARGINAL_LINES:-1000000 5000000}
peers=${WL_BENCH_PEERS-supervisord concurrently pm2}
lineBytes=80
# CPU pinning of the generator and of the reader (see bench_marginal); empty:
# wherever the scheduler puts them.
genPin=()
readerPin=()

gen=$bin/wl_bench_loggen
tree=$bin/wl_bench_tree
waitfile=$bin/wl_bench_waitfile
cputime=$bin/wl_bench_cputime
driver=$bin/bench_supervision
daemon=$bin/wardlampd
for tool in "$gen" "$tree" "$waitfile" "$cputime"; do
    [ -x "$tool" ] || { echo "run.sh: $tool is not built" >&2; exit 1; }
done

# A private HOME and XDG tree: no rc file of the user's slows the login shell,
# no setting of the user's is read or written, pm2 keeps its daemon in here.
scratch=$(mktemp -d /tmp/wardlamp-bench.XXXXXX)
mkdir -p "$scratch/home/.config" "$scratch/home/.local/share" "$scratch/home/.cache" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share \
    XDG_CACHE_HOME=$scratch/home/.cache XDG_RUNTIME_DIR=$scratch/runtime PM2_HOME=$scratch/pm2 \
    SHELL=/bin/bash QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS WL_SEED_SERVERS WL_REMOTE_ENABLED

# Processes this script started, ended by their own ids on the way out.
started=()
pm2bin=""
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    if [ -n "$pm2bin" ]; then
        "$pm2bin" kill >/dev/null 2>&1 || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

has() { case " $1 " in *" $2 "*) return 0 ;; esac; return 1; }
now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }

# median of the numbers on stdin (one per line); "-" when there are none
median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
ms() { awk -v us="$1" 'BEGIN { if (us == "-") print "-"; else printf "%.0f ms", us / 1000 }'; }
secs() { awk -v us="$1" 'BEGIN { if (us == "-") print "-"; else printf "%.2f s", us / 1000000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2fx", a / b }'; }
human() { if [ "$1" = - ]; then echo -; elif [ "$1" -ge 500000 ]; then secs "$1"; else ms "$1"; fi; }

section() { printf '\n== %s ==\n' "$1"; }

# ---------------------------------------------------------------------------
# Peers
# ---------------------------------------------------------------------------
npmPrefix=""
setup_npm() {
    if ! has "$peers" pm2 && ! has "$peers" concurrently; then
        return
    fi
    if [ -n "${WL_BENCH_NPM_PREFIX:-}" ]; then
        npmPrefix=$WL_BENCH_NPM_PREFIX
    elif command -v npm >/dev/null; then
        npmPrefix=$(mktemp -d "$scratch/npm.XXXXXX")
        echo "installing pm2 and concurrently into $npmPrefix ..." >&2
        if ! npm install --prefix "$npmPrefix" --no-audit --no-fund --loglevel=error pm2 concurrently >/dev/null 2>&1; then
            echo "run.sh: npm install failed; pm2 and concurrently are skipped" >&2
            npmPrefix=""
        fi
    fi
    if [ -n "$npmPrefix" ] && [ -x "$npmPrefix/node_modules/.bin/pm2" ]; then
        pm2bin=$npmPrefix/node_modules/.bin/pm2
        "$pm2bin" ping >/dev/null 2>&1 || pm2bin=""
    fi
}

supervisord_conf() { # dir, then "name|command|stdout log|stderr log" per program
    local dir=$1
    shift
    cat <<EOF
[supervisord]
nodaemon=true
user=root
logfile=$dir/supervisord.log
pidfile=$dir/supervisord.pid
childlogdir=$dir
loglevel=warn
EOF
    local spec name command out err
    for spec in "$@"; do
        IFS='|' read -r name command out err <<<"$spec"
        cat <<EOF

[program:$name]
command=$command
autostart=true
autorestart=false
startsecs=0
stopasgroup=true
killasgroup=true
stdout_logfile=$out
stdout_logfile_maxbytes=0
stderr_logfile=$err
stderr_logfile_maxbytes=0
EOF
    done
}

# ---------------------------------------------------------------------------
# 1. Log ingestion
# ---------------------------------------------------------------------------
# Each runner prints "MICROS COUNT" (COUNT: lines the tool handled) and may add
# "signals=N" (ServerManager only). MICROS is "-" when the run failed.

run_raw() { # mode stream dir
    local mode=$1 stream=$2 d=$3 end
    if [ "$stream" = stdout ]; then
        "${genPin[@]}" "$gen" --lines "$lines" --mode "$mode" --stream stdout --t0-file "$d/t0" |
            "${readerPin[@]}" "$cputime" "$d/cpu" cat >/dev/null
    else
        "${genPin[@]}" "$gen" --lines "$lines" --mode "$mode" --stream stderr --t0-file "$d/t0" 2>&1 >/dev/null |
            "${readerPin[@]}" "$cputime" "$d/cpu" cat >/dev/null
    fi
    end=$(now_us)
    echo "$((end - $(cat "$d/t0"))) $lines $(cat "$d/cpu")"
}

run_wardlamp() { # mode stream dir
    local mode=$1 stream=$2 d=$3 out
    if ! out=$("${readerPin[@]}" "$driver" ingest --lines "$lines" --command \
        "${genPin[*]} $gen --lines $lines --mode $mode --stream $stream --t0-file $d/t0" --t0-file "$d/t0" 2>"$d/driver.err"); then
        echo "run.sh: bench_supervision ingest failed: $(tail -3 "$d/driver.err")" >&2
    fi
    # "from_t0_us=.. from_start_us=.. lines=.. signals=.. ... ok=0|1"
    local fromT0 count signals fromStart ok cpu
    fromT0=$(sed -n 's/.*from_t0_us=\([0-9]*\).*/\1/p' <<<"$out")
    cpu=$(sed -n 's/.*cpu_us=\([0-9]*\).*/\1/p' <<<"$out")
    fromStart=$(sed -n 's/.*from_start_us=\([0-9]*\).*/\1/p' <<<"$out")
    count=$(sed -n 's/.* lines=\([0-9]*\).*/\1/p' <<<"$out")
    signals=$(sed -n 's/.* signals=\([0-9]*\).*/\1/p' <<<"$out")
    sed -n 's/.*thread_cpu_ms=\([^ ]*\).*/\1/p' <<<"$out" >>"$scratch/threads"
    ok=$(sed -n 's/.* ok=\([0-9]*\).*/\1/p' <<<"$out")
    if [ "${ok:-0}" != 1 ]; then
        # Every line counted but the kept log is wrong (order, last line): a fault all the same.
        echo "run.sh: ServerManager run failed its checks: $out" >&2
        [ "${count:-0}" -ge "$lines" ] && count=$((lines - 1))
    fi
    echo "${fromT0:--} ${count:-0} ${cpu:--} signals=${signals:-0} start=${fromStart:--}"
}

# The same generator as the one server of a real wardlampd, from its start to
# its exit (--until-stopped --quiet): the program a user runs, beside the
# in-process ServerManager row. Its CPU figure is the daemon's with what it
# reaped (the generator and the login shell among them); "own=" is that minus
# the generator process's own CPU (the login shell execs into it, so the
# shell's start-up is taken out with it).
run_wardlampd() { # mode stream dir
    local mode=$1 stream=$2 d=$3 end
    mkdir -p "$d/config"
    printf '[{"id":"00000000-0000-4000-8000-000000000001","name":"gen","command":"%s","autostart":true,"errorAlertEnabled":false}]\n' \
        "${genPin[*]} $gen --lines $lines --mode $mode --stream $stream --t0-file $d/t0 --cpu-file $d/gencpu" >"$d/servers.json"
    XDG_CONFIG_HOME=$d/config "${readerPin[@]}" "$cputime" "$d/cpu" "$daemon" --servers "$d/servers.json" --until-stopped --quiet \
        >/dev/null 2>"$d/daemon.err" || true
    end=$(now_us)
    [ -f "$d/t0" ] || { echo "run.sh: wardlampd run failed: $(tail -3 "$d/daemon.err")" >&2; echo "- 0 -"; return; }
    local own=-
    [ -f "$d/gencpu" ] && own=$(($(cat "$d/cpu") - $(cat "$d/gencpu")))
    # wardlampd --quiet prints no lines: the count is the generator's own.
    echo "$((end - $(cat "$d/t0"))) $lines $(cat "$d/cpu") own=$own"
}

run_supervisord() { # mode stream dir
    local mode=$1 stream=$2 d=$3 pid res
    supervisord_conf "$d" "gen|$gen --lines $lines --mode $mode --stream $stream --t0-file $d/t0 --done-file $d/done|$d/out.log|$d/err.log" >"$d/sv.conf"
    supervisord -c "$d/sv.conf" >/dev/null 2>&1 &
    pid=$!
    started+=("$pid")
    res=$("$waitfile" "$d/$([ "$stream" = stdout ] && echo out || echo err).log" --bytes $((lines * lineBytes)) \
        --done-file "$d/done" --cpu-pid "$pid" --start-file "$d/t0") || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -f "$d/t0" ] || { echo "- 0 -"; return; }
    local end count cpu
    read -r end count _ cpu <<<"$res"
    echo "$((end - $(cat "$d/t0"))) $((count / lineBytes)) $cpu"
}

run_concurrently() { # mode stream dir
    local mode=$1 stream=$2 d=$3 end count
    "$cputime" "$d/cpu" "$npmPrefix/node_modules/.bin/concurrently" \
        "$gen --lines $lines --mode $mode --stream $stream --t0-file $d/t0" >"$d/out.log" 2>&1 || true
    end=$(now_us)
    count=$(grep -c '^\[0\] seq ' "$d/out.log" || true)
    echo "$((end - $(cat "$d/t0"))) $count $(cat "$d/cpu")"
}

run_pm2() { # mode stream dir
    local mode=$1 stream=$2 d=$3 name res count
    name=gen-$RANDOM$RANDOM
    "$pm2bin" start "$gen" --name "$name" --no-autorestart --interpreter none -o "$d/out.log" -e "$d/err.log" -- \
        --lines "$lines" --mode "$mode" --stream "$stream" --t0-file "$d/t0" --done-file "$d/done" >/dev/null 2>&1
    res=$("$waitfile" "$d/$([ "$stream" = stdout ] && echo out || echo err).log" --bytes $((lines * lineBytes)) \
        --done-file "$d/done" --cpu-pid "$(cat "$PM2_HOME/pm2.pid" 2>/dev/null || echo 0)" --start-file "$d/t0") || true
    "$pm2bin" delete "$name" >/dev/null 2>&1 || true
    [ -f "$d/t0" ] || { echo "- 0 -"; return; }
    local end cpu
    read -r end count _ cpu <<<"$res"
    echo "$((end - $(cat "$d/t0"))) $((count / lineBytes)) $cpu"
}

bench_ingest() {
    section "1. Log ingestion: $lines lines of $lineBytes bytes (1% with \"error\"), median of $runs runs"
    local tools=(raw)
    [ -x "$driver" ] && tools+=(wardlamp) || echo "(bench_supervision is not built: no ServerManager row)"
    [ -x "$daemon" ] && tools+=(wardlampd)
    command -v supervisord >/dev/null && has "$peers" supervisord && tools+=(supervisord)
    [ -n "$npmPrefix" ] && has "$peers" concurrently && tools+=(concurrently)
    [ -n "$pm2bin" ] && has "$peers" pm2 && tools+=(pm2)

    # Runs go round the tools (raw, wardlamp, supervisord, ...; then again), so
    # that a burst of load from elsewhere on the machine does not land on one tool.
    local -A result lost signalsOf startOf losses worst threadsOf
    local -A cpuOf
    local mode stream tool run d out t count cpu extra
    for mode in large line; do
        for stream in stdout stderr; do
            for tool in "${tools[@]}"; do
                : >"$scratch/times.$tool"
                : >"$scratch/cpu.$tool"
                losses[$tool]=0
                worst[$tool]=$lines
            done
            : >"$scratch/signals"
            : >"$scratch/starts"
            : >"$scratch/threads"
            for ((run = 1; run <= runs; run++)); do
                for tool in "${tools[@]}"; do
                    d=$(mktemp -d "$scratch/run.XXXXXX")
                    out=$("run_$tool" "$mode" "$stream" "$d")
                    read -r t count cpu extra <<<"$out"
                    if [ "$t" != "-" ]; then echo "$t" >>"$scratch/times.$tool"; fi
                    case "$cpu" in '' | - | -1) ;; *) echo "$cpu" >>"$scratch/cpu.$tool" ;; esac
                    if [ "${count:-0}" -lt "$lines" ]; then
                        losses[$tool]=$((losses[$tool] + 1))
                        [ "${count:-0}" -lt "${worst[$tool]}" ] && worst[$tool]=${count:-0}
                    fi
                    case "$out" in *signals=*)
                        sed -n 's/.*signals=\([0-9]*\).*/\1/p' <<<"$out" >>"$scratch/signals"
                        sed -n 's/.*start=\([0-9]*\).*/\1/p' <<<"$out" >>"$scratch/starts" ;;
                    esac
                    rm -rf "$d"
                done
            done
            for tool in "${tools[@]}"; do
                result[$mode.$stream.$tool]=$(median <"$scratch/times.$tool")
                cpuOf[$mode.$stream.$tool]=$(median <"$scratch/cpu.$tool")
                if [ "${losses[$tool]}" -gt 0 ]; then
                    lost[$mode.$stream.$tool]="lost lines in ${losses[$tool]}/$runs runs (worst: $((lines - worst[$tool])) missing)"
                fi
            done
            signalsOf[$mode.$stream]=$(median <"$scratch/signals")
            # CPU per thread, median per thread name, e.g. "main 15.2 ms, io 48.7 ms"
            threadsOf[$mode.$stream]=$(tr ',' '\n' <"$scratch/threads" | awk -F: 'NF == 2' | sort -t: -k1,1 -k2,2n |
                awk -F: '{ n[$1]++; v[$1, n[$1]] = $2 }
                    END { for (k in n) { c = n[k]; m = c % 2 ? v[k, (c + 1) / 2] : (v[k, c / 2] + v[k, c / 2 + 1]) / 2
                          printf "%s%s %.1f ms", sep, k, m; sep = ", " } }')
            startOf[$mode.$stream]=$(median <"$scratch/starts")
        done
    done

    printf '%-28s' "writes, stream"
    local -A title=([raw]="raw pipe" [wardlamp]="ServerManager" [wardlampd]="wardlampd" [supervisord]="supervisord" [concurrently]="concurrently" [pm2]="pm2")
    for tool in "${tools[@]}"; do printf '%-22s' "${title[$tool]}"; done
    printf '\n'
    for mode in large line; do
        for stream in stdout stderr; do
            local label="1 MiB writes"
            [ "$mode" = line ] && label="one line per write"
            printf '%-28s' "$label, $stream"
            local raw=${result[$mode.$stream.raw]}
            for tool in "${tools[@]}"; do
                local v=${result[$mode.$stream.$tool]}
                if [ "$tool" = raw ]; then
                    printf '%-22s' "$(human "$v")"
                else
                    printf '%-22s' "$(human "$v") ($(ratio "$v" "$raw"))"
                fi
            done
            printf '\n'
        done
    done
    printf '\nCPU time of the reader/supervisor process alone (user+system; not moved by load elsewhere):\n'
    printf '%-28s' "writes, stream"
    for tool in "${tools[@]}"; do printf '%-22s' "${title[$tool]}"; done
    printf '\n'
    for mode in large line; do
        for stream in stdout stderr; do
            local label="1 MiB writes"
            [ "$mode" = line ] && label="one line per write"
            printf '%-28s' "$label, $stream"
            for tool in "${tools[@]}"; do
                printf '%-22s' "$(human "${cpuOf[$mode.$stream.$tool]}")"
            done
            printf '\n'
        done
    done
    printf '(raw pipe: cat; ServerManager: the whole bench process from start(); wardlampd: the daemon with\n'
    printf ' the children it reaped, generator included; supervisord: its python\n'
    printf ' process from the generator start, 10 ms ticks; pm2: its God daemon, likewise; concurrently:\n'
    printf ' the whole node process, start-up included)\n'

    printf '\nTargets for ServerManager: 1 MiB writes at most 1.50x the raw pipe, one line per write at most 1.20x.\n'
    if has "${tools[*]}" wardlamp; then
        for mode in large line; do
            for stream in stdout stderr; do
                printf 'ServerManager %-6s %-6s: %s linesAppended emissions for %s lines; %s from start() (login shell included); CPU by thread: %s\n' \
                    "$mode" "$stream" "${signalsOf[$mode.$stream]}" "$lines" "$(human "${startOf[$mode.$stream]}")" "${threadsOf[$mode.$stream]}"
            done
        done
    fi
    local any=0 key
    for key in "${!lost[@]}"; do
        printf 'LOSS %-30s %s\n' "$key" "${lost[$key]}"
        any=1
    done
    [ "$any" = 1 ] || echo "Every tool delivered every line in every run."
}

# ---------------------------------------------------------------------------
# 2 and 3. Memory and idle wake-ups of the daemon beside supervisord
# ---------------------------------------------------------------------------
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
# "RSS PSS USS" in KiB from smaps_rollup: USS is what the process holds alone
# (private clean + dirty), PSS adds its share of pages it shares with others.
mem_kib() {
    awk '/^Rss:/ { r = $2 } /^Pss:/ { p = $2 } /^Private_(Clean|Dirty):/ { u += $2 }
        END { printf "%d %d %d\n", r, p, u }' "/proc/$1/smaps_rollup" 2>/dev/null || echo "0 0 0"
}
# "anon A KiB, file F KiB": private heap/stack versus mapped files (libraries, mostly shared).
rss_split() { awk '/^RssAnon:/ { a = $2 } /^RssFile:/ { f = $2 } END { printf "anon %d KiB, file-backed %d KiB", a, f }' "/proc/$1/status" 2>/dev/null; }

# Voluntary + involuntary context switches of every thread of a process.
ctx_switches() {
    local pid=$1 total=0 f v n
    for f in /proc/"$pid"/task/*/status; do
        v=$(awk '/^voluntary_ctxt_switches:/ { a = $2 } /^nonvoluntary_ctxt_switches:/ { b = $2 } END { print a + b }' "$f" 2>/dev/null || echo 0)
        total=$((total + v))
    done
    echo "$total"
}
thread_count() { ls "/proc/$1/task" | wc -l; }

# Waits until the RSS of a process has not changed for a second (after its
# servers have written everything), at most 30 s.
settle_rss() {
    local pid=$1 last=-1 same=0 now
    for _ in $(seq 300); do
        now=$(rss_kib "$pid")
        if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
        [ "$same" -ge 10 ] && break
        last=$now
        sleep 0.1
    done
    echo "$last"
}

wait_files() { # count files...
    local want=$1 n
    shift
    for _ in $(seq 600); do
        n=0
        for f in "$@"; do [ -f "$f" ] && n=$((n + 1)); done
        [ "$n" -ge "$want" ] && return 0
        sleep 0.05
    done
    return 1
}

bench_memory_idle() {
    local want_memory=$1 want_idle=$2
    local d=$scratch/daemon
    mkdir -p "$d"
    local servers="" svspecs=() i cmd id
    local doneFiles=() svDone=()
    for i in $(seq 10); do
        id=$(printf '00000000-0000-4000-8000-%012d' "$i")
        cmd="$gen --lines 2000 --mode line --done-file $d/wl-done.$i --then-sleep"
        servers+=$(printf '%s{"id":"%s","name":"bench %d","command":"%s","autostart":true,"errorAlertEnabled":false}' \
            "$([ "$i" -gt 1 ] && echo ,)" "$id" "$i" "$cmd")
        doneFiles+=("$d/wl-done.$i")
        svspecs+=("s$i|$gen --lines 2000 --mode line --done-file $d/sv-done.$i --then-sleep|$d/sv-out.$i.log|$d/sv-err.$i.log")
        svDone+=("$d/sv-done.$i")
    done
    echo "[$servers]" >"$d/servers.json"
    # The same ten servers writing nothing: what the daemon costs before any line.
    sed 's/--lines 2000/--lines 0/g; s/wl-done/wl-empty-done/g' "$d/servers.json" >"$d/empty.json"

    # Both supervisors run side by side, with the same ten children each.
    local wpid="" svpid="" epid=""
    if [ -x "$daemon" ]; then
        "$daemon" --servers "$d/servers.json" --quiet >"$d/daemon.out" 2>"$d/daemon.err" &
        wpid=$!
        started+=("$wpid")
    fi
    if command -v supervisord >/dev/null && has "$peers" supervisord; then
        supervisord_conf "$d" "${svspecs[@]}" >"$d/sv.conf"
        supervisord -c "$d/sv.conf" >/dev/null 2>&1 &
        svpid=$!
        started+=("$svpid")
    fi
    if [ -n "$wpid" ]; then
        wait_files 10 "${doneFiles[@]}" || echo "(not every wardlampd server wrote its lines: $(tail -2 "$d/daemon.err"))"
    fi
    if [ -n "$svpid" ]; then
        wait_files 10 "${svDone[@]}" || echo "(not every supervisord program ran)"
    fi
    [ -n "$wpid" ] && settle_rss "$wpid" >/dev/null
    [ -n "$svpid" ] && settle_rss "$svpid" >/dev/null

    if [ "$want_memory" = 1 ]; then
        local wmem=(- - -) emem=(- - -) svmem=(- - -) wsplit="" esplit="" svsplit=""
        [ -n "$wpid" ] && read -r -a wmem <<<"$(mem_kib "$wpid")" && wsplit=$(rss_split "$wpid")
        [ -n "$svpid" ] && read -r -a svmem <<<"$(mem_kib "$svpid")" && svsplit=$(rss_split "$svpid")
        # The silent daemon runs after the others were measured, so that no
        # second wardlampd shares (and halves) the libraries' PSS.
        if [ -x "$daemon" ]; then
            # A configuration of its own: one supervisor per configuration
            # holds the lock, and the first daemon still runs.
            mkdir -p "$d/empty-config"
            XDG_CONFIG_HOME=$d/empty-config "$daemon" --servers "$d/empty.json" --quiet >/dev/null 2>"$d/empty.err" &
            epid=$!
            started+=("$epid")
            local emptyDone=()
            for i in $(seq 10); do emptyDone+=("$d/wl-empty-done.$i"); done
            wait_files 10 "${emptyDone[@]}" || echo "(not every silent server started: $(tail -2 "$d/empty.err"))"
            settle_rss "$epid" >/dev/null
            read -r -a emem <<<"$(mem_kib "$epid")"
            esplit=$(rss_split "$epid")
            kill "$epid" 2>/dev/null || true
            wait "$epid" 2>/dev/null || true
            epid=""
        fi
        section "2. Memory: 10 servers that wrote 2000 lines each (the supervisor process itself, KiB)"
        printf '%-30s %10s %10s %10s\n' "" RSS PSS "USS (private)"
        if [ -n "$wpid" ]; then
            printf '%-30s %10s %10s %10s   (%s)\n' wardlampd "${wmem[@]}" "$wsplit"
            [ -n "$esplit" ] && printf '%-30s %10s %10s %10s   (%s)\n' "wardlampd, servers silent" "${emem[@]}" "$esplit"
        else
            echo "wardlampd      (not built)"
        fi
        [ -n "$svpid" ] && printf '%-30s %10s %10s %10s   (%s; the python process)\n' supervisord "${svmem[@]}" "$svsplit"
        if [ -n "$wpid" ] && [ -n "$svpid" ]; then
            printf '%-30s %10s %10s %10s   (target: RSS at most 0.33x)\n' "wardlampd / supervisord" \
                "$(ratio "${wmem[0]}" "${svmem[0]}")" "$(ratio "${wmem[1]}" "${svmem[1]}")" "$(ratio "${wmem[2]}" "${svmem[2]}")"
        fi
        if [ -n "$wpid" ] && [ -n "$esplit" ]; then
            printf 'wardlampd per kept line (20000 lines, RSS above the silent daemon): %s bytes\n' \
                "$(( (wmem[0] - emem[0]) * 1024 / 20000 ))"
        fi
    fi

    if [ "$want_idle" = 1 ]; then
        section "3. Idle: $idleSeconds s with those 10 servers quiet (context switches, all threads)"
        local w0=0 w1=0 s0=0 s1=0
        [ -n "$wpid" ] && w0=$(ctx_switches "$wpid")
        [ -n "$svpid" ] && s0=$(ctx_switches "$svpid")
        sleep "$idleSeconds"
        [ -n "$wpid" ] && w1=$(ctx_switches "$wpid")
        [ -n "$svpid" ] && s1=$(ctx_switches "$svpid")
        if [ -n "$wpid" ]; then
            printf '%-14s %6d in %d s over %d threads   (target: ~0)\n' wardlampd $((w1 - w0)) "$idleSeconds" "$(thread_count "$wpid")"
        else
            echo "wardlampd      (not built)"
        fi
        if [ -n "$svpid" ]; then
            printf '%-14s %6d in %d s over %d threads\n' supervisord $((s1 - s0)) "$idleSeconds" "$(thread_count "$svpid")"
        fi
    fi

    # End both supervisors and check that each took its children along.
    local pid
    for pid in $wpid $epid $svpid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $wpid $epid $svpid; do
        wait "$pid" 2>/dev/null || true
    done
    sleep 0.5
    local left
    left=$(pgrep -f -- "--done-file $d/wl-" || true)
    [ -n "$left" ] && echo "LEFT BEHIND by wardlampd after SIGTERM: $(echo $left)"
    left=$(pgrep -f -- "--done-file $d/sv-" || true)
    [ -n "$left" ] && echo "LEFT BEHIND by supervisord after SIGTERM: $(echo $left)"
    return 0
}

# ---------------------------------------------------------------------------
# 4. Stop of a process tree
# ---------------------------------------------------------------------------
bench_stop() {
    section "4. Stop: server with 5 descendants (one setsid'd), median of $runs runs"
    if [ ! -x "$driver" ]; then
        echo "(bench_supervision is not built: skipped)"
        return
    fi
    local variant args out
    printf '%-40s %-16s %-16s %s\n' case "last exit" "worst run" "left behind"
    for variant in honour ignore orphan; do
        case $variant in
        honour) args="" ;;
        ignore) args="--ignore-term" ;;
        orphan) args="--orphan" ;;
        esac
        : >"$scratch/stoptimes"
        local leftTotal=0 worst=- t left label
        for ((run = 1; run <= runs; run++)); do
            out=$("$driver" stop --tree "$tree" $args 2>"$scratch/stop.err") || true
            t=$(sed -n 's/.*last_gone_us=\([0-9-]*\).*/\1/p' <<<"$out")
            left=$(sed -n 's/.*left=\([0-9]*\).*/\1/p' <<<"$out")
            if [ -n "$t" ] && [ "$t" != "-" ]; then
                echo "$t" >>"$scratch/stoptimes"
                if [ "$worst" = - ] || [ "$t" -gt "$worst" ]; then worst=$t; fi
            fi
            leftTotal=$((leftTotal + ${left:-0}))
            [ -z "$t" ] && echo "stop run failed: $(tail -3 "$scratch/stop.err")" >&2
        done
        case $variant in
        honour) label="all honour SIGTERM (target < 100 ms)" ;;
        ignore) label="setsid'd daemon ignores SIGTERM" ;;
        orphan) label="daemon double-forked (orphaned)" ;;
        esac
        printf '%-40s %-16s %-16s %s\n' "$label" "$(human "$(median <"$scratch/stoptimes")")" "$(human "$worst")" \
            "$leftTotal in $runs runs"
    done
}

# ---------------------------------------------------------------------------
# 5. Port recovery with real Node servers
# ---------------------------------------------------------------------------
bench_port() {
    section "5. Port recovery: EADDRINUSE line to the restarted Node server's first answer, median of $runs runs"
    if [ ! -x "$driver" ] || ! command -v node >/dev/null; then
        echo "(bench_supervision or node missing: skipped)"
        return
    fi
    local out t worst=-
    : >"$scratch/porttimes"
    for ((run = 1; run <= runs; run++)); do
        out=$("$driver" portrecovery --node "$(command -v node)" 2>"$scratch/port.err") || true
        t=$(sed -n 's/.*recovery_us=\([0-9]*\).*/\1/p' <<<"$out")
        if [ -n "$t" ]; then
            echo "$t" >>"$scratch/porttimes"
            if [ "$worst" = - ] || [ "$t" -gt "$worst" ]; then worst=$t; fi
        else
            echo "port recovery run failed: $out $(tail -3 "$scratch/port.err")" >&2
        fi
    done
    printf '%-40s %-16s %s\n' case median "worst run"
    printf '%-40s %-16s %s\n' "held by a stray server (target <= 0.9 s)" "$(human "$(median <"$scratch/porttimes")")" \
        "$(human "$worst")"
}

# ---------------------------------------------------------------------------
# 6. Marginal cost per line in 64 KiB writes
# ---------------------------------------------------------------------------
# CPU of the reader alone at two line counts; the slope (CPU(hi) - CPU(lo)) /
# (hi - lo) is what one more line costs, with every fixed cost (process start,
# login shell, settings, exit) cancelled out. Readers: cat (the raw pipe), the
# bench process around ServerManager (its own CPU, not the generator's), and
# wardlampd (its CPU with reaped children, minus the generator's own).
# The generator and the reader run on two different CPUs. Left to the scheduler,
# cat's figure is bimodal: about 10 ns a line when it shares the generator's
# core, whose cache still holds the bytes, and about 25 ns when it does not,
# from one run of the script to the next; the ratios moved by 2.5x with it.
bench_marginal() {
    local lo hi
    read -r lo hi <<<"$marginalLines"
    # The first two CPUs this process may use ("0-3,8" → 0 and 1). Where
    # they are hyperthreads of one core they still share its cache: this
    # machine has none, a machine that numbers siblings side by side would.
    local cpus taskset pinned=unpinned
    cpus=$(sed -n 's/^Cpus_allowed_list:[[:space:]]*//p' /proc/self/status | tr ',' '\n' |
        awk -F- '{ for (c = $1; c <= ($2 == "" ? $1 : $2); c++) { print c; if (++n == 2) exit } }')
    # By its full path: the generator's pin runs through the login shell's PATH.
    taskset=$(command -v taskset || true)
    if [ "$(wc -l <<<"$cpus")" -eq 2 ] && [ -n "$taskset" ]; then
        genPin=("$taskset" -c "$(head -1 <<<"$cpus")")
        readerPin=("$taskset" -c "$(tail -1 <<<"$cpus")")
        pinned="generator on CPU ${genPin[2]}, reader on CPU ${readerPin[2]}"
    fi
    section "6. Marginal CPU per line, 64 KiB writes: slope between $lo and $hi lines, medians of $runs runs ($pinned)"
    local tools=(raw)
    [ -x "$driver" ] && tools+=(wardlamp)
    [ -x "$daemon" ] && tools+=(wardlampd)
    local -A cpuAt title=([raw]="raw pipe (cat)" [wardlamp]="ServerManager" [wardlampd]="wardlampd")
    local stream n tool run d out t count cpu extra savedLines=$lines
    for stream in stdout stderr; do
        for n in "$lo" "$hi"; do
            lines=$n
            for tool in "${tools[@]}"; do : >"$scratch/mcpu.$tool"; done
            for ((run = 1; run <= runs; run++)); do
                for tool in "${tools[@]}"; do
                    d=$(mktemp -d "$scratch/run.XXXXXX")
                    out=$("run_$tool" chunk "$stream" "$d")
                    read -r t count cpu extra <<<"$out"
                    [ "$tool" = wardlampd ] && cpu=$(sed -n 's/.*own=\([0-9-]*\).*/\1/p' <<<"$out")
                    if [ "${count:-0}" -lt "$n" ]; then
                        echo "LOSS: $tool, $stream, $n lines: only ${count:-0} handled" >&2
                    fi
                    case "$cpu" in '' | - | -1) ;; *) echo "$cpu" >>"$scratch/mcpu.$tool" ;; esac
                    rm -rf "$d"
                done
            done
            for tool in "${tools[@]}"; do cpuAt[$stream.$n.$tool]=$(median <"$scratch/mcpu.$tool"); done
        done
    done
    lines=$savedLines
    genPin=()
    readerPin=()
    printf '%-14s' stream
    for tool in "${tools[@]}"; do printf '%-42s' "${title[$tool]}"; done
    printf '\n'
    for stream in stdout stderr; do
        printf '%-14s' "$stream"
        local rawSlope=""
        for tool in "${tools[@]}"; do
            local a=${cpuAt[$stream.$lo.$tool]} b=${cpuAt[$stream.$hi.$tool]} cell
            cell=$(awk -v a="$a" -v b="$b" -v lo="$lo" -v hi="$hi" -v raw="$rawSlope" 'BEGIN {
                if (a == "-" || b == "-") { print "-"; exit }
                s = (b - a) * 1000 / (hi - lo)
                if (raw == "") printf "%.1f ns/line", s
                else if (raw <= 0) printf "%.1f ns/line", s
                else printf "%.1f ns/line (%.2fx)", s, s / raw }')
            if [ "$tool" = raw ]; then
                rawSlope=$(awk -v a="$a" -v b="$b" -v lo="$lo" -v hi="$hi" 'BEGIN { if (a == "-" || b == "-") print ""; else printf "%.4f", (b - a) * 1000 / (hi - lo) }')
            fi
            printf '%-42s' "$cell ($(ms "$a") / $(ms "$b"))"
        done
        printf '\n'
    done
    printf '(in brackets: median CPU at %s and %s lines. Target: wardlampd and ServerManager at most 1.50x the raw pipe.)\n' "$lo" "$hi"
}

# ---------------------------------------------------------------------------
echo "Wardlamp supervision benchmarks ($(nproc) cores, $(uname -r), $(date -u "+%Y-%m-%d %H:%M UTC"), load average $(cut -d" " -f1-3 /proc/loadavg))"
has "$only" ingest && setup_npm
has "$only" ingest && bench_ingest
if has "$only" memory || has "$only" idle; then
    bench_memory_idle "$(has "$only" memory && echo 1 || echo 0)" "$(has "$only" idle && echo 1 || echo 0)"
fi
has "$only" stop && bench_stop
has "$only" port && bench_port
has "$only" marginal && bench_marginal
exit 0
