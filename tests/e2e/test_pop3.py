"""The POP3 dialogue of talvex-pop3d over a real socket: every reply, the log lines, the states."""
import itertools
import unittest

from harness import (GREETING_RE, HOST_NAME, SIGN_OFF, Item, Pop3Client, Server, add_user,
                     list_items, logged_in, retr_reply)

HANDLER = "POP3 Server: (ServerHandler Class)"
NOT_VALID = b"-ERR Command is not valid in this state.\r\n"
OUT_OF_RANGE = b"-ERR The specified message is out of range.\r\n"
GONE = b"-ERR The specified message is no longer available; it may have been deleted.\r\n"
REFUSED = b"-ERR Logon failure: unknown username or bad password.\r\n"
CAPABILITIES = b"+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.\r\n"
MARKERS = itertools.count(1)


def unknown(line):
    return b"-ERR Unknown command '" + line.encode() + b"'.\r\n"


class ServerTest(unittest.TestCase):
    """One server with full logging for the whole class; each test makes its own users."""
    server_args = ("--logging-mode", "2")

    @classmethod
    def setUpClass(cls):
        cls.server = Server(*cls.server_args)
        cls.data = cls.server.data_dir

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self):
        client = Pop3Client(self.server.port)
        self.assertRegex(client.read_until(), GREETING_RE)
        return client

    def sync(self, client):
        """Sends a unique unknown command and waits for its log line: everything the session
        logged before it is then in the server's lines."""
        marker = f"MARK{next(MARKERS)}"
        self.assertEqual(client.command(marker), unknown(marker))
        self.server.wait_message(marker)

    def assertReplies(self, client, table):
        for line, reply in table:
            self.assertEqual(client.command(line), reply, line)

    def assertClosed(self, client):
        self.assertEqual(client.closed_after(), b"")

    def logged(self, message):
        return [l for l in self.server.lines if l.message == message]


