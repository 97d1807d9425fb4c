#!/usr/bin/env bash
# End-to-end tests of pop3load against pop3fake (loopback only).
#   test.sh [PATH/pop3load PATH/pop3fake]     (default: build/pop3load build/pop3fake)
# Clean runs must report exact counts with no error; each injected server fault must
# be caught (as a mismatch or an error). Prints "N passed, M failed"; exit 1 on failure.
set -u
here=$(cd "$(dirname "$0")" && pwd)
LOAD=${1:-$here/build/pop3load}
FAKE=${2:-$here/build/pop3fake}
tmp=$(mktemp -d /tmp/pop3load-test.XXXXXX)
pass=0
fail=0
fake_pid=""

cleanup() {
  if [ -n "$fake_pid" ]; then kill "$fake_pid" 2>/dev/null; wait "$fake_pid" 2>/dev/null; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

start_fake() { # args for pop3fake
  # The previous fake's port must not be read before the new one truncates the file.
  rm -f "$tmp/fake.out"
  "$FAKE" --port 0 --max-seconds 120 "$@" >"$tmp/fake.out" 2>"$tmp/fake.err" &
  fake_pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening 127\.0\.0\.1://p' "$tmp/fake.out")
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "pop3fake did not start" >&2
  return 1
}
stop_fake() {
  kill "$fake_pid" 2>/dev/null
  wait "$fake_pid" 2>/dev/null
  fake_pid=""
}

# check NAME PYTHON-EXPRESSION-over-j  -- evaluates against the last JSON output
check() {
  local name=$1 expr=$2
  if python3 - "$tmp/out.json" "$expr" <<'EOF'
import json, sys
j = json.load(open(sys.argv[1]))
ok = eval(sys.argv[2], {"j": j})
if not ok:
    print("   got:", json.dumps({k: j.get(k) for k in ("sessions_completed", "sessions_failed", "messages_retrieved",
          "message_octets", "errors", "error_samples", "mismatches", "mismatch_samples", "idle")}))
sys.exit(0 if ok else 1)
EOF
  then
    pass=$((pass + 1)); echo "ok   $name"
  else
    fail=$((fail + 1)); echo "FAIL $name  ($expr)"
  fi
}

run_load() { # args for pop3load
  if ! timeout 60 "$LOAD" --port "$port" --timeout 5 --backoff 0 "$@" >"$tmp/out.json" 2>"$tmp/load.err"; then
    echo '{}' >"$tmp/out.json"
  fi
}

M=12
S=5000
clean="j['errors']==0 and j['mismatches']==0 and j['sessions_failed']==0"

# 1. Clean download: exact counts, exact octets (the fake's messages are exactly S octets
#    and contain ".", "..", "...", ".hidden" lines, so dot-stuffing must be undone right).
start_fake --messages $M --size $S
run_load --scenario download --clients 3 --users 5 --sessions 9
check "download clean" "$clean and j['sessions_completed']==9 and j['messages_retrieved']==9*$M and j['message_octets']==9*$M*$S"
check "download latency present" "j['latency_us']['RETR']['n']==9*$M and j['latency_us']['RETR']['p50']<=j['latency_us']['RETR']['p99']<=j['latency_us']['RETR']['max']"
# 2. Replies split at every byte boundary, and in small buffers.
for rm in 1 2 3 7; do
  run_load --scenario download --clients 2 --users 2 --sessions 2 --read-max $rm
  check "download read-max $rm" "$clean and j['messages_retrieved']==2*$M and j['message_octets']==2*$M*$S"
done
run_load --scenario download --clients 2 --users 2 --sessions 4 --bufsize 1024
check "download bufsize 1024" "$clean and j['message_octets']==4*$M*$S"
# 3. Other scenarios.
run_load --scenario churn --clients 4 --sessions 40
check "churn clean" "$clean and j['sessions_completed']==40 and j['latency_us']['QUIT']['n']==40"
run_load --scenario login --clients 4 --users 8 --sessions 40
check "login clean" "$clean and j['sessions_completed']==40 and j['latency_us']['STAT']['n']==40"
run_load --scenario download --clients 4 --users 8 --duration 1
check "duration mode" "$clean and j['sessions_completed']>0 and 0.9<j['elapsed_s']<1.2"
run_load --scenario download --clients 4 --users 8 --sessions 12 --threads 2
check "two threads" "$clean and j['sessions_completed']==12 and j['message_octets']==12*$M*$S"
run_load --scenario idle --clients 20 --users 5 --duration 1.5 --noop-interval 0.4
check "idle" "$clean and j['idle']['established']==20 and j['idle']['alive_at_end']==20 and j['idle']['quit_ok']==20 and j['idle']['noops']>=40"
run_load --scenario download --clients 2 --users 2 --sessions 4 --retr-extra 2
check "exact sizes are wrong when 2 more octets are expected" "j['mismatches']==4*$M and '5000 received vs 5000 listed + 2' in j['mismatch_samples'][0]"
run_load --scenario login --clients 2 --users 2 --sessions 2 --password wrong
check "wrong password is an error" "j['errors']==2 and j['sessions_failed']==2 and '-ERR' in j['error_samples'][0]"
stop_fake

# 4. Fragmented writes from the server.
start_fake --messages $M --size $S --write-max 37 --write-random
run_load --scenario download --clients 2 --users 2 --sessions 4
check "server writes in random small pieces" "$clean and j['message_octets']==4*$M*$S"
stop_fake

# 5. Large messages (body much larger than the receive buffer).
start_fake --messages 3 --size 1048576
run_load --scenario download --clients 2 --users 2 --sessions 4
check "1 MiB messages" "$clean and j['message_octets']==4*3*1048576"
stop_fake

# 6. Injected faults must be caught.
fault() { # fault-name expression [extra pop3load args]
  local f=$1 expr=$2
  shift 2
  start_fake --messages $M --size $S --fault "$f"
  run_load --scenario download --clients 2 --users 2 --sessions 4 "$@"
  check "fault $f" "$expr"
  stop_fake
}
fault size          "j['mismatches']>=4 and j['errors']==0 and 'RETR octets' in j['mismatch_samples'][0]"
fault nostuff       "j['mismatches']>=4 and 'RETR octets' in j['mismatch_samples'][0]"
fault nostuff       "j['mismatches']>=2" --read-max 1
fault uidl-dup      "j['mismatches']>=4 and 'duplicate' in j['mismatch_samples'][0]"
fault uidl-unstable "j['mismatches']>=2 and any('earlier session' in s for s in j['mismatch_samples'])"
fault uidl-unstable "j['mismatches']==0" --no-uidl-check
fault uidl-bad      "j['errors']>=4 and 'unique-id' in j['error_samples'][0]"
fault err-retr      "j['errors']==4 and j['sessions_failed']==4 and j['messages_retrieved']==8"
fault close-mid     "j['errors']==4 and j['sessions_failed']==4 and j['messages_retrieved']==4"
fault list-count    "j['mismatches']>=4 and 'LIST count' in j['mismatch_samples'][0]"
fault stat-count    "j['mismatches']>=8 and j['errors']>=4"
fault bare-lf       "j['errors']==4 and j['sessions_completed']==0 and 'CRLF' in j['error_samples'][0]"
fault extra-data    "j['errors']==4 and 'unsolicited' in j['error_samples'][0]"

# 7. Nothing listening: connection refused is an error, not a hang.
start_fake --messages $M --size $S
stop_fake
run_load --scenario churn --clients 1 --sessions 3
check "connection refused" "j['errors']==3 and j['sessions_completed']==0"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
