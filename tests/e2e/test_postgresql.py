"""talvex-pop3d and talvex-admin on a PostgreSQL database: what the admin tool stores, the server
serves, and two servers sharing the database never serve one drop at the same time."""
import itertools
import os
import subprocess
import unittest

from harness import Item, Server, add_user, logged_in, retr_reply

CLUSTER = os.environ.get("TALVEX_TEST_POSTGRESQL", "")
REQUIRED = os.environ.get("TALVEX_REQUIRE_POSTGRESQL") == "1"
_schemas = itertools.count(1)


def psql(sql):
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", CLUSTER, "-c", sql],
                   check=True, capture_output=True, timeout=60)


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
            size = len(item.message())
            with logged_in(server.port, "pat", "pw") as client:
                self.assertEqual(client.command("STAT"), f"+OK 1 {size}\r\n".encode())
                self.assertEqual(client.listing("RETR 1"), retr_reply(item.message()))
                self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
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


if __name__ == "__main__":
    unittest.main()
