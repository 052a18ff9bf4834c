#!/usr/bin/env bash
# The end-to-end soak of remote access: a real wardlampd supervising 5 servers
# that print 2,000 lines/s in all (each line: server, pid, sequence number,
# time), remote access paired to a real wardlamp-relay on loopback, two
# controllers following the logs and sending restart/clearLogs commands, and
# the relay killed (SIGKILL) and started again on its port 20 times at random
# moments over 5 minutes. Prints, per recovery, when each controller was
# connected again and when live lines reached it again, and the lines lost,
# duplicated or out of order; exits non-zero when a target is missed.
#
#   bench/soak/run.sh BUILD_DIR
#
# Environment: WL_SOAK_SECONDS=300, WL_SOAK_KILLS=20 (a short run:
# WL_SOAK_SECONDS=40 WL_SOAK_KILLS=4), WL_SOAK_SERVERS=5,
# WL_SOAK_LINES_PER_SECOND=2000, WL_SOAK_COMMAND_EVERY_MS=3000, WL_SOAK_SEED,
# WL_SOAK_TRACE=N (print the first N lines shown out of order and gaps not excused, on stderr).
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
bin=$build/bin
for tool in wardlampd wardlamp-relay wl_bench_soak wl_soak_printer; do
    [ -x "$bin/$tool" ] || { echo "run.sh: $bin/$tool is not built" >&2; exit 1; }
done

# A private HOME and XDG tree: no setting or key of the user's is read or
# written, no session bus (the pairing secret comes from the environment).
scratch=$(mktemp -d /tmp/wardlamp-soak.XXXXXX)
mkdir -p "$scratch/home/.config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/runtime SHELL=/bin/bash
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS WL_SEED_SERVERS WL_REMOTE_ENABLED WL_REMOTE_SECRET \
    WL_REMOTE_PASSWORD WL_RELAY_URL QT_LOGGING_RULES
trap 'rm -rf "$scratch"' EXIT

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$bin/wl_bench_soak" "$bin" "$scratch" || status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
