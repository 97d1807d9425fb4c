"""Real mail clients against talvex-pop3d, and what concurrent and broken sessions leave behind."""
import email
import os
import poplib
import shutil
import subprocess
import unittest

from harness import (SIGN_OFF, SLOW, Item, ServerCase, add_user, drop_holder, fetchmail, list_items,
                     logged_in)


def store_drop(data_dir, address):
    """A drop as users get it: a plain message, one with 8-bit characters, a longer one."""
    return [Item(data_dir, address, "Hello,\r\nthe meeting is at ten.\r\n", subject="Meeting",
                 sender="ann@example.net", sender_name="Ann Example"),
            Item(data_dir, address, "Café prices: 5€ each", subject="Prices", sender="cafe@example.net",
                 sender_name="The Cafe"),
            Item(data_dir, address, "\r\n".join(f"line {n}" for n in range(1, 200)), subject="Long",
                 sender="list@example.net", sender_name="List")]


class ClientTest(ServerCase):
    def assertDelivered(self, raw, item, line_end=b"\r\n"):
        """A message as a client received it: exactly what the item makes (the client's line
        ends), and a mail parser reads the stored subject and body back out of it."""
        self.assertEqual(raw[raw.index(b"Date: "):], (item.message() + b"\r\n").replace(b"\r\n", line_end))
        parsed = email.message_from_bytes(raw)
        self.assertEqual(parsed["Subject"], item.subject)
        body = parsed.get_payload(decode=True).decode(parsed.get_content_charset())
        self.assertEqual(body.replace("\r\n", "\n"), item.body.replace("\r\n", "\n") + "\n")


class MailClients(ClientTest):
    def test_poplib(self):
        address = add_user(self.data, "pia", "pw")
        items = store_drop(self.data, address)
        sizes = [len(item.message()) for item in items]
        pop = poplib.POP3("127.0.0.1", self.server.port, timeout=10 * SLOW)
        pop.user("pia")
        pop.pass_("pw")
        self.assertEqual(pop.stat(), (3, sum(sizes)))
        self.assertEqual(pop.list()[:2], (f"+OK 3 {sum(sizes)}".encode(),
                                          [f"{n} {s}".encode() for n, s in enumerate(sizes, 1)]))
        self.assertEqual(pop.uidl()[1], [f"{n} {item.uid()}".encode() for n, item in enumerate(items, 1)])
        for n, item in enumerate(items, 1):
            self.assertDelivered(b"\r\n".join(pop.retr(n)[1]) + b"\r\n", item)
        self.assertEqual(b"\r\n".join(pop.top(3, 2)[1]), items[2].header() + b"line 1\r\nline 2")
        self.assertEqual([pop.dele(1), pop.stat(), pop.rset(), pop.stat(), pop.dele(2)],
                         [b"+OK", (2, sizes[1] + sizes[2]), b"+OK", (3, sum(sizes)), b"+OK"])
        self.assertEqual(pop.quit(), SIGN_OFF.rstrip())
        self.assertEqual(self.rows(address, 0), [items[0].gwqid, items[2].gwqid])  # deleted for good

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl(self):
        items = store_drop(self.data, add_user(self.data, "cole", "pw"))
        base = f"pop3://cole:pw@127.0.0.1:{self.server.port}/"

        def curl(path):
            got = subprocess.run(["curl", "-sS", base + path], capture_output=True, timeout=60 * SLOW)
            self.assertEqual(got.returncode, 0, got.stderr)
            return got.stdout
        self.assertEqual(curl(""), b"".join(f"{n} {len(item.message())}\r\n".encode()
                                            for n, item in enumerate(items, 1)))
        for n, item in enumerate(items, 1):
            self.assertDelivered(curl(str(n)), item)
        self.server.wait_sessions_ended()
        self.assertEqual(self.rows(items[0].to), [("0", "")] * 3)

    @unittest.skipUnless(shutil.which("fetchmail"), "fetchmail is not installed")
    def test_fetchmail_keeps_then_deletes(self):
        address = add_user(self.data, "fred", "pw")
        items = store_drop(self.data, address)
        self.fetchmail("fred", items, keep=True)
        self.assertEqual(self.rows(address, 0), [item.gwqid for item in items])
        self.fetchmail("fred", items, keep=False)
        self.assertEqual(list_items(self.data, address), [])

    def fetchmail(self, user, items, keep):
        """Fetches a drop with fetchmail and checks that the items arrive in order, each as stored."""
        delivered, _ = fetchmail(self.server.port, user, f"{'keep' if keep else 'no keep'} sslproto ''")
        self.server.wait_sessions_ended()
        self.assertEqual(len(delivered), len(items))
        for raw, item in zip(delivered, items):  # after fetchmail's Received lines, LF line ends
            self.assertDelivered(raw, item, b"\n")


