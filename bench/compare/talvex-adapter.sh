#!/usr/bin/env bash
# The benchmark kit's target interface for a talvex-pop3d build (the same commands as
# kit/dovecot-setup.sh): users user1..userU with password "pw", each with M items of exactly S
# octets as LIST and RETR count them, seeded once per data set by talvex-bench-seed and kept
# until the build's programs change.
#
#   TALVEX_BIN=DIR TALVEX_STATE=DIR talvex-adapter.sh start --port P --users U --messages M
#                                                       --size S [--cpus LIST]
#   TALVEX_BIN=DIR TALVEX_STATE=DIR talvex-adapter.sh stop | pids | load-args
#
# load-args: talvex-pop3d's RETR ends every message with a CR LF that its LIST size does not
# count, whether or not the stored body ends with one; the generator is told to expect exactly
# those 2 octets more, so that any other difference is still reported.
#
# TALVEX_BIN is the build's bin/ (talvex-pop3d, and talvex-bench-seed unless TALVEX_SEED
# names another seeder, for a build that has none); TALVEX_STATE holds the server's pid file,
# its log and the seeded data.
set -euo pipefail
: "${TALVEX_BIN:?the bin directory of a build}" "${TALVEX_STATE:?a state directory}"
seeder=${TALVEX_SEED:-$TALVEX_BIN/talvex-bench-seed}
port=11110 users=100 messages=100 size=4096 cpus=""
cmd=${1:-}
[ $# -gt 0 ] && shift
while [ $# -gt 0 ]; do
  case $1 in
    --port) port=$2 ;;
    --users) users=$2 ;;
    --messages) messages=$2 ;;
    --size) size=$2 ;;
    --cpus) cpus=$2 ;;
    --login-mode | --max-conns) ;;  # the kit's options for Dovecot
    *) echo "talvex-adapter.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
pidfile=$TALVEX_STATE/server.pid

# Data seeded by other programs than the ones that serve it now may have another schema.
data_dir() {
  local stamp
  stamp=$(stat -c %Y "$TALVEX_BIN/talvex-pop3d" "$seeder" | tr '\n' -)
  echo "$TALVEX_STATE/data-u$users-m$messages-s$size-$stamp"
}

seed() {
  local data=$1
  # The same data set seeded for earlier builds is of no more use (a 1 MiB set takes 200 MiB).
  rm -rf "$TALVEX_STATE/data-u$users-m$messages-s$size-"*
  rm -rf "$data.tmp"
  echo "talvex: seeding $users users x $messages items x $size octets" >&2
  "$seeder" --data-dir "$data.tmp" --users "$users" --messages "$messages" --size "$size"
  mv "$data.tmp" "$data"
}

start() {
  local data pin=()
  mkdir -p "$TALVEX_STATE"
  stop
  data=$(data_dir)
  [ -d "$data" ] || seed "$data"
  [ -n "$cpus" ] && pin=(taskset -c "$cpus")
  ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
  "${pin[@]}" "$TALVEX_BIN/talvex-pop3d" --port "$port" --max-connections 1100 --logging-mode 0 \
    --data-dir "$data" >"$TALVEX_STATE/server.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$(cat "$pidfile")" 2>/dev/null || break
    sleep 0.1
  done
  echo "talvex-pop3d did not accept on port $port:" >&2
  tail -n 5 "$TALVEX_STATE/server.log" >&2
  return 1
}

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$pidfile"
}

case $cmd in
  start) start ;;
  stop) stop ;;
  pids) if [ -f "$pidfile" ]; then cat "$pidfile"; fi ;;
  load-args) echo "--retr-extra 2" ;;
  *) sed -n '2,/^set -euo/p' "$0" | sed '$d' >&2; exit 2 ;;
esac
