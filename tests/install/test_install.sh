#!/usr/bin/env bash
# The install tree as a package would lay it out: `cmake --install` into a temporary prefix, the
# unit accepted by systemd-analyze with the installed server as its command, the man pages, and
# the installed server started from there and answering a client.
#   test_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/talvex-install-XXXXXX)
data=$(mktemp -d /tmp/talvex-install-data-XXXXXX)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$prefix" "$data"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/talvex-pop3d bin/talvex-admin lib/systemd/system/talvex-pop3d.service \
            lib/sysusers.d/talvex.conf share/man/man8/talvex-pop3d.8 share/man/man1/talvex-admin.1; do
  [ -s "$prefix/$file" ] || fail "missing $file"
done
unit=$prefix/lib/systemd/system/talvex-pop3d.service
grep -qx "ExecStart=$prefix/bin/talvex-pop3d --port 110 --data-dir /var/lib/talvex" "$unit" \
  || fail "the unit does not start the installed server"
if command -v systemd-analyze >/dev/null; then
  # The unit's Documentation= line is checked against the installed pages where man exists.
  man_check=(--man=no)
  command -v man >/dev/null && man_check=()
  MANPATH=$prefix/share/man systemd-analyze verify "${man_check[@]}" "$unit" \
    || fail "systemd-analyze rejects the unit"
else
  echo "install test: systemd-analyze is not installed; the unit is not verified" >&2
  [ -n "${TALVEX_REQUIRE_TOOLS:-}" ] && exit 1
fi
# Every option of the program's help appears in its page.
for option in $("$prefix/bin/talvex-pop3d" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -q -- "${option//-/\\\\-}\|$option" "$prefix/share/man/man8/talvex-pop3d.8" \
    || fail "talvex-pop3d.8 lacks $option"
done
grep -q '^\.SH DB$' "$prefix/share/man/man1/talvex-admin.1" || fail "talvex-admin.1 lacks the db commands"

"$prefix/bin/talvex-pop3d" --port 0 --data-dir "$data" >"$data/log" 2>&1 &
server=$!
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*POP3 server listening on port \([0-9]*\).*/\1/p' "$data/log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the installed server did not start: $(cat "$data/log")"
exec 3<>"/dev/tcp/127.0.0.1/$port"
read -r -t 10 greeting <&3
[[ $greeting == "+OK "* ]] || fail "no greeting from the installed server: $greeting"
printf 'QUIT\r\n' >&3
exec 3<&-
echo "install test: installed into $prefix, unit verified, server answered on port $port"
