#!/usr/bin/env bash
# Side-by-side benchmark of wardlamp-relay and a minimal relay on Node's `ws`.
# Usage: bench/relay/run.sh [BUILD_DIR] [ROOMS ...]     (default: build, 500 5000)
# Needs wardlamp-relay and wl_relay_loadgen built in BUILD_DIR/bin, node and npm.
# Each room is one agent and one controller (2 connections); the agents send ~1 KiB
# "msg" envelopes. Figures: forwarded messages per second at saturation, p50/p99
# latency at a paced 20,000 msg/s, and relay RSS per connection
# ((RSS with all connections after the paced phase - RSS before any) / connections).
# The machine is shared, so every size runs WL_BENCH_REPEAT times (default 3), the two
# relays taking turns, and each figure is the median of its runs; messages per relay
# CPU second is the figure other load on the machine moves least.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build}"
shift || true
rooms_list=("$@")
# 1,000 and 10,000 connections
[[ $# -eq 0 ]] && rooms_list=(500 5000)
bin="$build/bin"
relay="$bin/wardlamp-relay"
loadgen="$bin/wl_relay_loadgen"
rate="${WL_BENCH_RATE:-20000}"
paced="${WL_BENCH_PACED_SECONDS:-5}"
saturation="${WL_BENCH_SATURATION_SECONDS:-5}"
repeat="${WL_BENCH_REPEAT:-3}"
# Messages each room keeps in flight at saturation: with 2, a relay that is quicker than
# its generator idles between turns and other load on the machine decides the figure.
window="${WL_BENCH_WINDOW:-4}"
for tool in "$relay" "$loadgen"; do
    [[ -x "$tool" ]] || { echo "run.sh: $tool is not built" >&2; exit 1; }
done
command -v node >/dev/null && command -v npm >/dev/null || { echo "run.sh: node and npm are needed" >&2; exit 1; }

# On two or more cores the load generator puts the relay under test and itself on a
# core each for the saturation phase (WL_BENCH_PIN=0 leaves placement to the scheduler,
# which tends to put a socket's writer and reader on one core).
pin=0
if [[ "${WL_BENCH_PIN:-1}" != 0 ]] && (( $(nproc) >= 2 )); then
    pin=1
fi

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
npm install --silent --no-audit --no-fund --prefix "$work/npm" ws >/dev/null 2>&1 \
    || { echo "run.sh: npm install ws failed" >&2; exit 1; }
ws_version="$(node -e "console.log(require('$work/npm/node_modules/ws/package.json').version)")"

# Descriptors: each relay holds 2 per room, and so does the load generator. Root may
# lift the hard limit (the relays inherit it); otherwise the soft one goes up to it.
max_rooms=0
for rooms in "${rooms_list[@]}"; do (( rooms > max_rooms )) && max_rooms=$rooms; done
if (( EUID == 0 )); then
    ulimit -Hn $((max_rooms * 2 + 4096)) 2>/dev/null || true
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
hard="$(ulimit -Hn)"

start_relay() { # name rooms -> sets relay_pid, relay_port
    local name="$1" rooms="$2" out="$work/$1.out"
    : >"$out"
    if [[ "$name" == wardlamp-relay ]]; then
        "$relay" --listen 127.0.0.1:0 --max-connections $((rooms * 2 + 100)) --idle-timeout 600 \
            >"$out" 2>/dev/null &
    else
        NODE_PATH="$work/npm/node_modules" node "$here/node-relay.js" 127.0.0.1:0 >"$out" 2>/dev/null &
    fi
    relay_pid=$!
    pids+=("$relay_pid")
    for _ in $(seq 1 200); do
        grep -q '^listening on' "$out" && break
        sleep 0.05
    done
    relay_port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out" | head -1)"
    [[ -n "$relay_port" ]] || { echo "run.sh: $name did not start" >&2; exit 1; }
}

results="$work/results.txt"
: >"$results"
for (( run = 1; run <= repeat; ++run )); do
    for rooms in "${rooms_list[@]}"; do
        need=$((rooms * 2 + 100))
        if [[ "$hard" != unlimited ]] && (( need > hard )); then
            fitting=$(((hard - 100) / 2))
            (( run == 1 )) && echo "run.sh: the descriptor hard limit $hard cannot hold $((rooms * 2)) connections per process; running $fitting rooms instead" >&2
            rooms=$fitting
        fi
        for name in wardlamp-relay node-ws; do
            start_relay "$name" "$rooms"
            sleep 0.3
            json="$("$loadgen" --connect "127.0.0.1:$relay_port" --rooms "$rooms" --rate "$rate" \
                --paced-seconds "$paced" --saturation-seconds "$saturation" --relay-pid "$relay_pid" --window "$window" --pin-saturation "$pin" || echo '{}')"
            echo "$name $rooms $json" >>"$results"
            kill "$relay_pid" 2>/dev/null || true
            wait "$relay_pid" 2>/dev/null || true
        done
    done
done

python3 - "$results" "$ws_version" "$rate" "$repeat" <<'PY'
import json, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, rooms, text = line.split(' ', 2)
    try:
        runs.setdefault((name, int(rooms)), []).append(json.loads(text))
    except ValueError:
        runs.setdefault((name, int(rooms)), [])

def median(rs, *path):
    values = []
    for r in rs:
        for key in path:
            r = r[key]
        values.append(r)
    return statistics.median(values)

rows = {}
for key, rs in runs.items():
    rs = [r for r in rs if r]
    if not rs:
        continue
    rows[key] = {
        'connections': rs[0]['connections'],
        'msgs': median(rs, 'saturation', 'msgs_per_s'),
        'all_msgs': [r['saturation']['msgs_per_s'] for r in rs],
        'relay_cpu': median(rs, 'saturation', 'relay_cpu_share'),
        'gen_cpu': median(rs, 'saturation', 'loadgen_cpu_share'),
        'per_cpu': median(rs, 'saturation', 'msgs_per_relay_cpu_s'),
        'p50': median(rs, 'paced', 'p50_us'),
        'p99': median(rs, 'paced', 'p99_us'),
        'achieved': statistics.median(r['paced']['received'] / max(1, r['paced']['sent']) * r['paced']['rate'] for r in rs),
        'rss_conn': median(rs, 'rss_per_connection_bytes'),
        'rss_mib': median(rs, 'rss_loaded_kb') / 1024,
    }
print(f"Relay benchmark: rooms of 1 agent + 1 controller, ~1 KiB msg envelopes, loopback; node ws {sys.argv[2]}; "
      f"median of {sys.argv[4]} runs")
print(f"{'relay':<16}{'conns':>7}{'msgs/s (sat.)':>15}{'relay CPU':>10}{'gen CPU':>8}{'msgs/CPU-s':>12}{'p50 us':>9}{'p99 us':>9}{'@ msg/s':>9}{'RSS/conn B':>12}{'RSS MiB':>9}  runs msgs/s")
for rooms in sorted({r for _, r in runs}):
    for name in ('wardlamp-relay', 'node-ws'):
        r = rows.get((name, rooms))
        if not r:
            print(f"{name:<16}{rooms*2:>7}   (failed)")
            continue
        print(f"{name:<16}{r['connections']:>7}{r['msgs']:>15.0f}{r['relay_cpu']*100:>9.0f}%{r['gen_cpu']*100:>7.0f}%{r['per_cpu']:>12.0f}{r['p50']:>9.0f}{r['p99']:>9.0f}"
              f"{r['achieved']:>9.0f}{r['rss_conn']:>12.0f}{r['rss_mib']:>9.1f}  " + " ".join(f"{m:.0f}" for m in r['all_msgs']))
    a, b = rows.get(('wardlamp-relay', rooms)), rows.get(('node-ws', rooms))
    if a and b:
        print(f"  ratio at {rooms*2} connections: throughput x{a['msgs']/max(1,b['msgs']):.2f}, "
              f"per relay CPU second x{a['per_cpu']/max(1,b['per_cpu']):.2f}, "
              f"memory per connection x{a['rss_conn']/max(1,b['rss_conn']):.2f} of node")
PY
