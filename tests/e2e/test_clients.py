"""Real mail clients against talvex-pop3d, and what concurrent and broken sessions leave behind."""
import email
import email.policy
import getpass
import os
import poplib
import shutil
import subprocess
import tempfile
import unittest

from harness import SIGN_OFF, SLOW, Item, Pop3Client, Server, add_user, list_items, logged_in


def store_drop(data_dir, address):
    """A drop as users get it: a plain message, one with 8-bit characters, a longer one."""
    return [
        Item(data_dir, address, "Hello,\r\nthe meeting is at ten.\r\n", subject="Meeting",
             sender="ann@example.net", sender_name="Ann Example"),
        Item(data_dir, address, "Café prices: 5€ each", subject="Prices",
             sender="cafe@example.net", sender_name="The Cafe"),
        Item(data_dir, address, "\r\n".join(f"line {n}" for n in range(1, 200)), subject="Long",
             sender="list@example.net", sender_name="List"),
    ]


class ClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("--logging-mode", "2")
        cls.data = cls.server.data_dir

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def assertDelivered(self, raw, item):
        """A message as a client received it carries the stored subject, addresses and body."""
        parsed = email.message_from_bytes(raw, policy=email.policy.compat32)
        self.assertEqual(parsed["Subject"], item.subject)
        self.assertEqual(parsed["From"], f'"{item.sender_name}" <{item.sender}>')
        self.assertEqual(parsed["To"], f"<{item.to}>")
        body = parsed.get_payload(decode=True).decode(parsed.get_content_charset())
        # The server ends the last line before the final "." itself; a body's own line ends
        # stay as they are.
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
        response, listing, _ = pop.list()
        self.assertEqual(response, f"+OK 3 {sum(sizes)}".encode())
        self.assertEqual(listing, [f"{n} {s}".encode() for n, s in enumerate(sizes, 1)])
        self.assertEqual(pop.uidl()[1],
                         [f"{n} {item.uid()}".encode() for n, item in enumerate(items, 1)])
        for n, item in enumerate(items, 1):
            _, lines, _ = pop.retr(n)
            self.assertEqual(b"\r\n".join(lines) + b"\r\n", item.message() + b"\r\n")
            self.assertDelivered(b"\r\n".join(lines) + b"\r\n", item)
        _, lines, _ = pop.top(3, 2)
        self.assertEqual(b"\r\n".join(lines), items[2].header() + b"line 1\r\nline 2")
        self.assertEqual(pop.dele(1), b"+OK")
        self.assertEqual(pop.stat(), (2, sizes[1] + sizes[2]))
        self.assertEqual(pop.rset(), b"+OK")
        self.assertEqual(pop.stat(), (3, sum(sizes)))
        self.assertEqual(pop.dele(2), b"+OK")
        self.assertEqual(pop.quit(), SIGN_OFF.rstrip())
        # Deleted for good: gone from the database and from the next session.
        self.assertEqual([row[0] for row in list_items(self.data, address)],
                         [items[0].gwqid, items[2].gwqid])
        pop = poplib.POP3("127.0.0.1", self.server.port, timeout=10 * SLOW)
        pop.user("pia")
        pop.pass_("pw")
        self.assertEqual(pop.stat(), (2, sizes[0] + sizes[2]))
        pop.quit()

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl(self):
        address = add_user(self.data, "cole", "pw")
        items = store_drop(self.data, address)
        base = f"pop3://cole:pw@127.0.0.1:{self.server.port}/"
        listing = subprocess.run(["curl", "-sS", base], capture_output=True, timeout=60 * SLOW)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertEqual(listing.stdout, b"".join(
            f"{n} {len(item.message())}\r\n".encode() for n, item in enumerate(items, 1)))
        for n, item in enumerate(items, 1):
            got = subprocess.run(["curl", "-sS", base + str(n)], capture_output=True,
                                 timeout=60 * SLOW)
            self.assertEqual(got.returncode, 0, got.stderr)
            self.assertEqual(got.stdout, item.message() + b"\r\n")
            self.assertDelivered(got.stdout, item)
        self.server.wait_sessions_ended()
        self.assertEqual([row[1:3] for row in list_items(self.data, address)], [("0", "")] * 3)

    @unittest.skipUnless(shutil.which("fetchmail"), "fetchmail is not installed")
    def test_fetchmail_keeps_then_deletes(self):
        address = add_user(self.data, "fred", "pw")
        items = store_drop(self.data, address)
        self.assertEqual(self.fetchmail("fred", "pw", items, keep=True), items)
        self.assertEqual([row[0] for row in list_items(self.data, address)],
                         [item.gwqid for item in items])
        self.assertEqual(self.fetchmail("fred", "pw", items, keep=False), items)
        self.assertEqual(list_items(self.data, address), [])

    def fetchmail(self, user, password, items, keep):
        """Fetches a drop with fetchmail, one file per message; returns the items received,
        in the order of delivery, each checked against what was stored."""
        with tempfile.TemporaryDirectory(prefix="talvex-fetchmail-") as home:
            maildir = os.path.join(home, "mail")
            os.mkdir(maildir)
            rc = os.path.join(home, "fetchmailrc")
            with open(rc, "w") as f:
                # No TLS on loopback; no header rewriting; file names sort in delivery order.
                f.write(f"set no bouncemail\nset no syslog\n"
                        f"poll 127.0.0.1 protocol pop3 port {self.server.port}"
                        f" timeout {30 * SLOW}\n"
                        f'  user "{user}" there with password "{password}"'
                        f' is "{getpass.getuser()}" here\n'
                        f"  {'keep' if keep else 'no keep'} fetchall no rewrite sslproto ''\n"
                        f'  mda "cat > {maildir}/$(date +%s%N)"\n')
            os.chmod(rc, 0o600)
            env = dict(os.environ, HOME=home, FETCHMAILHOME=home)
            run = subprocess.run(["fetchmail", "-f", rc, "-v"], capture_output=True, text=True,
                                 env=env, timeout=120 * SLOW)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            delivered = []
            for name in sorted(os.listdir(maildir)):
                with open(os.path.join(maildir, name), "rb") as f:
                    delivered.append(f.read())
        self.server.wait_sessions_ended()
        by_subject = {item.subject: item for item in items}
        received = []
        for raw in delivered:
            item = by_subject[email.message_from_bytes(raw)["Subject"]]
            # fetchmail puts its Received lines first and delivers with LF line ends.
            self.assertEqual(raw[raw.index(b"Date: "):],
                             (item.message() + b"\r\n").replace(b"\r\n", b"\n"))
            self.assertDelivered(raw, item)
            received.append(item)
        return received