class SharedDrop(ClientTest):
    def test_one_session_at_a_time_holds_a_drop(self):
        address = add_user(self.data, "sam", "pw")
        stat = f"+OK 3 {sum(len(item.message()) for item in store_drop(self.data, address))}\r\n".encode()
        first = logged_in(self.server.port, "sam", "pw")
        self.assertEqual(first.command("STAT"), stat)
        second = logged_in(self.server.port, "sam", "pw")
        self.assertEqual([second.command("STAT"), second.listing("LIST")],
                         [b"+OK 0 0\r\n", b"+OK 0 0\r\n.\r\n"])
        refusal = self.server.wait_for(lambda l: l.message.startswith(
            "Unable to lock POP3 mail drop to a database connectivity error"))
        self.assertEqual(refusal.message_type, 4)
        self.assertIn(f"Mail drop {address} is locked by session", refusal.message)
        self.assertEqual(first.command("QUIT"), SIGN_OFF)
        first.close()
        # The drop a session found empty stays empty for it; a new session gets it all.
        self.assertEqual(second.command("STAT"), b"+OK 0 0\r\n")
        third = logged_in(self.server.port, "sam", "pw")
        self.assertEqual(third.command("STAT"), stat)
        # The session that held nothing gives nothing back when it ends.
        self.assertEqual(second.command("QUIT"), SIGN_OFF)
        second.close()
        self.assertEqual(third.command("STAT"), stat)
        self.assertEqual(len(drop_holder(self.data, address) or ""), 32)
        third.close()
        self.server.wait_sessions_ended()
        self.assertEqual(self.rows(address), [("0", "")] * 3)

    def test_broken_connection_mid_retr_loses_nothing(self):
        address = add_user(self.data, "kim", "pw")
        store_drop(self.data, address)
        Item(self.data, address, "".join(f"{n:07d} the quick brown fox jumps over the lazy dog\r\n"
                                         for n in range(60000)), subject="Big")  # about 3 MB

        def drop():
            with logged_in(self.server.port, "kim", "pw") as client:
                return client.command("STAT"), client.listing("LIST"), client.listing("UIDL")
        before = drop()
        self.assertEqual(before[0].split()[1], b"4")
        for received in (5, 70000):  # after the "+OK" line only, and partway through
            client = logged_in(self.server.port, "kim", "pw")
            client.send(b"RETR 4\r\n")
            self.assertEqual(client.read_exact(received)[:5], b"+OK\r\n")
            client.abort()
            self.server.wait_sessions_ended()
            self.assertEqual(self.rows(address), [("0", "")] * 4)
            self.assertEqual(drop(), before)
        with logged_in(self.server.port, "kim", "pw") as client:
            size = int(before[1].split(b"\r\n")[4].split()[1])
            self.assertEqual(len(client.listing("RETR 4")), size + 10)
            self.assertEqual(client.command("QUIT"), SIGN_OFF)


if __name__ == "__main__":
    unittest.main()
