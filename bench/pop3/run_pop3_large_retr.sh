#!/usr/bin/env bash
# RETR of one large message (default 50 MiB): the server's memory with a client that never
# reads and with a slow reader, the latency of log-ins meanwhile, and the bytes the slow reader
# gets. Run after `bash scripts/build`; TALVEX_BIN_DIR names another build's bin/.
#   bench/pop3/run_pop3_large_retr.sh [MiB] [seconds] [reader MiB/s]
set -euo pipefail
cd "$(dirname "$0")/../.."
exec python3 bench/pop3/large_retr.py --bin "${TALVEX_BIN_DIR:-build/bin}" --mib "${1:-50}" \
  --seconds "${2:-8}" --rate-mib "${3:-10}" --port "${TALVEX_BENCH_PORT:-31150}"
