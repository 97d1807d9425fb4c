#!/usr/bin/env bash
# bench.sh — run the POP3 benchmark suites against one or more servers, side by side.
#
#   bench.sh [--targets LIST] [--suites LIST] [--repeats N] [--duration S]
#            [--idle-duration S] [--server-cpus LIST] [--load-cpus LIST] [--shared]
#            [--port N] [--out DIR] [--order interleaved|target-major] [--small]
#
# Targets (comma-separated):
#   dovecot        Dovecot, default (high-security) login processes   (dovecot-setup.sh)
#   dovecot-perf   Dovecot, high-performance login + pop3 process reuse
#   fake           pop3fake, the in-memory server: the generator's own ceiling
#   cmd:SCRIPT     any server behind an adapter script with dovecot-setup.sh's interface:
#                    SCRIPT start --port P --users U --messages M --size S [--cpus LIST]
#                    SCRIPT stop
#                    SCRIPT pids          (one PID per line: the server's processes)
#                    SCRIPT load-args     (optional: pop3load options the server needs)
#                  "start" must leave user1..userU (password "pw") each with M messages
#                  of exactly S octets (CRLF) and return once the port accepts.
# Suites: dl4k-c1 dl4k-c8 dl4k-c32 dl1m-c4 churn-c32 login-c32 idle-c1000 (default: all)
# --small: data sets of a few users and items (and 50 idle sessions instead of 1000), for a
# run of seconds that shows the machinery works; its figures mean nothing.
# POP3LOAD and POP3FAKE name the generator and the fake server when they are built elsewhere.
#
# Order: interleaved (default) runs repeat 1 of every target, then repeat 2, ..., each on a
# freshly started and warmed-up server, so that slow drift of the machine's speed (seen
# here: +-25 % over tens of minutes) hits all targets alike; target-major runs all repeats
# of one target before the next (one start per data set; idle restarts per repeat).
# Placement: the server runs on --server-cpus (default 0) and pop3load on --load-cpus
# (default 1); --shared leaves both unpinned on all CPUs. Each result is pop3load's JSON
# plus target, suite, repeat, CPU busy fractions and (idle) server memory, written to
# OUT/TARGET/SUITE.REP.json; summarize.py OUT prints the medians.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
LOAD=${POP3LOAD:-$here/pop3load/build/pop3load}
FAKE=${POP3FAKE:-$here/pop3load/build/pop3fake}

TARGETS=dovecot
SUITES="dl4k-c1,dl4k-c8,dl4k-c32,churn-c32,login-c32,dl1m-c4,idle-c1000"
REPEATS=3
DUR=20
IDLE_DUR=60
SERVER_CPUS=0
LOAD_CPUS=1
PORT=11110
ORDER=interleaved
SMALL=0
OUT=$here/results/run-$(date +%Y%m%d-%H%M%S)
# A target's name in file names and tables: cmd:path/to/NAME-setup.sh -> NAME.
tname() { case $1 in cmd:*) local b=${1##*/}; b=${b%.sh}; echo "${b%-setup}" ;; *) echo "$1" ;; esac; }
while [ $# -gt 0 ]; do
  case $1 in
    --targets) TARGETS=$2; shift 2 ;;
    --suites) SUITES=$2; shift 2 ;;
    --repeats) REPEATS=$2; shift 2 ;;
    --duration) DUR=$2; shift 2 ;;
    --idle-duration) IDLE_DUR=$2; shift 2 ;;
    --server-cpus) SERVER_CPUS=$2; shift 2 ;;
    --load-cpus) LOAD_CPUS=$2; shift 2 ;;
    --shared) SERVER_CPUS=""; LOAD_CPUS=""; shift ;;
    --port) PORT=$2; shift 2 ;;
    --out) OUT=$2; shift 2 ;;
    --order) ORDER=$2; shift 2 ;;
    --small) SMALL=1; shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
done

if [ ! -x "$LOAD" ] || [ ! -x "$FAKE" ]; then
  cmake -S "$here/pop3load" -B "$here/pop3load/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$here/pop3load/build" -j2 >/dev/null
fi
mkdir -p "$OUT"
log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
pin() { if [ -n "$1" ]; then echo "taskset -c $1"; fi; }

fake_pid=""
current=""   # "target U M S" of the running server
current_target=""
cleanup() { [ -n "$current" ] && target_stop "${current%% *}" || true; }
trap cleanup EXIT

