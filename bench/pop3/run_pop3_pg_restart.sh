#!/usr/bin/env bash
# A PostgreSQL restart in the middle of a POP3 log-in load: N users with M items each, a load of
# log-in sessions (USER, PASS, STAT, QUIT) for a few seconds, and a fast restart of the database
# after two of them. Prints the sessions that failed (those in flight or started during the
# outage), the server's lines about the database, and whether every item is still stored (it
# fails when one is lost: log-in sessions delete nothing). Items that a dying session had
# claimed are held by its lock until the lock goes stale.
# Run after `scripts/build`; it makes its own throw-away cluster.
#   bench/pop3/run_pop3_pg_restart.sh [users] [items-per-user] [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/pop3/postgresql-cluster.sh "$0" "$@"
bin="${TALVEX_BIN_DIR:-build/bin}"
users="${1:-32}"
items="${2:-10}"
seconds="${3:-6}"
port="${TALVEX_BENCH_PORT:-31130}"
direct="$TALVEX_TEST_POSTGRESQL"
cluster="${direct##*host=}"
pgbin="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)"
as_owner=()
[ "$(id -u)" -eq 0 ] && as_owner=(runuser -u postgres --)
data="$(mktemp -d)"
log="$data/server.log"
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$data"' EXIT
sql() { "$pgbin/psql" -X -tAq -v ON_ERROR_STOP=1 "$direct" -c "$1"; }

for u in $(seq "$users"); do
  "$bin/talvex-admin" --data-dir "$data" --db "$direct" user add "user$u" \
    --email "user$u@example.org" --password secret >/dev/null
done
sql "INSERT INTO GatewayItems (ToAddress, Subject, BodyLength, Direction)
     SELECT 'user' || u || '@example.org', 'M', 1, 'O'
       FROM generate_series(1, $users) u, generate_series(1, $items) m;
     INSERT INTO GatewayBodies SELECT GWQID, 'x' FROM GatewayItems;"
stored="$(sql 'SELECT count(*) FROM GatewayItems')"

"$bin/talvex-pop3d" --port "$port" --max-connections 200 --data-dir "$data" --db "$direct" \
  >"$log" 2>&1 &
server=$!
sleep 0.5
"$bin/pop3-load" --port "$port" login --users "$users" --clients 16 --seconds "$seconds" &
load=$!
sleep 2
"${as_owner[@]}" "$pgbin/pg_ctl" -D "$cluster/data" -m fast -w restart >/dev/null
echo "== PostgreSQL restarted 2 s into the load"
wait "$load" || true
kill "$server"
wait "$server" 2>/dev/null || true
server=""

echo "== the server's lines about the database"
# sed, not head: under pipefail a reader that stops early would fail the writer with SIGPIPE.
grep -i "postgresql" "$log" | cut -f3- | sed -n "1,5p"
echo "== the failures the sessions logged, by kind"
awk -F'\t' '$2 <= 4 && $3 !~ /Quillon/ {print $4}' "$log" | sed -E 's/[0-9A-F]{32}/<session>/g; s/user[0-9]+/<user>/g' |
  sort | uniq -c | sort -rn | sed -n "1,5p"
after="$(sql 'SELECT count(*) FROM GatewayItems')"
echo "== items stored before: $stored, after: $after, held by dead sessions' locks: $(sql 'SELECT count(*) FROM GatewayItems WHERE Status <> 0')"
[ "$after" = "$stored" ] || { echo "items were lost" >&2; exit 1; }
