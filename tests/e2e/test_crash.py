"""talvex-pop3d killed with SIGKILL at a random moment of a POP3 load, then started again on the
same data: every deletion whose QUIT it acknowledged stays done, every other item is served
again byte for byte, and no session is ever served one item twice or an item already gone. On
the embedded database and, with a test cluster (scripts/with-postgresql), on PostgreSQL.

TALVEX_CRASH_TRIALS sets the number of kills per database (default 5); TALVEX_CRASH_SEED the
random seed (printed with every failure so that a failing trial can be replayed).

A drop's lock lasts while the server process holding it beats in the database; a killed
server's locks are stale a minute after its last beat, which the tests bring about by moving the
beat back instead of waiting. A server stopped in order gives its drops back before it exits."""
import os
import random
import signal
import sqlite3
import tempfile
import threading
import time
import unittest

from harness import SLOW, Item, Server, add_user, logged_in, retr_reply
from test_postgresql import CLUSTER, REQUIRED, psql, psql_rows

TRIALS = int(os.environ.get("TALVEX_CRASH_TRIALS", "5"))
SEED = int(os.environ.get("TALVEX_CRASH_SEED", str(random.randrange(1 << 30))))
USERS = 4
ITEMS = 10
HEARTBEAT_LIMIT = 60  # seconds without a beat after which a process's locks are stale


def body(rng, n):
    """Bodies that differ: lengths from one line to some 40 KiB (so that a kill may cut a RETR
    short), and always with the item's own number."""
    lines = [f"item {n}: " + " ".join(rng.choice(["alpha", "beta", "gamma", "delta"]) for _ in range(8))]
    lines += [f"line {k} of item {n}" for k in range(rng.choice([0, 3, 40, 2000]))]
    return "\r\n".join(lines) + "\r\n"


class Drop:
    """One user's items and what the load did to them: deletions the server acknowledged,
    deletions whose QUIT went unanswered, and every fault seen."""

    def __init__(self, user, items):
        self.user = user
        self.expected = {item.uid(): item.message() for item in items}
        self.gone = set()       # deleted, QUIT answered +OK
        self.in_doubt = set()   # deleted, QUIT sent, no answer: done or not
        self.faults = []


def session(port, drop, rng):
    """One POP3 session with checks; returns normally unless the connection fails."""
    with logged_in(port, drop.user, "pw") as client:
        uids = [row.split()[1].decode() for row in client.listing("UIDL").split(b"\r\n")[1:-2]]
        if len(set(uids)) != len(uids):
            drop.faults.append(f"{drop.user}: one item listed twice: {uids}")
        if set(uids) & drop.gone:
            drop.faults.append(f"{drop.user}: deleted items served again: {set(uids) & drop.gone}")
        for n in rng.sample(range(1, len(uids) + 1), min(len(uids), 3)):
            message = client.listing(f"RETR {n}")
            if message != retr_reply(drop.expected.get(uids[n - 1], b"?")):
                drop.faults.append(f"{drop.user}: RETR {n} ({uids[n - 1]}) is not the stored item")
        deleted = set()
        for n in rng.sample(range(1, len(uids) + 1), min(len(uids), rng.choice([0, 1, 1, 2]))):
            if client.command(f"DELE {n}") == b"+OK\r\n":
                deleted.add(uids[n - 1])
        drop.in_doubt |= deleted
        if client.command("QUIT").startswith(b"+OK"):
            drop.gone |= deleted
            drop.in_doubt -= deleted


def load(port, drop, rng, killed):
    """Sessions one after another until the server dies under them."""
    while True:
        try:
            session(port, drop, rng)
        except OSError as error:  # ConnectionError and socket timeouts among them
            if not killed.is_set():
                drop.faults.append(f"{drop.user}: the session failed before the kill: {error!r}")
            return
        except AssertionError as error:  # a log-in refused
            if not killed.is_set():
                drop.faults.append(f"{drop.user}: {error}")
            return


