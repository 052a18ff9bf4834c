#!/usr/bin/env bash
# Slow peers beside live rooms: does a crowd of peers that each hold an unfinished
# message (and send a byte of it now and then) cost wardlamp-relay memory or slow
# down the rooms that work?
# Usage: bench/relay/slow-peers.sh [BUILD_DIR] [TRICKLERS] [ROOMS]   (default: build 5000 500)
# Needs wardlamp-relay and wl_relay_loadgen built in BUILD_DIR/bin.
#
# The relay runs with its default limits (--message-timeout, --unfinished-message-bytes;
# WL_BENCH_RELAY_ARGS adds more). Each live room is one agent and one controller; the
# agents send ~1 KiB "msg" envelopes at WL_BENCH_RATE a second in all (default 5,000)
# for WL_BENCH_SECONDS (default 40, past the 30 s message timeout), the controllers
# send each straight back, and the agents time the round trip. Each trickler is a
# controller in a room of its own that announces a message of WL_BENCH_TRICKLE_ANNOUNCED
# bytes (default 65,536), sends WL_BENCH_TRICKLE_BYTES of it at once (default 8,192)
# and then one byte every WL_BENCH_TRICKLE_INTERVAL seconds (default 5); closed by the
# relay, it comes back a second later and starts over. The same live load runs once
# without tricklers and once with them, WL_BENCH_REPEAT times each (default 1), taking
# turns. Figures: the relay's peak RSS (VmHWM from /proc), the live rooms' round-trip
# p50/p99/max, and how the relay closed the tricklers.
set -euo pipefail
build="${1:-build}"
tricklers="${2:-5000}"
rooms="${3:-500}"
bin="$build/bin"
relay="$bin/wardlamp-relay"
loadgen="$bin/wl_relay_loadgen"
rate="${WL_BENCH_RATE:-5000}"
seconds="${WL_BENCH_SECONDS:-40}"
held="${WL_BENCH_TRICKLE_BYTES:-8192}"
announced="${WL_BENCH_TRICKLE_ANNOUNCED:-65536}"
interval="${WL_BENCH_TRICKLE_INTERVAL:-5}"
repeat="${WL_BENCH_REPEAT:-1}"
read -r -a relay_args <<<"${WL_BENCH_RELAY_ARGS:-}"
for tool in "$relay" "$loadgen"; do
    [[ -x "$tool" ]] || { echo "slow-peers.sh: $tool is not built" >&2; exit 1; }
done

# Descriptors: the relay and the generator each hold one per connection.
connections=$((rooms * 2 + tricklers))
need=$((connections + 1024))
if (( EUID == 0 )); then
    ulimit -Hn "$need" 2>/dev/null || true
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
hard="$(ulimit -Hn)"
if [[ "$hard" != unlimited ]] && (( hard < need )); then
    echo "slow-peers.sh: the descriptor limit $hard cannot hold $connections connections (run as root or raise it)" >&2
    exit 1
fi

work="$(mktemp -d)"
relay_pid=""
cleanup() {
    [[ -n "$relay_pid" ]] && kill "$relay_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_relay() { # -> sets relay_pid, relay_port
    local out="$work/relay.out"
    : >"$out"
    "$relay" --listen 127.0.0.1:0 --max-connections $((connections + 1000)) "${relay_args[@]}" >"$out" 2>"$work/relay.err" &
    relay_pid=$!
    for _ in $(seq 1 200); do
        grep -q '^listening on' "$out" && break
        sleep 0.05
    done
    relay_port="$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out" | head -1)"
    [[ -n "$relay_port" ]] || { echo "slow-peers.sh: the relay did not start" >&2; exit 1; }
}

echo "load before: $(uptime)"
results="$work/results.txt"
: >"$results"
for (( run = 1; run <= repeat; ++run )); do
    for count in 0 "$tricklers"; do
        start_relay
        sleep 0.3
        json="$("$loadgen" --connect "127.0.0.1:$relay_port" --rooms "$rooms" --rate "$rate" --round-trip 1 \
            --paced-seconds "$seconds" --saturation-seconds 0 --relay-pid "$relay_pid" \
            --tricklers "$count" --trickle-held-bytes "$held" --trickle-announced-bytes "$announced" \
            --trickle-interval "$interval" --trickle-reconnect 1 || echo '{}')"
        echo "$count $json" >>"$results"
        kill "$relay_pid" 2>/dev/null || true
        wait "$relay_pid" 2>/dev/null || true
        relay_pid=""
    done
done
echo "load after:  $(uptime)"

python3 - "$results" "$rooms" "$rate" "$seconds" "$held" "$announced" "$interval" <<'PY'
import json, sys
path, rooms, rate, seconds, held, announced, interval = sys.argv[1:]
print(f"Slow peers beside {rooms} live rooms on loopback: {rate} round trips/s of ~1 KiB msg envelopes "
      f"for {seconds} s; each trickler holds {held} of an announced {announced} bytes and sends a byte every {interval} s")
print(f"{'tricklers':>9}{'relay peak RSS':>16}{'RTT p50':>10}{'RTT p99':>10}{'RTT max':>10}{'round trips':>13}"
      f"{'closed 1008':>13}{'closed 1009':>13}{'other':>7}{'gen stall':>11}")
for line in open(path):
    count, text = line.split(' ', 1)
    try:
        r = json.loads(text)
        p = r['paced']
        t = r['tricklers']
    except (ValueError, KeyError):
        print(f"{count:>9}   (failed)")
        continue
    print(f"{count:>9}{r['rss_peak_kb'] / 1024:>12.1f} MiB{p['p50_us'] / 1000:>7.2f} ms{p['p99_us'] / 1000:>7.2f} ms"
          f"{p['max_us'] / 1000:>7.2f} ms{p['received']:>8}/{p['sent']:<6}{t['closed_1008']:>11}{t['closed_1009']:>13}"
          f"{t['closed_other']:>7}{p['loadgen_longest_turn_us'] / 1000:>8.1f} ms")
print("targets: relay peak RSS < 200 MB, round-trip p99 < 5 ms (gen stall: the generator's own longest pause)")
PY
