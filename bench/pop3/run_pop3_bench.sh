#!/usr/bin/env bash
# POP3 benchmark against talvex-pop3d on the embedded database: log-in/STAT/QUIT sessions per
# second, then full-drop downloads (users x messages x 4 KiB) with 1, 8 and 32 clients.
# Run after `bash scripts/build`; TALVEX_BIN_DIR names another build's bin/.
#   bench/pop3/run_pop3_bench.sh [users] [messages-per-user] [log-in-seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
bin="${TALVEX_BIN_DIR:-build/bin}"
users="${1:-100}"
messages="${2:-100}"
seconds="${3:-5}"
port="${TALVEX_BENCH_PORT:-31110}"
data="$(mktemp -d)"
ulimit -n 8192
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$data"' EXIT

echo "== seeding $users users with $messages messages of 4 KiB each"
for u in $(seq "$users"); do
  "$bin/talvex-admin" --data-dir "$data" user add "user$u" --email "user$u@bench.example" \
    --password secret
done
# The items go in with one bulk transaction; the body is 4 KiB of CR LF-terminated text lines.
sqlite3 "$data/talvex.db" <<SQL
BEGIN;
CREATE TEMP TABLE Line AS
  SELECT substr('Talvex benchmark body line ' || replace(hex(zeroblob(32)), '0', '-'), 1, 62)
         || char(13, 10) AS text;
-- 64 lines of 64 octets: 4 096 octets.
CREATE TEMP TABLE Body AS SELECT replace(hex(zeroblob(64)), '00', text) AS text FROM Line;
WITH RECURSIVE
  u(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM u WHERE n < $users),
  m(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM m WHERE n < $messages)
INSERT INTO GatewayItems (DTReceived, Source, MessageID, Content, FromAddress, FromName,
                          ToAddress, Subject, BodyLength, Direction)
SELECT 'Sat, 5 Dec 2026 10:00:00 +0000', 'bench', '', 'text/plain; charset="Windows-1252"',
       'sender@bench.example', 'Bench Sender', 'user' || u.n || '@bench.example',
       'Message ' || m.n, (SELECT length(text) FROM Body), 'O'
  FROM u, m;
INSERT INTO GatewayBodies (GWQID, Body) SELECT GWQID, (SELECT text FROM Body) FROM GatewayItems;
COMMIT;
SQL
echo "items stored: $(sqlite3 "$data/talvex.db" 'SELECT count(*) || " items, " || sum(BodyLength) || " body octets" FROM GatewayItems')"

"$bin/talvex-pop3d" --port "$port" --max-connections 100 --logging-mode 0 --data-dir "$data" &
server=$!
for _ in $(seq 100); do "$bin/pop3-load" --port "$port" idle --sessions 1 --hold-seconds 0 >/dev/null 2>&1 && break; sleep 0.05; done

echo "== log-in, STAT, QUIT"
"$bin/pop3-load" --port "$port" login --users "$users" --clients 8 --seconds "$seconds"
for clients in 1 8 32; do
  echo "== full-drop downloads, $clients clients"
  "$bin/pop3-load" --port "$port" download --users "$users" --clients "$clients"
done
