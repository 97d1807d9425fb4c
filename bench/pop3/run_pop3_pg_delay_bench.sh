#!/usr/bin/env bash
# POP3 sessions against talvex-pop3d on PostgreSQL with every database round trip made longer
# by a fixed delay (default 20 ms, a proxy in front of the database): one session's full-drop
# download, then that of N sessions at once (default 32), while one more logged-in session
# sends NOOP every 10 ms. When the server awaits its database calls, N sessions take about as
# long as one once the pool has a connection per session (a call holds its connection for the
# round trip), and the idle session's NOOP stays fast. Runs with the default pool (32) and with
# a pool of 8, where 32 sessions wait their turn.
# Run after `scripts/build`; it makes its own throw-away cluster.
#   bench/pop3/run_pop3_pg_delay_bench.sh [sessions] [messages-per-user] [delay-ms]
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/pop3/postgresql-cluster.sh "$0" "$@"
bin="${TALVEX_BIN_DIR:-build/bin}"
sessions="${1:-32}"
messages="${2:-10}"
delay="${3:-20}"
port="${TALVEX_BENCH_PORT:-31111}"
proxy_port="${TALVEX_BENCH_PROXY_PORT:-31112}"
direct="$TALVEX_TEST_POSTGRESQL"
socket_dir="${direct##*host=}"
data="$(mktemp -d)"
ulimit -n 8192
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$data"' EXIT

echo "== seeding $sessions users with $messages messages of 4 KiB each, and the user 'probe'"
for u in $(seq "$sessions") probe; do
  name="user$u"; [ "$u" = probe ] && name=probe
  "$bin/talvex-admin" --data-dir "$data" --db "$direct" user add "$name" \
    --email "$name@bench.example" --password secret >/dev/null
done
psql="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/psql"
"$psql" -q -v ON_ERROR_STOP=1 "$direct" <<SQL
INSERT INTO GatewayItems (DTReceived, Source, MessageID, Content, FromAddress, FromName,
                          ToAddress, Subject, BodyLength, Direction)
SELECT 'Sat, 5 Dec 2026 10:00:00 +0000', 'bench', '', 'text/plain; charset="Windows-1252"',
       'sender@bench.example', 'Bench Sender', 'user' || u || '@bench.example',
       'Message ' || m, 4096, 'O'
  FROM generate_series(1, $sessions) AS u, generate_series(1, $messages) AS m;
INSERT INTO GatewayBodies (GWQID, Body)
SELECT GWQID, repeat(repeat('T', 62) || E'\r\n', 64) FROM GatewayItems;
SQL

# The database stands for one on another machine: it gets a CPU of its own, and the
# front-end, the proxy and the generator share the other, so that its 32 backends warming up
# at once do not take the front-end's CPU. TALVEX_BENCH_PIN=0 lets everything share both CPUs.
front=()
if [ "${TALVEX_BENCH_PIN:-1}" = 1 ] && [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
  postmaster="$(head -n 1 "$socket_dir/data/postmaster.pid")"
  for p in "$postmaster" $(pgrep -P "$postmaster"); do taskset -a -p -c 1 "$p" >/dev/null; done
  front=(taskset -c 0)
fi
"${front[@]}" "$bin/delay-proxy" "$proxy_port" "$socket_dir/.s.PGSQL.5432" "$delay" &
pids+=($!)
sleep 0.3
for pool in default 8; do
  pool_option=()
  [ "$pool" = default ] || pool_option=(--db-connections "$pool")
  "${front[@]}" "$bin/talvex-pop3d" --port "$port" --max-connections 200 --logging-mode 0 --data-dir "$data" \
    --db "postgresql://talvex@127.0.0.1:$proxy_port/postgres" "${pool_option[@]}" &
  server=$!
  pids+=("$server")
  for _ in $(seq 100); do
    "$bin/pop3-load" --port "$port" idle --sessions 1 --hold-seconds 0 >/dev/null 2>&1 && break
    sleep 0.05
  done
  echo "== $delay ms added to every database round trip, $pool pooled connections; one session"
  "${front[@]}" "$bin/pop3-load" --port "$port" download --users 1 --clients 1 --noop-probe probe
  for round in 1 2; do
    echo "== $sessions sessions at once, round $round"
    "${front[@]}" "$bin/pop3-load" --port "$port" download --users "$sessions" --clients "$sessions" \
      --noop-probe probe
  done
  kill "$server"
  wait "$server" 2>/dev/null || true
done