target_start() { # target U M S
  local t=$1 u=$2 m=$3 s=$4 i port
  case $t in
    dovecot|dovecot-perf)
      local mode=secure
      [ "$t" = dovecot-perf ] && mode=performance
      "$here/dovecot-setup.sh" start --port "$PORT" --users "$u" --messages "$m" --size "$s" \
        --login-mode $mode ${SERVER_CPUS:+--cpus "$SERVER_CPUS"} --max-conns 1100 >&2 ;;
    fake)
      rm -f "$OUT/fake.out"  # so that no earlier fake's port is read
      $(pin "$SERVER_CPUS") "$FAKE" --port "$PORT" --messages "$m" --size "$s" --max-seconds 7200 \
        >"$OUT/fake.out" 2>&1 &
      fake_pid=$!
      for i in $(seq 100); do
        port=$(sed -n 's/^listening 127\.0\.0\.1://p' "$OUT/fake.out")
        [ -n "$port" ] && break
        sleep 0.05
      done
      [ -n "$port" ] || { log "pop3fake did not start"; return 1; } ;;
    cmd:*)
      "${t#cmd:}" start --port "$PORT" --users "$u" --messages "$m" --size "$s" \
        ${SERVER_CPUS:+--cpus "$SERVER_CPUS"} >&2 ;;
    *) log "unknown target $t"; return 1 ;;
  esac
  current="$t $u $m $s"
  current_target=$t
}
target_stop() {
  case $1 in
    dovecot|dovecot-perf) "$here/dovecot-setup.sh" stop >&2 ;;
    fake) if [ -n "$fake_pid" ]; then kill "$fake_pid" 2>/dev/null || true; wait "$fake_pid" 2>/dev/null || true; fi
          fake_pid="" ;;
    cmd:*) "${1#cmd:}" stop >&2 ;;
  esac
  current=""
}
target_pids() {
  case $1 in
    dovecot|dovecot-perf) "$here/dovecot-setup.sh" pids ;;
    fake) echo "$fake_pid" ;;
    cmd:*) "${1#cmd:}" pids ;;
  esac
}

# JSON: {"processes", "rss_kib", "pss_kib", "anon_kib"} summed over the target's processes.
# anon_kib (RssAnon) is the processes' private memory: unlike RSS and PSS it leaves out the
# pages of mapped files, which a server that maps its database gains and loses with what it
# reads, not with the sessions it holds.
mem_json() {
  python3 - $(target_pids "$1") <<'EOF'
import json, sys
t = {"processes": 0, "rss_kib": 0, "pss_kib": 0, "anon_kib": 0}
def kib(path, *names):
    """The named "Name: N kB" lines of a /proc file, read once."""
    values = {l.split(":")[0]: l.split()[1] for l in open(path) if ":" in l and len(l.split()) > 1}
    return [int(values[name]) for name in names]
for pid in sys.argv[1:]:
    try:
        rss, anon = kib(f"/proc/{pid}/status", "VmRSS", "RssAnon")
        pss, = kib(f"/proc/{pid}/smaps_rollup", "Pss")
    except (OSError, KeyError):
        continue
    t["processes"] += 1; t["rss_kib"] += rss; t["pss_kib"] += pss; t["anon_kib"] += anon
print(json.dumps(t))
EOF
}

# CPU time (jiffies) of the given processes, their reaped children included.
proc_jiffies() {
  python3 - "$@" <<'EOF'
import sys
tot = 0
for pid in sys.argv[1:]:
    try:
        f = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    except OSError:
        continue
    tot += sum(int(x) for x in f[11:15])  # utime stime cutime cstime
print(tot)
EOF
}
# user+nice+system jiffies of all CPUs (irq/softirq time is not charged to processes).
task_jiffies() { awk '$1 == "cpu" { print $2 + $3 + $4 }' /proc/stat; }

# Busy jiffies and total jiffies of a CPU list ("" = all CPUs), from /proc/stat.
cpu_snap() {
  local list=${1:-all}
  awk -v list="$list" '
    BEGIN { n = split(list, parts, ","); for (i = 1; i <= n; i++) want["cpu" parts[i]] = 1 }
    (list == "all" && $1 == "cpu") || ($1 in want) {
      busy += $2 + $3 + $4 + $7 + $8; total += $2 + $3 + $4 + $5 + $6 + $7 + $8 }
    END { print busy, total }' /proc/stat
}
cpu_frac() { # "b0 t0" "b1 t1"
  python3 -c "import sys; b0,t0=map(int,sys.argv[1].split()); b1,t1=map(int,sys.argv[2].split()); print(round((b1-b0)/max(1,t1-t0),3))" "$1" "$2"
}