class Authorization(ServerTest):
    def test_user_pass_log_in_and_log_lines(self):
        add_user(self.data, "bob", "s3cret")
        with self.connect() as client:
            self.assertReplies(client, [
                ("user bob", b"+OK Prove your worthiness.\r\n"),   # command words in any case
                ("USER bob", unknown("USER bob")),                 # a second USER: name kept
                ("PASS s3cret", b"+OK Well howdy pilgrim.\r\n"),
                ("USER bob", unknown("USER bob")),
                ("PASS s3cret", NOT_VALID),
                ("PASS s3cret twice", unknown("PASS s3cret twice")),
            ])
            self.sync(client)
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
            self.assertClosed(client)
        opened = self.logged("Opened session for POP3 user 'bob'")
        self.assertEqual([(l.message_type, l.source) for l in opened], [(6, HANDLER)])
        self.assertEqual([l.message_type for l in self.logged("user bob")], [7])
        self.assertEqual([l.message_type for l in self.logged("USER bob")], [7, 7])
        self.assertEqual([l.message_type for l in self.logged("PASS s3cret twice")], [7])
        # Password lines that PASS takes are never logged.
        self.assertEqual([l.raw for l in self.server.lines if "s3cret" in l.message],
                         [l.raw for l in self.logged("PASS s3cret twice")])

    def test_refused_log_ins_close_the_connection(self):
        add_user(self.data, "rob", "right")
        add_user(self.data, "dis", "right", disabled=True)
        for user, password in (("rob", "wrong"), ("nobody", "right"), ("dis", "right")):
            with self.connect() as client:
                self.assertEqual(client.command(f"USER {user}"), b"+OK Prove your worthiness.\r\n")
                self.assertEqual(client.command(f"PASS {password}"), REFUSED)
                self.assertClosed(client)
            self.server.wait_message(f"Authentication of POP3 user '{user}' failed")
            failed = self.logged(f"Authentication of POP3 user '{user}' failed")
            self.assertEqual([l.message_type for l in failed], [4], user)
        self.assertEqual(self.logged("Opened session for POP3 user 'dis'"), [])
        # One attempt per connection: the right password works on the next one, and only the
        # first word after PASS is the password.
        with self.connect() as client:
            self.assertEqual(client.command("USER rob"), b"+OK Prove your worthiness.\r\n")
            self.assertEqual(client.command("PASS right and more"), b"+OK Well howdy pilgrim.\r\n")
            self.sync(client)
        self.assertEqual(self.logged("PASS right and more"), [])

    def test_long_password_line_is_taken_by_pass(self):
        password = "p" * 60
        add_user(self.data, "lou", password)
        with logged_in(self.server.port, "lou", password) as client:
            self.assertEqual(client.command("NOOP"), b"+OK\r\n")
            self.sync(client)
        self.assertEqual([l for l in self.server.lines if password in l.message], [])

    def test_pass_outside_its_state(self):
        with self.connect() as client:
            self.assertEqual(client.command("PASS lonely"), NOT_VALID)
            self.assertEqual(client.command("PASS two words"), unknown("PASS two words"))
            self.assertEqual(client.command("pass one"), NOT_VALID)
            self.sync(client)
        self.assertEqual(self.logged("PASS lonely"), [])
        self.assertEqual(self.logged("pass one"), [])
        self.assertEqual([l.message_type for l in self.logged("PASS two words")], [7])

    def test_commands_before_log_in(self):
        add_user(self.data, "amy", "pw")
        refused_everywhere = ["STAT", "LIST", "LIST 1", "LIST x", "UIDL", "UIDL 1", "DELE 1",
                              "DELE 1 2", "RSET", "NOOP", "RETR 1", "RETR x", "TOP 1 1",
                              "TOP 1 2 3"]
        with self.connect() as client:
            for user_line in (None, "USER amy"):  # awaiting USER, then awaiting PASS
                if user_line:
                    self.assertEqual(client.command(user_line), b"+OK Prove your worthiness.\r\n")
                for line in refused_everywhere:
                    self.assertEqual(client.command(line), NOT_VALID, f"{line} after {user_line}")
                self.assertReplies(client, [
                    ("TOP 1", unknown("TOP 1")),
                    ("USER", unknown("USER")),
                    ("USER ", unknown("USER ")),
                    ("USER  amy", unknown("USER  amy")),
                    ("USER amy smith", unknown("USER amy smith")),
                    ("CAPA ", unknown("CAPA ")),
                ])
                self.assertEqual(client.listing("CAPA"), CAPABILITIES)
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
            self.assertClosed(client)
        with self.connect() as client:
            self.assertEqual(client.command("quit"), SIGN_OFF)
            self.assertClosed(client)

    def test_line_rules(self):
        add_user(self.data, "lee", "pw")
        size = len(Item(self.data, "lee@example.org", "body").message())
        with logged_in(self.server.port, "lee", "pw") as client:
            at_limit = "LIST " + "0" * 39 + "1"
            over_limit = "LIST " + "0" * 40 + "1"
            self.assertEqual(len(at_limit), 45)
            self.assertEqual(client.command(at_limit), f"+OK {at_limit[5:]} {size}\r\n".encode())
            self.assertEqual(client.command(over_limit), b"-ERR Line too long.\r\n")
            # An empty line is logged and gets no reply at all. A line ends only where a chunk
            # does, so the next command waits until the empty one has been dealt with.
            empty = self.server.count("")
            client.send(b"\r\n")
            self.server.wait_count("", empty + 1)
            self.assertReplies(client, [
                ("NOOP", b"+OK\r\n"),
                (".", unknown(".")),
                ("HELLO.", unknown("HELLO")),
            ])
            self.sync(client)
        self.assertEqual([l.message_type for l in self.logged(over_limit)], [7])
        self.assertEqual([l.message_type for l in self.logged(at_limit)], [7])


