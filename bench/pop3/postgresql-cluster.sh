# Sourced by the benchmarks that need a PostgreSQL cluster, from the repository root, with the
# script's own command line:  source bench/pop3/postgresql-cluster.sh "$0" "$@"
# Outside a cluster it runs the script again inside a throw-away one of scripts/with-postgresql;
# without the PostgreSQL server programs there is nothing to measure, and 77 says "skipped" to
# ctest, unless a cluster is required.
if [ -z "${TALVEX_TEST_POSTGRESQL:-}" ]; then
  if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
    echo "no PostgreSQL server programs under /usr/lib/postgresql" >&2
    [ "${TALVEX_REQUIRE_POSTGRESQL:-0}" = 1 ] && exit 1
    exit 77
  fi
  exec scripts/with-postgresql "$@"
fi
