"""talvex-pop3d and talvex-admin on a PostgreSQL database: what the admin tool stores, the server
serves, two servers sharing the database never serve one drop at the same time, and a server
killed mid-session leaves its drop to the other once its heartbeat is stale."""
import itertools
import os
import resource
import select
import signal
import subprocess
import tempfile
import time
import unittest

from harness import HOWDY, SANITIZED, SLOW, Item, Pop3Client, Server, add_user, admin, logged_in, retr_reply

CLUSTER = os.environ.get("TALVEX_TEST_POSTGRESQL", "")
REQUIRED = os.environ.get("TALVEX_REQUIRE_POSTGRESQL") == "1"
_schemas = itertools.count(1)


def psql(sql, database=CLUSTER):
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", database, "-c", sql],
                   check=True, capture_output=True, timeout=60)


def psql_rows(sql, schema):
    """The rows of a query in the schema, each a tuple of integers where a field is one."""
    run = subprocess.run(["psql", "-X", "-q", "-A", "-t", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-d", CLUSTER,
                          "-c", f"SET search_path TO {schema}", "-c", sql],
                         check=True, capture_output=True, text=True, timeout=60)
    return [tuple(int(f) if f.lstrip("-").isdigit() else f for f in row.split("\t"))
            for row in run.stdout.splitlines() if row]


