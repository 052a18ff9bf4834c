#!/usr/bin/env bash
# The web controller's speed in headless Chromium against the real relay and
# wardlampd on loopback: first load, line latency, a 1,000 lines/s log.
# Usage: bench/web/run.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
"$root/scripts/install-web-modules"
export WL_TEST_BIN_DIR="$build/bin" WL_WEB_MODULES="$root/src/web/node_modules"
exec node "$here/bench.mjs"