class Transaction(ServerTest):
    def make_drop(self, user):
        email = add_user(self.data, user, "pw")
        items = [
            Item(self.data, email, "Hello\r\nWorld\r\n", subject="First", sender="ann@example.net",
                 sender_name="Ann"),
            Item(self.data, email, "two", subject="Second", message_id="custom-uid-2"),
            Item(self.data, email, "x" * 100 + "\r\n", subject="Third", sender="c@example.net"),
        ]
        return email, items

    def test_stat_list_uidl_and_message_numbers(self):
        email, items = self.make_drop("tess")
        sizes = [len(item.message()) for item in items]
        uids = [item.uid() for item in items]
        self.assertEqual(uids[1], "custom-uid-2")
        full_list = (f"+OK 3 {sum(sizes)}\r\n" +
                     "".join(f"{n} {s}\r\n" for n, s in enumerate(sizes, 1)) + ".\r\n").encode()
        with logged_in(self.server.port, "tess", "pw") as client:
            self.assertEqual(client.command("STAT"), f"+OK 3 {sum(sizes)}\r\n".encode())
            self.assertEqual(client.listing("LIST"), full_list)
            self.assertEqual(client.listing("LIST 1 2"), full_list)   # two arguments: all
            self.assertEqual(client.listing("LISTING"), full_list)    # only four letters count
            self.assertEqual(client.listing("UIDL"), ("+OK\r\n" + "".join(
                f"{n} {u}\r\n" for n, u in enumerate(uids, 1)) + ".\r\n").encode())
            self.assertReplies(client, [
                ("LIST 2", f"+OK 2 {sizes[1]}\r\n".encode()),
                ("list 02", f"+OK 02 {sizes[1]}\r\n".encode()),
                ("LIST 1.5", f"+OK 1.5 {sizes[1]}\r\n".encode()),  # halves round to even
                ("LIST 2.5", f"+OK 2.5 {sizes[1]}\r\n".encode()),
                ("LIST 3.4", f"+OK 3.4 {sizes[2]}\r\n".encode()),
                ("LIST 3.5", OUT_OF_RANGE),
                ("LIST 0.5", OUT_OF_RANGE),
                ("LIST 0", OUT_OF_RANGE),
                ("LIST 4", OUT_OF_RANGE),
                ("LIST -1", OUT_OF_RANGE),
                ("LIST two", unknown("LIST two")),
                ("UIDL 1", f"+OK 1 {uids[0]}\r\n".encode()),
                ("UIDL 2", f"+OK 2 {uids[1]}\r\n".encode()),
                ("UIDL 0", OUT_OF_RANGE),
                ("UIDL 4", OUT_OF_RANGE),
                ("UIDL x", unknown("UIDL x")),
                ("NOOP", b"+OK\r\n"),
                ("PASS pw", NOT_VALID),
            ])
            self.assertEqual(client.listing("CAPA"), CAPABILITIES)
            # The drop is held by this session meanwhile.
            held = list_items(self.data, email)
            self.assertEqual({(row[1], len(row[2])) for row in held}, {("4", 32)})
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
            self.assertClosed(client)
        self.assertEqual([row[1:3] for row in list_items(self.data, email)], [("0", "")] * 3)

    def test_dele_rset_and_quit(self):
        email, items = self.make_drop("dora")
        sizes = [len(item.message()) for item in items]
        with logged_in(self.server.port, "dora", "pw") as client:
            self.assertReplies(client, [
                ("DELE 2", b"+OK\r\n"),
                ("DELE 2", GONE),
                ("LIST 2", GONE),
                ("UIDL 2", GONE),
                ("RETR 2", GONE),
                ("TOP 2 0", GONE),
                ("STAT", f"+OK 2 {sizes[0] + sizes[2]}\r\n".encode()),
                ("DELE", unknown("DELE")),   # the word alone is no DELE command
                ("DELE ", unknown("DELE ")),
                ("DELE 1 3", NOT_VALID),
                ("DELE x", unknown("DELE x")),
                ("DELE 0", OUT_OF_RANGE),
                ("DELE 4", OUT_OF_RANGE),
            ])
            # Deleted messages keep their numbers; the listings leave them out.
            self.assertEqual(client.listing("LIST"), (
                f"+OK 2 {sizes[0] + sizes[2]}\r\n1 {sizes[0]}\r\n3 {sizes[2]}\r\n.\r\n").encode())
            self.assertEqual(client.listing("UIDL"),
                             f"+OK\r\n1 {items[0].uid()}\r\n3 {items[2].uid()}\r\n.\r\n".encode())
            self.assertEqual([row[1] for row in list_items(self.data, email)], ["4", "5", "4"])
            self.assertEqual(client.command("RSET"), b"+OK\r\n")
            self.assertEqual(client.command("LIST 2"), f"+OK 2 {sizes[1]}\r\n".encode())
            self.assertReplies(client, [("DELE 1", b"+OK\r\n"), ("DELE 3.4", b"+OK\r\n")])
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
            self.assertClosed(client)
        self.assertEqual([row[0] for row in list_items(self.data, email)], [items[1].gwqid])
        with logged_in(self.server.port, "dora", "pw") as client:
            self.assertEqual(client.command("STAT"), f"+OK 1 {sizes[1]}\r\n".encode())
            self.assertEqual(client.retrieve("RETR 1"), retr_reply(items[1].message()))

    def test_empty_drop(self):
        add_user(self.data, "ed", "pw")
        with logged_in(self.server.port, "ed", "pw") as client:
            self.assertEqual(client.command("STAT"), b"+OK 0 0\r\n")
            self.assertEqual(client.listing("LIST"), b"+OK 0 0\r\n.\r\n")
            self.assertEqual(client.listing("UIDL"), b"+OK\r\n.\r\n")
            self.assertReplies(client, [
                ("LIST 1", OUT_OF_RANGE), ("UIDL 1", OUT_OF_RANGE), ("RETR 1", OUT_OF_RANGE),
                ("TOP 1 1", OUT_OF_RANGE), ("DELE 1", OUT_OF_RANGE), ("RSET", b"+OK\r\n"),
                ("NOOP", b"+OK\r\n"), ("QUIT", SIGN_OFF),
            ])
            self.assertClosed(client)


