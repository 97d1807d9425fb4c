#!/usr/bin/env bash
# Host benchmark: connections accepted, greeted and closed per second, and resident memory of
# talvex-pop3d holding 1 000 idle sessions. Run after `bash scripts/build`.
#   bench/host/run_host_bench.sh [seconds] [clients]
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=build/bin
seconds="${1:-5}"
clients="${2:-8}"
port="${TALVEX_BENCH_PORT:-31100}"
data="$(mktemp -d)"
ulimit -n 8192
trap 'kill "$server" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$data"' EXIT

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

"$bin/talvex-pop3d" --port "$port" --max-connections 1000 --logging-mode 0 --data-dir "$data" &
server=$!
for _ in $(seq 100); do "$bin/pop3-load" --port "$port" idle --sessions 1 --hold-seconds 0 >/dev/null 2>&1 && break; sleep 0.05; done

echo "== connect, greeting, close: $clients concurrent clients for $seconds s"
"$bin/pop3-load" --port "$port" connect --clients "$clients" --seconds "$seconds"

echo "== 1000 idle sessions"
before=$(rss_kib "$server")
"$bin/pop3-load" --port "$port" idle --sessions 1000 --hold-seconds 3 &
load=$!
sleep 2
during=$(rss_kib "$server")
wait "$load"
echo "server resident memory: ${before} KiB before, ${during} KiB with 1000 idle sessions" \
     "($(( (during - before) / 1000 )) KiB per session)"