# Moves the dead server's last heartbeat back past the limit: the sessions that held its locks
# died with it, and a later log-in takes a stale lock over (with the items it had claimed). The
# locks themselves stay young, far inside their own fifteen minutes.
def age_heartbeats(pid):
    return f"UPDATE P3Instances SET Heartbeat = Heartbeat - {HEARTBEAT_LIMIT + 5} WHERE ProcessID = {pid}"


class OnSqlite:
    """Statements on the embedded database of the data directory."""

    def sql(self, data_dir, statement):
        with sqlite3.connect(os.path.join(data_dir, "talvex.db")) as db:
            return db.execute(statement).fetchall()


class OnPostgresqlSchema:
    """Both programs on a schema of their own (TALVEX_DB), and statements there."""

    def setUp(self):
        if not CLUSTER:
            if REQUIRED:
                self.fail("TALVEX_REQUIRE_POSTGRESQL=1 but TALVEX_TEST_POSTGRESQL is not set")
            self.skipTest("no PostgreSQL test cluster: run through scripts/with-postgresql")
        self.schema = f"crash_{os.getpid()}_{type(self).__name__.lower()}"
        psql(f"CREATE SCHEMA {self.schema}")
        self.addCleanup(psql, f"DROP SCHEMA {self.schema} CASCADE")
        separator = "&" if "?" in CLUSTER else "?"
        os.environ["TALVEX_DB"] = f"{CLUSTER}{separator}options=-csearch_path%3D{self.schema}"
        self.addCleanup(os.environ.pop, "TALVEX_DB", None)

    def sql(self, data_dir, statement):
        return psql_rows(statement, self.schema)


class KillUnderLoad(OnSqlite, unittest.TestCase):
    def age_locks(self, data_dir, pid):
        self.sql(data_dir, age_heartbeats(pid))

    def trial(self, data_dir, trial, rng):
        first = trial * USERS
        drops = []
        for u in range(first, first + USERS):
            user = f"t{u}"
            email = add_user(data_dir, user, "pw")
            items = [Item(data_dir, email, body(rng, n), subject=f"item {n} of {user}", sender="s@example.org",
                          sender_name="Sender") for n in range(ITEMS)]
            drops.append(Drop(user, items))
        server = Server("--max-connections", "50", data_dir=data_dir)
        killed = threading.Event()
        clients = [threading.Thread(target=load, args=(server.port, d, random.Random(rng.random()), killed))
                   for d in drops]
        for c in clients:
            c.start()
        time.sleep(rng.uniform(0.05, 0.8) * SLOW)
        killed.set()
        server.stop(signal.SIGKILL)
        for c in clients:
            c.join(timeout=30 * SLOW)
        self.age_locks(data_dir, server.proc.pid)
        with Server(data_dir=data_dir) as again:
            for drop in drops:
                self.check_after_restart(again.port, drop)
        return drops

    def check_after_restart(self, port, drop):
        self.assertEqual(drop.faults, [])
        with logged_in(port, drop.user, "pw") as client:
            uids = [row.split()[1].decode() for row in client.listing("UIDL").split(b"\r\n")[1:-2]]
            present = set(uids)
            self.assertEqual(len(present), len(uids), "an item listed twice")
            self.assertEqual(present & drop.gone, set(), "acknowledged deletions undone")
            kept = set(drop.expected) - drop.gone - drop.in_doubt
            self.assertEqual(kept - present, set(), "items lost that no acknowledged QUIT deleted")
            self.assertLessEqual(present, set(drop.expected))
            for n, uid in enumerate(uids, start=1):
                self.assertEqual(client.listing(f"RETR {n}"), retr_reply(drop.expected[uid]))
            self.assertTrue(client.command("QUIT").startswith(b"+OK"))

    def test_acknowledged_deletions_survive_a_kill_and_nothing_else_is_lost(self):
        rng = random.Random(SEED)
        done = 0
        with tempfile.TemporaryDirectory(prefix="talvex-crash-") as data_dir:
            for trial in range(TRIALS):
                with self.subTest(trial=trial, seed=SEED):
                    drops = self.trial(data_dir, trial, rng)
                    done += sum(len(d.gone) for d in drops)
        # Trials in which nothing was deleted before the kill would prove little.
        self.assertGreater(done, 0, f"no deletion was acknowledged in {TRIALS} trials (seed {SEED})")