class Retrieval(ServerTest):
    def test_retr_top_and_sizes(self):
        email = add_user(self.data, "rita", "pw")
        bodies = [
            "one\r\ntwo\r\nthree",                     # no final line end
            "l1\r\nl2\r\nl3\r\nl4\r\nl5\r\n",          # five lines
            "a\nb\nc\n",                               # LF alone
            "\r\nsecond\r\nthird",                     # begins with an empty line
            "first\r\n.hidden\r\n..two dots\r\n",      # sent without byte-stuffing
            "Grüße – naïve 中文 Ωmega €\r\n",         # some characters Windows-1252 lacks
            "",
        ]
        items = [Item(self.data, email, body, subject=f"s{n}", sender="x@example.net",
                      sender_name='Quote "me"') for n, body in enumerate(bodies, 1)]
        items.append(Item(self.data, email, "smile 😀 and 中", subject="Grüße 中"))
        header = [item.header() for item in items]
        latin = b"Gr\xfc\xdfe \x96 na\xefve ?? ?mega \x80"
        top = {
            "TOP 1 0": header[0] + b".\r\n",
            "TOP 1 -1": header[0] + b"\r\n.\r\n",
            "TOP 1 1": header[0] + b"one\r\n.\r\n",
            "TOP 1 2": header[0] + b"one\r\ntwo\r\n.\r\n",
            "TOP 1 3": header[0] + b"one\r\ntwo\r\nthree\r\n.\r\n",
            "TOP 2 2": header[1] + b"l1\r\nl2\r\n.\r\n",
            "TOP 2 1.5": header[1] + b"l1\r\nl2\r\n.\r\n",
            "TOP 2 5": header[1] + b"l1\r\nl2\r\nl3\r\nl4\r\nl5\r\n.\r\n",
            "TOP 2 10": header[1] + b"l1\r\nl2\r\nl3\r\nl4\r\nl5\r\n\r\n.\r\n",
            "TOP 3 2": header[2] + b"a\r\nb\r\n.\r\n",
            "TOP 3 3": header[2] + b"a\r\nb\r\nc\r\n.\r\n",
            "TOP 3 4": header[2] + b"a\nb\nc\n\r\n.\r\n",
            "TOP 4 1": header[3] + b"\r\n.\r\n",
            "TOP 4 2": header[3] + b"\r\nsecond\r\n.\r\n",
            "TOP 5 2": header[4] + b"first\r\n.hidden\r\n.\r\n",
            "TOP 6 1": header[5] + latin + b"\r\n.\r\n",
            "TOP 6 2": header[5] + latin + b"\r\n\r\n.\r\n",
            "top 7 3": header[6] + b"\r\n.\r\n",
        }
        with logged_in(self.server.port, "rita", "pw") as client:
            listing = client.listing("LIST").split(b"\r\n")[1:-2]
            sizes = [int(line.split()[1]) for line in listing]
            for n, item in enumerate(items, 1):
                reply = client.retrieve(f"RETR {n}")
                self.assertEqual(reply[:5], b"+OK\r\n")
                self.assertEqual(reply[-5:], b"\r\n.\r\n")
                # The size is what lies between the two, also where the body ends in CR LF.
                self.assertEqual(sizes[n - 1], len(reply) - 10, f"message {n}")
                self.assertEqual(reply[5:5 + len(header[n - 1])], header[n - 1], f"message {n}")
                if n < len(items):  # how many "?" stand for a character beyond 16 bits is open
                    self.assertEqual(reply, retr_reply(item.message()), f"message {n}")
            # The exact comparison above expected these octets for message 6.
            self.assertEqual(items[5].message(), header[5] + latin + b"\r\n")
            stat = client.command("STAT").split()
            self.assertEqual(stat, [b"+OK", str(len(items)).encode(), str(sum(sizes)).encode()])
            for line, expected in top.items():
                self.assertEqual(client.retrieve(line), b"+OK\r\n" + expected, line)
            self.assertReplies(client, [
                ("TOP 1", unknown("TOP 1")),
                ("TOP 1 x", unknown("TOP 1 x")),
                ("TOP x 1", unknown("TOP x 1")),
                ("TOP 1 2 3", NOT_VALID),
                ("TOP 0 1", OUT_OF_RANGE),
                ("TOP 9 1", OUT_OF_RANGE),
                ("RETR", unknown("RETR")),
                ("RETR 1 2", NOT_VALID),
                ("RETR x", unknown("RETR x")),
                ("RETR 0", OUT_OF_RANGE),
                ("RETR 9", OUT_OF_RANGE),
            ])
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
        # Reading changes nothing.
        self.assertEqual([row[1] for row in list_items(self.data, email)], ["0"] * len(items))