# pop3load options a target asks for, e.g. how many octets its RETR adds to LIST's size.
target_load_args() {
  case $1 in
    cmd:*) "${1#cmd:}" load-args 2>/dev/null || true ;;
  esac
}
load() { $(pin "$LOAD_CPUS") "$LOAD" --port "$PORT" $(target_load_args "$current_target") "$@"; }

# key=value arguments for annotate: server_cpu_s and server_proc_cpu (the server's own
# processes), other_cpu (CPU time of everything that is neither the server nor pop3load,
# in CPUs; above ~0.05 the run was disturbed by something else on the machine).
other_cpu() { # json hz p0 p1 k0 k1 w0 w1
  python3 - "$@" <<'EOF'
import json, sys
f, hz, p0, p1, k0, k1, w0, w1 = sys.argv[1], *map(float, sys.argv[2:])
j = json.load(open(f))
wall = max(w1 - w0, 1e-9)
server = (p1 - p0) / hz
gen = j["generator_cpu"]["user_s"] + j["generator_cpu"]["sys_s"]
other = (k1 - k0) / hz - server - gen
print(f"server_cpu_s={server:.2f} server_proc_cpu={server / wall:.3f} other_cpu={max(other, 0) / wall:.3f}")
EOF
}

# Append fields to a pop3load JSON file.
annotate() { # file key=json ...
  python3 - "$@" <<'EOF'
import json, sys
f = sys.argv[1]
j = json.load(open(f))
for kv in sys.argv[2:]:
    k, v = kv.split("=", 1)
    j[k] = json.loads(v)
json.dump(j, open(f, "w"))
EOF
}

run_suite() { # target suite rep users
  local t=$1 suite=$2 rep=$3 u=$4 f s0 s1 l0 l1
  f=$OUT/$(tname "$t")/$2.$3.json
  mkdir -p "$OUT/$(tname "$t")"
  local args
  case $suite in
    dl4k-c1) args="--scenario download --clients 1 --users $u --duration $DUR" ;;
    dl4k-c8) args="--scenario download --clients 8 --users $u --duration $DUR" ;;
    dl4k-c32) args="--scenario download --clients 32 --users $u --duration $DUR" ;;
    churn-c32) args="--scenario churn --clients 32 --users $u --duration $DUR" ;;
    login-c32) args="--scenario login --clients 32 --users $u --duration $DUR" ;;
    dl1m-c4) args="--scenario download --clients 4 --users $u --duration $DUR" ;;
    idle-c1000) args="--scenario idle --clients $u --users $u --duration $IDLE_DUR --ramp 100 --timeout 300 --bufsize 16384" ;;
  esac
  log "$t $suite rep $rep: pop3load $args"
  local hz p0 p1 k0 k1 w0 w1
  hz=$(getconf CLK_TCK)
  if [ "$suite" = idle-c1000 ]; then
    local m0 m1 i
    sleep 3
    m0=$(mem_json "$t")
    s0=$(cpu_snap "$SERVER_CPUS"); l0=$(cpu_snap "$LOAD_CPUS")
    p0=$(proc_jiffies $(target_pids "$t")); k0=$(task_jiffies); w0=$(date +%s.%N)
    load $args --label "$t" >"$f" 2>"$f.err" &
    local lp=$!
    for i in $(seq 300); do
      grep -q "^# idle: all" "$f.err" 2>/dev/null && break
      kill -0 "$lp" 2>/dev/null || break
      sleep 1
    done
    sleep 5
    m1=$(mem_json "$t")
    wait "$lp"
    k1=$(task_jiffies); w1=$(date +%s.%N)
    s1=$(cpu_snap "$SERVER_CPUS"); l1=$(cpu_snap "$LOAD_CPUS")
    p1=$(proc_jiffies $(target_pids "$t"))
    annotate "$f" suite="\"$suite\"" target="\"$(tname "$t")\"" rep="$rep" server_mem_idle0="$m0" server_mem_held="$m1" \
      $(other_cpu "$f" "$hz" "$p0" "$p1" "$k0" "$k1" "$w0" "$w1") \
      server_cpu_busy="$(cpu_frac "$s0" "$s1")" load_cpu_busy="$(cpu_frac "$l0" "$l1")" \
      placement="\"server cpus ${SERVER_CPUS:-all}, pop3load cpus ${LOAD_CPUS:-all}\""
    sleep 5   # let the server tear the sessions down
  else
    s0=$(cpu_snap "$SERVER_CPUS"); l0=$(cpu_snap "$LOAD_CPUS")
    p0=$(proc_jiffies $(target_pids "$t")); k0=$(task_jiffies); w0=$(date +%s.%N)
    load $args --label "$t" >"$f" 2>"$f.err"
    k1=$(task_jiffies); w1=$(date +%s.%N)
    s1=$(cpu_snap "$SERVER_CPUS"); l1=$(cpu_snap "$LOAD_CPUS")
    p1=$(proc_jiffies $(target_pids "$t"))
    annotate "$f" suite="\"$suite\"" target="\"$(tname "$t")\"" rep="$rep" \
      $(other_cpu "$f" "$hz" "$p0" "$p1" "$k0" "$k1" "$w0" "$w1") \
      server_cpu_busy="$(cpu_frac "$s0" "$s1")" load_cpu_busy="$(cpu_frac "$l0" "$l1")" \
      placement="\"server cpus ${SERVER_CPUS:-all}, pop3load cpus ${LOAD_CPUS:-all}\""
    sleep 2
  fi
  python3 -c "
