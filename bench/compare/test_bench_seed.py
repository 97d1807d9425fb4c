"""talvex-bench-seed against the real server: what it stores is what talvex-admin stores, and
every item is served at exactly the size it was asked for."""
import os
import sqlite3
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tests/e2e"))
import harness  # noqa: E402

SEED = os.path.join(harness.BIN_DIR, "talvex-bench-seed")


def seed(data_dir, *args):
    return subprocess.run([SEED, "--data-dir", data_dir, "--host-name", harness.HOST_NAME, *args],
                          capture_output=True, text=True, timeout=120)


def checked_seed(data_dir, *args):
    run = seed(data_dir, *args)
    if run.returncode != 0:
        raise AssertionError(f"talvex-bench-seed {args}: {run.stderr.strip()}")


def stored_message(retr):
    """Header block and stored body from a RETR reply: what LIST counts. (The server ends the
    reply with CR LF "." CR LF after the body, whether or not the body ends with CR LF.)"""
    assert retr.startswith(b"+OK\r\n") and retr.endswith(b"\r\n.\r\n"), retr[:60]
    return retr[5:-5]


def header_fields(message):
    head = message[:message.index(b"\r\n\r\n")].decode("cp1252")
    return dict(line.split(": ", 1) for line in head.split("\r\n"))


def stored_rows(data_dir):
    """Every column the writer chooses (not the row's number nor the time it was queued)."""
    with sqlite3.connect(os.path.join(data_dir, "talvex.db")) as db:
        return db.execute("SELECT DTReceived, Source, MessageID, Content, FromAddress, FromName, "
                          "ToAddress, Subject, BodyLength, Direction, RawData, Transport, Status, "
                          "SessionID, Body FROM GatewayItems JOIN GatewayBodies USING (GWQID) "
                          "ORDER BY GWQID").fetchall()


class SeededItems(unittest.TestCase):
    def setUp(self):
        self.server = harness.Server()
        self.addCleanup(self.server.stop)
        self.data = self.server.data_dir

    def drop(self, user):
        """(sizes from LIST, stored messages from RETR, uids from UIDL) of the user's drop."""
        with harness.logged_in(self.server.port, user, "pw") as client:
            listing = client.listing("LIST").split(b"\r\n")[1:-2]
            sizes = [int(row.split()[1]) for row in listing]
            uids = [row.split()[1] for row in client.listing("UIDL").split(b"\r\n")[1:-2]]
            messages = [stored_message(client.listing(f"RETR {n}")) for n in range(1, len(sizes) + 1)]
            client.command("QUIT")
        return sizes, messages, uids

    def test_an_item_is_stored_as_talvex_admin_stores_it(self):
        checked_seed(self.data, "--users", "1", "--messages", "1", "--size", "4096")
        _, [seeded], _ = self.drop("user1")
        fields = header_fields(seeded)
        sender_name, sender = fields["From"][1:-1].split('" <')
        body = seeded[seeded.index(b"\r\n\r\n") + 4:]
        with tempfile.NamedTemporaryFile("wb") as f:
            f.write(body)
            f.flush()
            harness.checked_admin(self.data, "item", "add", "--to", "user1@example.org", "--from", sender,
                                  "--from-name", sender_name, "--subject", fields["Subject"], "--date",
                                  fields["Date"], "--body-file", f.name)
        seeded_row, added_row = stored_rows(self.data)
        self.assertEqual(seeded_row, added_row)
        sizes, [first, second], uids = self.drop("user1")
        self.assertEqual(first, second)
        self.assertEqual(first, seeded)
        self.assertEqual(sizes, [4096, 4096])
        self.assertEqual(uids[0], uids[1])  # the same header block digests alike

    def test_every_item_has_the_size_asked_for(self):
        for user, size in enumerate([600, 4096, 4097, 65539, 1 << 20], start=1):
            with self.subTest(size=size):
                checked_seed(self.data, "--first-user", str(user), "--users", "1", "--messages", "3",
                             "--size", str(size))
                sizes, messages, uids = self.drop(f"user{user}")
                self.assertEqual(sizes, [size] * 3)
                self.assertEqual([len(m) for m in messages], [size] * 3)
                self.assertTrue(all(m.endswith(b"\r\n") for m in messages))
                self.assertEqual(len(set(uids)), 3)

    def test_many_users_each_with_their_own_drop(self):
        checked_seed(self.data, "--first-user", "5", "--users", "3", "--messages", "2", "--size", "1000")
        for user in (5, 6, 7):
            sizes, messages, _ = self.drop(f"user{user}")
            self.assertEqual(sizes, [1000, 1000])
            self.assertEqual({header_fields(m)["To"] for m in messages}, {f"<user{user}@example.org>"})
        with harness.greeted(self.server.port) as client:
            client.command("USER user8")
            self.assertTrue(client.command("PASS pw").startswith(b"-ERR"))

    def test_a_size_below_the_header_block_is_refused(self):
        run = seed(self.data, "--users", "1", "--messages", "1", "--size", "200")
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("too small", run.stderr)
        self.assertEqual(stored_rows(self.data), [])


if __name__ == "__main__":
    unittest.main()