class ForceDelete(ServerTest):
    # The domain also names the host in every Message-ID.
    server_args = ("--logging-mode", "2", "--force-delete", "--domain", "mail.example.org")
    host = HOST_NAME + ".mail.example.org"

    def test_retrieved_messages_go_at_quit(self):
        email = add_user(self.data, "fran", "pw")
        items = [Item(self.data, email, f"body {n}\r\n", subject=f"m{n}") for n in (1, 2, 3)]
        message = [item.message(host=self.host) for item in items]
        size = [len(m) for m in message]
        with logged_in(self.server.port, "fran", "pw") as client:
            self.assertEqual(client.retrieve("RETR 1"), retr_reply(message[0]))
            self.assertReplies(client, [
                ("RETR 1", GONE),
                ("LIST 1", GONE),
                ("RSET", b"+OK\r\n"),
                ("RETR 1", GONE),
                ("STAT", f"+OK 2 {size[1] + size[2]}\r\n".encode()),
            ])
            self.assertEqual(client.retrieve("TOP 2 0"),
                             b"+OK\r\n" + items[1].header(host=self.host) + b".\r\n")
            self.assertEqual(client.command("LIST 2"), f"+OK 2 {size[1]}\r\n".encode())
            self.assertEqual([row[1] for row in list_items(self.data, email)], ["6", "4", "4"])
            self.assertEqual(client.command("QUIT"), SIGN_OFF)
            self.assertClosed(client)
        self.assertEqual([row[0] for row in list_items(self.data, email)],
                         [items[1].gwqid, items[2].gwqid])
        # A session that ends without QUIT gives back what it retrieved.
        with logged_in(self.server.port, "fran", "pw") as client:
            self.assertEqual(client.retrieve("RETR 1"), retr_reply(message[1]))
            self.assertEqual([row[1] for row in list_items(self.data, email)], ["6", "4"])
        self.server.wait_sessions_ended()
        self.assertEqual([row[1:3] for row in list_items(self.data, email)], [("0", "")] * 2)
        with logged_in(self.server.port, "fran", "pw") as client:
            self.assertEqual(client.command("STAT"), f"+OK 2 {size[1] + size[2]}\r\n".encode())


if __name__ == "__main__":
    unittest.main()