class SharedDrop(ClientTest):
    def test_one_session_at_a_time_holds_a_drop(self):
        address = add_user(self.data, "sam", "pw")
        items = store_drop(self.data, address)
        stat = f"+OK 3 {sum(len(item.message()) for item in items)}\r\n".encode()
        first = logged_in(self.server.port, "sam", "pw")
        self.assertEqual(first.command("STAT"), stat)
        second = logged_in(self.server.port, "sam", "pw")
        self.assertEqual(second.command("STAT"), b"+OK 0 0\r\n")
        self.assertEqual(second.listing("LIST"), b"+OK 0 0\r\n.\r\n")
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
        self.assertEqual({row[1] for row in list_items(self.data, address)}, {"4"})
        third.close()
        self.server.wait_sessions_ended()
        self.assertEqual([row[1:3] for row in list_items(self.data, address)], [("0", "")] * 3)

    def test_broken_connection_mid_retr_loses_nothing(self):
        address = add_user(self.data, "kim", "pw")
        items = store_drop(self.data, address)
        items.append(Item(self.data, address, "".join(
            f"{n:07d} the quick brown fox jumps over the lazy dog\r\n" for n in range(60000)),
            subject="Big"))  # about 3 MB
        with logged_in(self.server.port, "kim", "pw") as client:
            before = (client.command("STAT"), client.listing("LIST"), client.listing("UIDL"))
        self.assertEqual(before[0].split()[1], b"4")
        for received in (5, 70000):  # after the "+OK" line only, and partway through
            client = logged_in(self.server.port, "kim", "pw")
            client.send(b"RETR 4\r\n")
            self.assertEqual(client.read_exact(received)[:5], b"+OK\r\n")
            client.abort()
            self.server.wait_sessions_ended()
            self.assertEqual([row[1:3] for row in list_items(self.data, address)], [("0", "")] * 4)
            with logged_in(self.server.port, "kim", "pw") as again:
                self.assertEqual((again.command("STAT"), again.listing("LIST"),
                                  again.listing("UIDL")), before)
        with logged_in(self.server.port, "kim", "pw") as client:
            client.send(b"RETR 4\r\n")
            self.assertEqual(client.read_until(), b"+OK\r\n")
            size = int(before[1].split(b"\r\n")[4].split()[1])
            self.assertEqual(client.read_exact(size + 5)[-5:], b"\r\n.\r\n")
            self.assertEqual(client.command("QUIT"), SIGN_OFF)


if __name__ == "__main__":
    unittest.main()