import json,sys; j=json.load(open(sys.argv[1]))
print(f\"    sessions/s {j['sessions_per_s']}  msgs/s {j['messages_per_s']}  MiB/s {j['mib_per_s']}  errors {j['errors']}  mismatches {j['mismatches']}  server cpu {j['server_cpu_busy']}  load cpu {j['load_cpu_busy']}  server proc {j['server_proc_cpu']}  other {j['other_cpu']}\")" "$f" >&2
}

start_and_warm() { # target U M S
  target_start "$@"
  # Warm-up (not recorded): every mailbox opened once.
  log "$1: warm-up over $2 users"
  load --scenario download --clients $(($2 < 8 ? $2 : 8)) --users "$2" --sessions "$2" >"$OUT/$(tname "$1").warmup.$2.json" 2>/dev/null
  sleep 2
}

# Each data set: users, items per user, octets per item. Concurrent sessions never share a
# user (a server may lock a drop per session), so no suite has more clients than users.
if [ "$SMALL" = 1 ]; then
  DS_4K="32 5 4096" DS_1M="4 2 1048576" DS_IDLE="50 2 4096"
else
  DS_4K="100 100 4096" DS_1M="10 20 1048576" DS_IDLE="1000 10 4096"
fi
dataset_of() {
  case $1 in
    dl4k-*|churn-*|login-*) echo "$DS_4K" ;;
    dl1m-*) echo "$DS_1M" ;;
    idle-*) echo "$DS_IDLE" ;;
    *) log "unknown suite $1"; exit 2 ;;
  esac
}

IFS=, read -r -a tlist <<<"$TARGETS"
IFS=, read -r -a slist <<<"$SUITES"
case $ORDER in interleaved|target-major) ;; *) log "--order interleaved|target-major"; exit 2 ;; esac
log "results in $OUT; server cpus ${SERVER_CPUS:-all}, pop3load cpus ${LOAD_CPUS:-all}; order $ORDER"
datasets=("$DS_4K" "$DS_1M" "$DS_IDLE")
suites_of() { # dataset -> the selected suites that use it, into array "mine"
  mine=()
  for s in "${slist[@]}"; do [ "$(dataset_of "$s")" = "$1" ] && mine+=("$s"); done
  return 0
}
if [ "$ORDER" = interleaved ]; then
  for ds in "${datasets[@]}"; do
    suites_of "$ds"
    [ ${#mine[@]} -gt 0 ] || continue
    read -r u m sz <<<"$ds"
    for rep in $(seq 1 "$REPEATS"); do
      for t in "${tlist[@]}"; do
        start_and_warm "$t" "$u" "$m" "$sz"
        for s in "${mine[@]}"; do run_suite "$t" "$s" "$rep" "$u"; done
        target_stop "$t"
      done
    done
  done
else
for t in "${tlist[@]}"; do
  for ds in "${datasets[@]}"; do
    suites_of "$ds"
    [ ${#mine[@]} -gt 0 ] || continue
    read -r u m sz <<<"$ds"
    if [ "$ds" = "$DS_IDLE" ]; then
      # Idle: a fresh server (and warm-up) for every repeat, so that "0 sessions" is the
      # same state each time (a server that keeps processes around would carry them over).
      for rep in $(seq 1 "$REPEATS"); do
        start_and_warm "$t" "$u" "$m" "$sz"
        for s in "${mine[@]}"; do run_suite "$t" "$s" "$rep" "$u"; done
        target_stop "$t"
      done
    else
      start_and_warm "$t" "$u" "$m" "$sz"
      for rep in $(seq 1 "$REPEATS"); do
        for s in "${mine[@]}"; do run_suite "$t" "$s" "$rep" "$u"; done
      done
      target_stop "$t"
    fi
  done
done
fi
python3 "$here/summarize.py" "$OUT"