class OnPostgresql(unittest.TestCase):
    """Each test gets a schema of its own; self.db leads there, and so does TALVEX_DB."""

    def setUp(self):
        if not CLUSTER:
            if REQUIRED:
                self.fail("TALVEX_REQUIRE_POSTGRESQL=1 but TALVEX_TEST_POSTGRESQL is not set")
            self.skipTest("no PostgreSQL test cluster: run through scripts/with-postgresql")
        schema = f"e2e_{os.getpid()}_{next(_schemas)}"
        psql(f"CREATE SCHEMA {schema}")
        self.addCleanup(psql, f"DROP SCHEMA {schema} CASCADE")
        separator = "&" if "?" in CLUSTER else "?"
        previous = os.environ.get("TALVEX_DB")
        self.schema = schema
        self.db = f"{CLUSTER}{separator}options=-csearch_path%3D{schema}"
        os.environ["TALVEX_DB"] = self.db
        self.addCleanup(self._restore, previous)

    @staticmethod
    def _restore(previous):
        if previous is None:
            os.environ.pop("TALVEX_DB", None)
        else:
            os.environ["TALVEX_DB"] = previous

    def test_server_serves_what_the_admin_tool_stored(self):
        del os.environ["TALVEX_DB"]  # here both programs are told by --db
        with Server("--db", self.db) as server:
            options = ("--db", self.db)
            email = add_user(server.data_dir, "pat", "pw", options=options)
            item = Item(server.data_dir, email, body="Gr\u00fc\u00dfe \u65e5\r\n", subject="pg",
                        options=options)
            # Over a megabyte of characters of one to four octets: read a piece at a time.
            large = Item(server.data_dir, email, subject="large", options=options,
                         body="".join(f"{n} caf\u00e9 \u65e5 \U0001F600 .{'x' * (n % 90)}\r\n"
                                      for n in range(12000)))
            size = len(item.message()) + len(large.message())
            with logged_in(server.port, "pat", "pw") as client:
                self.assertEqual(client.command("STAT"), f"+OK 2 {size}\r\n".encode())
                self.assertEqual(client.listing("RETR 1"), retr_reply(item.message()))
                self.assertEqual(client.listing("RETR 2"), retr_reply(large.message()))
                self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
                self.assertEqual(client.command("DELE 2"), b"+OK\r\n")
                client.command("QUIT")
            with logged_in(server.port, "pat", "pw") as client:
                self.assertEqual(client.command("STAT"), b"+OK 0 0\r\n")
            self.assertFalse(os.path.exists(os.path.join(server.data_dir, "talvex.db")))

    def test_two_servers_on_one_database_take_turns_at_a_drop(self):
        with Server() as first, Server() as second:
            email = add_user(first.data_dir, "quinn", "pw")
            item = Item(first.data_dir, email, body="only once\r\n")
            size = len(item.message())
            with logged_in(first.port, "quinn", "pw") as holder:
                self.assertEqual(holder.command("STAT"), f"+OK 1 {size}\r\n".encode())
                with logged_in(second.port, "quinn", "pw") as other:
                    self.assertEqual(other.command("STAT"), b"+OK 0 0\r\n")
                holder.command("QUIT")
            with logged_in(second.port, "quinn", "pw") as client:
                self.assertEqual(client.command("STAT"), f"+OK 1 {size}\r\n".encode())

    def test_a_killed_server_leaves_its_drop_to_the_other_once_its_heartbeat_is_stale(self):
        # Each process beats in the database; the locks of one that stopped beating a minute ago
        # are stale. The test moves the dead one's beat back instead of waiting; the survivor
        # goes on beating, and its own sessions keep their drops.
        with Server() as first, Server() as second:
            email = add_user(first.data_dir, "rae", "pw")
            items = [Item(first.data_dir, email, body=f"message {n}\r\n", subject=f"m{n}") for n in (1, 2, 3)]
            stat = f"+OK 3 {sum(len(item.message()) for item in items)}\r\n".encode()
            other = Item(first.data_dir, add_user(first.data_dir, "sam", "pw"), body="sam's\r\n")
            other_stat = f"+OK 1 {len(other.message())}\r\n".encode()
            holder = logged_in(first.port, "rae", "pw")
            self.assertEqual(holder.command("STAT"), stat)
            self.assertEqual(holder.command("DELE 1"), b"+OK\r\n")  # never confirmed by QUIT
            survivor = logged_in(second.port, "sam", "pw")
            self.assertEqual(survivor.command("STAT"), other_stat)
            first.proc.send_signal(signal.SIGKILL)
            first.proc.wait()
            holder.close()
            with logged_in(second.port, "rae", "pw") as client:  # the dead one's beat is fresh
                self.assertEqual(client.command("STAT"), b"+OK 0 0\r\n")
                client.command("QUIT")
            psql(f"UPDATE P3Instances SET Heartbeat = Heartbeat - 65 WHERE ProcessID = {first.proc.pid}",
                 self.db)
            with logged_in(second.port, "rae", "pw") as client:
                self.assertEqual(client.command("STAT"), stat)
                for n, item in enumerate(items, 1):  # each once, in order, as stored
                    self.assertEqual(client.listing(f"RETR {n}"), retr_reply(item.message()))
                client.command("QUIT")
            with logged_in(second.port, "sam", "pw") as client:  # the living session still holds it
                self.assertEqual(client.command("STAT"), b"+OK 0 0\r\n")
                client.command("QUIT")
            self.assertEqual(survivor.listing("RETR 1"), retr_reply(other.message()))
            self.assertEqual(survivor.command("DELE 1"), b"+OK\r\n")
            self.assertTrue(survivor.command("QUIT").startswith(b"+OK"))
            survivor.close()
            with logged_in(second.port, "sam", "pw") as client:
                self.assertEqual(client.command("STAT"), b"+OK 0 0\r\n")
                client.command("QUIT")
            self.assertEqual(psql_rows("SELECT count(*) FROM GatewayItems WHERE ToAddress = 'sam@example.org'",
                                       self.schema), [(0,)])

    def test_a_stopped_server_leaves_nothing_locked_and_no_registration(self):
        with Server() as first, Server() as second:
            email = add_user(first.data_dir, "tom", "pw")
            item = Item(first.data_dir, email, body="kept\r\n")
            holder = logged_in(first.port, "tom", "pw")
            self.assertEqual(holder.command("DELE 1"), b"+OK\r\n")
            self.assertEqual(first.stop(), 0)  # SIGTERM
            holder.close()
            with logged_in(second.port, "tom", "pw") as client:  # at once, no aging
                self.assertEqual(client.command("STAT"), f"+OK 1 {len(item.message())}\r\n".encode())
                client.command("QUIT")
            self.assertEqual(psql_rows("SELECT ProcessID FROM P3Instances", self.schema),
                             [(second.proc.pid,)])

    @unittest.skipIf(SANITIZED, "the sanitizer runtime needs free file descriptors for its own checks")
    def test_out_of_descriptors_log_ins_that_get_no_connection_are_refused_and_nothing_stays_locked(self):
        # With few descriptors the pool cannot open a connection for every session: a log-in
        # that gets none ends with the internal error, the others are served to the end, the
        # queued ones once descriptors are freed, and no drop is left locked.
        users = 30
        with Server("--max-connections", "100", preexec_fn=lambda: resource.setrlimit(
                resource.RLIMIT_NOFILE, (40, 40))) as server:
            items = {}
            for n in range(users):
                items[n] = Item(server.data_dir, add_user(server.data_dir, f"v{n}", "pw"), body=f"v{n}\r\n")
            clients = [Pop3Client(server.port, timeout=5) for _ in range(users)]
            time.sleep(0.3 * SLOW)
            greeted_now = [c for c in clients if select.select([c.sock], [], [], 0.2)[0]]
            replies = {}
            for n, client in enumerate(clients):  # those accepted log in side by side
                if client in greeted_now:
                    client.read_until()
                    client.command(f"USER v{n}")
                    replies[n] = client.command("PASS pw")
            for n, client in enumerate(clients):
                reply = replies.get(n)
                if reply is None:  # still queued: given up here, its user logs in below
                    client.close()
                elif reply == HOWDY:
                    self.assertEqual(client.command("STAT"), f"+OK 1 {len(items[n].message())}\r\n".encode())
                    self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
                    self.assertTrue(client.command("QUIT").startswith(b"+OK"))
                else:
                    self.assertEqual(reply, b"-ERR Internal server error occured. Closing transmission channel\r\n")
                    self.assertEqual(client.closed_after(), b"")
                client.close()
            self.assertIn(HOWDY, replies.values())
            self.assertEqual(server.count(lambda m: m.startswith("Listener Error")), 0)
            served = {n for n, reply in replies.items() if reply == HOWDY}
            for n in sorted(set(range(users)) - served):  # descriptors are free again
                with logged_in(server.port, f"v{n}", "pw") as client:
                    self.assertEqual(client.command("STAT"), f"+OK 1 {len(items[n].message())}\r\n".encode())
                    self.assertTrue(client.command("QUIT").startswith(b"+OK"))
        self.assertEqual(psql_rows("SELECT count(*) FROM GatewayItems WHERE SessionID IS NOT NULL", self.schema),
                         [(0,)])
        self.assertEqual(psql_rows("SELECT count(*) FROM GatewayItems", self.schema), [(users - len(served),)])
        self.assertEqual(psql_rows("SELECT count(*) FROM MailDropLocks", self.schema), [(0,)])

    def test_the_admin_tool_gives_the_same_output_on_both_engines(self):
        script = [
            ("user", "add", "sue", "--email", "sue@example.org", "--password", "pw"),
            ("user", "add", "sue", "--email", "sue@example.org", "--password", "pw"),  # refused
            ("user", "add", "tom", "--email", "tom@example.org", "--password", "pw", "--disabled"),
            ("user", "passwd", "tom", "--password", "new"),
            ("user", "list",),
            ("item", "add", "--to", "sue@example.org", "--subject", "Hi", "--date", "", "--body", "x"),
            ("item", "add", "--to", "tom@example.org", "--subject", "Caf\u00e9", "--date",
             "Mon, 07 Dec 2026 10:00:00 +0000", "--body", "\u00fcber"),
            ("item", "list",),
            ("item", "list", "--to", "TOM@example.org"),
            ("conf", "set", "Mail", "Domain", "example.org"),
            ("conf", "get", "Mail", "Domain"),
            ("conf", "get", "Mail", "Absent", "--default", "fallback"),
            ("conf", "list",),
            ("db", "version"),
        ]
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as sqlite_dir, \
                tempfile.TemporaryDirectory(prefix="talvex-e2e-") as pg_dir:
            outputs = {}
            for name, data_dir, options in (("sqlite", sqlite_dir, ("--db", "sqlite:" + sqlite_dir + "/t.db")),
                                            ("postgresql", pg_dir, ("--db", self.db))):
                runs = [admin(data_dir, *options, *command) for command in script]
                outputs[name] = [(run.returncode, run.stdout, run.stderr) for run in runs]
            self.assertEqual(outputs["sqlite"], outputs["postgresql"])
            self.assertEqual([code for code, _, _ in outputs["sqlite"]], [0, 1] + [0] * 12)


if __name__ == "__main__":
    unittest.main()
