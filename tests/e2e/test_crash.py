"""talvex-pop3d killed with SIGKILL at a random moment of a POP3 load, then started again on the
same data: every deletion whose QUIT it acknowledged stays done, every other item is served
again byte for byte, and no session is ever served one item twice or an item already gone. On
the embedded database and, with a test cluster (scripts/with-postgresql), on PostgreSQL.

TALVEX_CRASH_TRIALS sets the number of kills per database (default 5); TALVEX_CRASH_SEED the
random seed (printed with every failure so that a failing trial can be replayed)."""
import os
import random
import signal
import sqlite3
import tempfile
import threading
import time
import unittest

from harness import SLOW, Item, Server, add_user, logged_in, retr_reply
from test_postgresql import CLUSTER, REQUIRED, psql

TRIALS = int(os.environ.get("TALVEX_CRASH_TRIALS", "5"))
SEED = int(os.environ.get("TALVEX_CRASH_SEED", str(random.randrange(1 << 30))))
USERS = 4
ITEMS = 10
LOCK_MAX_AGE = 900  # seconds after which a dead session's lock on a drop is taken over


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


# Moves the drops' locks back past their lifetime: the sessions that held them died with the
# server, and a later log-in takes a stale lock over (with the items it had claimed).
AGE_LOCKS = f"UPDATE MailDropLocks SET LockTime = LockTime - {LOCK_MAX_AGE + 60}"


class KillUnderLoad(unittest.TestCase):
    def age_locks(self, data_dir):
        with sqlite3.connect(os.path.join(data_dir, "talvex.db")) as db:
            db.execute(AGE_LOCKS)

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
        self.age_locks(data_dir)
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


class KillUnderLoadOnPostgresql(KillUnderLoad):
    """The same kills with both programs on a schema of their own (TALVEX_DB)."""

    def setUp(self):
        if not CLUSTER:
            if REQUIRED:
                self.fail("TALVEX_REQUIRE_POSTGRESQL=1 but TALVEX_TEST_POSTGRESQL is not set")
            self.skipTest("no PostgreSQL test cluster: run through scripts/with-postgresql")
        self.schema = f"crash_{os.getpid()}"
        psql(f"CREATE SCHEMA {self.schema}")
        self.addCleanup(psql, f"DROP SCHEMA {self.schema} CASCADE")
        separator = "&" if "?" in CLUSTER else "?"
        os.environ["TALVEX_DB"] = f"{CLUSTER}{separator}options=-csearch_path%3D{self.schema}"
        self.addCleanup(os.environ.pop, "TALVEX_DB", None)

    def age_locks(self, data_dir):
        psql(AGE_LOCKS.replace("MailDropLocks", f"{self.schema}.MailDropLocks"))


if __name__ == "__main__":
    unittest.main()