class KillUnderLoadOnPostgresql(OnPostgresqlSchema, KillUnderLoad):
    """The same kills with both programs on PostgreSQL."""


class StopAndRestart(OnSqlite, unittest.TestCase):
    """A user's session in the middle of its work (a message marked deleted, never confirmed) when
    the server goes; the server is started again on the same data at once."""

    def start_session(self, data_dir, user):
        email = add_user(data_dir, user, "pw")
        self.items = [Item(data_dir, email, body=f"note {n}\r\n", subject=f"n{n}") for n in range(3)]
        self.stat = f"+OK 3 {sum(len(item.message()) for item in self.items)}\r\n".encode()
        server = Server("--max-connections", "4", data_dir=data_dir)
        client = logged_in(server.port, user, "pw")
        self.assertEqual(client.command("STAT"), self.stat)
        self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
        return server, client

    def assert_whole_drop(self, port, user):
        with logged_in(port, user, "pw") as client:
            self.assertEqual(client.command("STAT"), self.stat)
            for n, item in enumerate(self.items, 1):
                self.assertEqual(client.listing(f"RETR {n}"), retr_reply(item.message()))
            self.assertTrue(client.command("QUIT").startswith(b"+OK"))

    def test_an_orderly_stop_gives_the_drop_back_at_once(self):
        with tempfile.TemporaryDirectory(prefix="talvex-stop-") as data_dir:
            for sig, user in ((signal.SIGTERM, "term"), (signal.SIGINT, "int")):
                with self.subTest(signal=sig):
                    server, client = self.start_session(data_dir, user)
                    self.assertEqual(server.stop(sig), 0)
                    self.assertEqual(client.closed_after(), b"", "the stop closes the session unanswered")
                    client.close()
                    self.assertEqual(self.sql(data_dir, "SELECT count(*) FROM P3Instances")[0][0], 0)
                    with Server(data_dir=data_dir) as again:
                        self.assert_whole_drop(again.port, user)
                    self.assertEqual(self.sql(data_dir, "SELECT count(*) FROM MailDropLocks"
                                                        " WHERE InstanceID IS NULL")[0][0], 0)

    def test_a_killed_servers_drop_is_back_once_its_heartbeat_is_a_minute_old(self):
        with tempfile.TemporaryDirectory(prefix="talvex-kill-") as data_dir:
            server, client = self.start_session(data_dir, "kim")
            server.stop(signal.SIGKILL)
            client.close()
            with Server(data_dir=data_dir) as again:
                with logged_in(again.port, "kim", "pw") as early:  # the dead process's beat is fresh
                    self.assertEqual(early.command("STAT"), b"+OK 0 0\r\n")
                    early.command("QUIT")
                self.sql(data_dir, age_heartbeats(server.proc.pid))
                self.assert_whole_drop(again.port, "kim")
                # The new process beats under an identifier of its own: aging the dead one's row
                # left its locks alive.
                rows = self.sql(data_dir, f"SELECT count(*) FROM P3Instances WHERE ProcessID = {again.proc.pid}"
                                          f" AND Heartbeat > {int(time.time()) - 30}")
                self.assertEqual(rows[0][0], 1)


class StopAndRestartOnPostgresql(OnPostgresqlSchema, StopAndRestart):
    """The same stops with both programs on PostgreSQL."""


if __name__ == "__main__":
    unittest.main()
