#!/usr/bin/env bash
# talvex-pop3d side by side with Dovecot's POP3 server in its high-performance setup (installed
# from Debian by kit/dovecot-setup.sh on the first run, for the comparison only), and optionally
# with the build of another checkout: the kit's suites, interleaved (repeat 1 of every target,
# then repeat 2, ...) so that the machine's drift hits every target alike, the server on CPU 0
# and the load generator on CPU 1, the median of the repeats, and a table of the ratios
# talvex/other. Run after `scripts/build`.
#
#   bench/compare/run_compare.sh [--suites LIST] [--repeats N] [--duration S]
#       [--idle-duration S] [--baseline CHECKOUT] [--no-dovecot] [--out DIR] [--smoke]
#
# Suites (default all): dl4k-c1 dl4k-c8 dl4k-c32 (100 users x 100 items of 4 KiB, full-drop
# downloads by 1, 8, 32 clients), dl1m-c4 (10 users x 20 items of 1 MiB, 4 clients),
# churn-c32 (connect, greeting, QUIT), login-c32 (log-in, STAT of 100 items, QUIT),
# idle-c1000 (1000 logged-in sessions held; server memory per session).
# --baseline CHECKOUT: that checkout's build/bin (e.g. a worktree of the previous commit) runs
# as a third target, "baseline", for before/after figures.
# --smoke: a few users and items, one repeat of a second, no Dovecot: shows in seconds that
# the machinery and the generator's reply checks pass; its figures mean nothing.
# Exits 1 when a run had errors or mismatches (see compare.py).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
suites=""
repeats=3 duration=20 idle_duration=60 baseline="" dovecot=1 out="" small=() smoke_suites=""
port=${TALVEX_BENCH_PORT:-31140}
while [ $# -gt 0 ]; do
  case $1 in
    --suites) suites=$2; shift 2 ;;
    --repeats) repeats=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --idle-duration) idle_duration=$2; shift 2 ;;
    --baseline) baseline=$(cd "$2" && pwd); shift 2 ;;
    --no-dovecot) dovecot=0; shift ;;
    --out) out=$2; shift 2 ;;
    --smoke)
      smoke_suites=dl4k-c8,dl1m-c4,churn-c32,login-c32,idle-c1000
      repeats=1 duration=1 idle_duration=2 dovecot=0 small=(--small)
      shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
done
suites=${suites:-${smoke_suites:-dl4k-c1,dl4k-c8,dl4k-c32,dl1m-c4,churn-c32,login-c32,idle-c1000}}

bin=${TALVEX_BIN_DIR:-$root/build/bin}
for program in talvex-pop3d talvex-bench-seed pop3load; do
  [ -x "$bin/$program" ] || { echo "run_compare.sh: no $bin/$program; run scripts/build" >&2; exit 1; }
done
if [ -n "$baseline" ] && [ ! -x "$baseline/build/bin/talvex-pop3d" ]; then
  echo "run_compare.sh: no $baseline/build/bin/talvex-pop3d; build that checkout first" >&2
  exit 1
fi

work=$(mktemp -d /tmp/talvex-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Seeded data outlives the run (it is keyed by the programs' build times); a smoke run's is
# small enough to seed each time, and its results are thrown away with it.
state=${TALVEX_COMPARE_STATE:-/tmp/talvex-compare-state}
if [ ${#small[@]} -gt 0 ]; then
  state=$work/state
  out=${out:-$work/results}
fi
out=${out:-/tmp/talvex-compare-results/$(date +%Y%m%d-%H%M%S)}

# One adapter per talvex build; the kit names a target after its script.
adapter() { # name bin-dir seeder
  cat >"$work/$1-setup.sh" <<EOF
#!/usr/bin/env bash
TALVEX_BIN='$2' TALVEX_SEED='$3' TALVEX_STATE='$state/$1' exec '$here/talvex-adapter.sh' "\$@"
EOF
  chmod +x "$work/$1-setup.sh"
  echo "cmd:$work/$1-setup.sh"
}
targets=$(adapter talvex "$bin" "$bin/talvex-bench-seed")
names=talvex
if [ -n "$baseline" ]; then
  # An older build may have no seeder; ours writes through the same calls.
  seed="$baseline/build/bin/talvex-bench-seed"
  [ -x "$seed" ] || seed=$bin/talvex-bench-seed
  targets+=,$(adapter baseline "$baseline/build/bin" "$seed")
  names+=,baseline
fi
if [ "$dovecot" = 1 ]; then
  targets+=,dovecot-perf
  names+=,dovecot-perf
fi

placement=()
[ "$(nproc)" -ge 2 ] || placement=(--shared)
POP3LOAD=$bin/pop3load POP3FAKE=$bin/pop3fake "$here/kit/bench.sh" --targets "$targets" \
  --suites "$suites" --repeats "$repeats" --duration "$duration" --idle-duration "$idle_duration" \
  --port "$port" --out "$out" "${placement[@]}" "${small[@]}" >"$work/summary.md"
echo "== medians of $repeats repeat(s), $duration s each; raw results in $out"
cat "$work/summary.md"
echo
echo "== ratios (talvex / other: above 1 is better for rates, below 1 for latency and memory)"
python3 "$here/compare.py" "$out" --targets "$names"
