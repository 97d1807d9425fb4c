#!/usr/bin/env bash
# Many kills of talvex-pop3d with SIGKILL under a POP3 load of retrievals and deletions, each
# followed by a restart on the same data: acknowledged deletions must stay done and every other
# item must be served again byte for byte (tests/e2e/test_crash.py, with more trials than the
# test suite runs), on the embedded database and, when the PostgreSQL programs are installed,
# on a throw-away cluster. Prints the random seed, which TALVEX_CRASH_SEED replays.
# Run after `scripts/build`; TALVEX_BIN_DIR names another build's bin/.
#   bench/pop3/run_pop3_crash_trials.sh [trials]
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ -z "${TALVEX_TEST_POSTGRESQL:-}" ] && ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
  exec scripts/with-postgresql "$0" "$@"
fi
trials="${1:-20}"
export TALVEX_BIN_DIR="${TALVEX_BIN_DIR:-$PWD/build/bin}"
export TALVEX_CRASH_TRIALS="$trials"
export TALVEX_CRASH_SEED="${TALVEX_CRASH_SEED:-$RANDOM$RANDOM}"
export PYTHONDONTWRITEBYTECODE=1
echo "== $trials kills under load per database, seed $TALVEX_CRASH_SEED"
cd tests/e2e
python3 -m unittest test_crash
