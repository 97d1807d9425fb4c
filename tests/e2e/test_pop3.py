"""The POP3 dialogue of talvex-pop3d over a real socket: every reply, the log lines, the states."""
import os
import signal
import unittest

from harness import (CAPABILITIES, HANDLER, HOST_NAME, HOWDY, PROVE, SIGN_OFF, Item, Server,
                     ServerCase, add_user, damage_database, drop_holder, greeted, logged_in,
                     retr_reply, unknown)

OK = b"+OK\r\n"
NOT_VALID = b"-ERR Command is not valid in this state.\r\n"
OUT_OF_RANGE = b"-ERR The specified message is out of range.\r\n"
GONE = b"-ERR The specified message is no longer available; it may have been deleted.\r\n"
REFUSED = b"-ERR Logon failure: unknown username or bad password.\r\n"


def reply(*words):
    return (" ".join(map(str, words)) + "\r\n").encode()


def each(expected, *lines):
    return [(line, expected) for line in lines]


def unknowns(*lines):
    return [(line, unknown(line)) for line in lines]


def listing(first, rows):
    return (first + "\r\n" + "".join(f"{n} {v}\r\n" for n, v in rows) + ".\r\n").encode()


class ServerTest(ServerCase):
    def assertReplies(self, client, table):
        for line, expected in table:
            self.assertEqual(client.command(line), expected, line)

    def assertQuits(self, client, line="QUIT"):
        self.assertEqual(client.command(line), SIGN_OFF)
        self.assertEqual(client.closed_after(), b"")

    def types(self, message):
        """The message types of the log lines that carry this message."""
        return [l.message_type for l in self.server.lines if l.message == message]


class Authorization(ServerTest):
    def test_commands_before_log_in(self):
        refused = ["STAT", "LIST", "LIST 1", "LIST x", "UIDL", "UIDL 1", "DELE 1", "DELE 1 2", "RSET",
                   "NOOP", "RETR 1", "RETR x", "TOP 1 1", "TOP 1 2 3"]
        not_commands = ["TOP 1", "USER", "USER ", "USER  amy", "USER amy smith", "CAPA "]
        with greeted(self.server.port) as client:
            # PASS before USER: refused (and not logged) with one word, unknown with more.
            self.assertReplies(client, each(NOT_VALID, "PASS lonely", "pass one") +
                               unknowns("PASS two words"))
            for user_line in (None, "user amy"):  # awaiting USER, then awaiting PASS
                if user_line:
                    self.assertEqual(client.command(user_line), PROVE)
                self.assertReplies(client, each(NOT_VALID, *refused) + unknowns(*not_commands))
                self.assertEqual(client.listing("CAPA"), CAPABILITIES)
            self.assertEqual(client.command("USER amy"), unknown("USER amy"))
            self.server.sync(client)
            self.assertQuits(client)
        with greeted(self.server.port) as client:
            self.assertQuits(client, "quit")
        self.assertEqual([self.types(m) for m in ("PASS lonely", "pass one", "PASS two words", "user amy")],
                         [[], [], [7], [7]])

    def test_log_in_and_refusals(self):
        password = "p" * 60  # PASS takes its line before the length limit applies
        add_user(self.data, "rob", password)
        add_user(self.data, "dis", password, disabled=True)
        for user, attempt in (("rob", "wrong"), ("nobody", password), ("dis", password)):
            with greeted(self.server.port) as client:
                self.assertReplies(client, [(f"USER {user}", PROVE), (f"PASS {attempt}", REFUSED)])
                self.assertEqual(client.closed_after(), b"")
            failed = f"Authentication of POP3 user '{user}' failed"
            self.server.wait_message(failed)
            self.assertEqual(self.types(failed), [4])
        # One attempt per connection: the right password works on the next; only the first word
        # after PASS is the password.
        with greeted(self.server.port) as client:
            self.assertReplies(client, [("USER rob", PROVE), (f"PASS {password} and more", HOWDY),
                                        *unknowns("USER rob"), (f"PASS {password}", NOT_VALID)])
            self.server.sync(client)
            self.assertQuits(client)
        opened = [(l.message_type, l.source) for l in self.server.lines
                  if l.message == "Opened session for POP3 user 'rob'"]
        self.assertEqual(opened, [(6, HANDLER)])
        self.assertEqual(self.types("Opened session for POP3 user 'dis'"), [])
        self.assertEqual([l.raw for l in self.server.lines if password in l.raw], [])

    def test_line_rules(self):
        add_user(self.data, "lee", "pw")
        size = len(Item(self.data, "lee@example.org", "body").message())
        at_limit, over_limit = "LIST " + "0" * 39 + "1", "LIST " + "0" * 40 + "1"  # 45, 46 long
        with logged_in(self.server.port, "lee", "pw") as client:
            self.assertReplies(client, [(at_limit, reply("+OK", at_limit[5:], size)),
                                        (over_limit, b"-ERR Line too long.\r\n")])
            # An empty line is logged and gets no reply at all. A line ends only where a chunk
            # does, so the next command waits until the empty one has been dealt with.
            empty = self.server.count("")
            client.send(b"\r\n")
            self.server.wait_count("", empty + 1)
            self.assertReplies(client, [("NOOP", OK), *unknowns("."), ("HELLO.", unknown("HELLO"))])
            self.server.sync(client)
        self.assertEqual([self.types(at_limit), self.types(over_limit)], [[7], [7]])


class Transaction(ServerTest):
    def make_drop(self, user):
        email = add_user(self.data, user, "pw")
        items = [Item(self.data, email, "Hello\r\nWorld\r\n", subject="First", sender="ann@example.net",
                      sender_name="Ann"),
                 Item(self.data, email, "two", subject="Second", message_id="custom-uid-2"),
                 Item(self.data, email, "x" * 100 + "\r\n", subject="Third", sender="c@example.net")]
        return email, items, [len(item.message()) for item in items]

    def test_stat_list_uidl_and_message_numbers(self):
        email, items, sizes = self.make_drop("tess")
        with logged_in(self.server.port, "tess", "pw") as client:
            self.assertEqual(client.command("STAT"), reply("+OK", 3, sum(sizes)))
            for line in ("LIST", "LIST 1 2", "LISTING"):  # two arguments list all; four letters count
                self.assertEqual(client.listing(line), listing(f"+OK 3 {sum(sizes)}", enumerate(sizes, 1)))
            self.assertEqual(client.listing("UIDL"), listing("+OK", enumerate((i.uid() for i in items), 1)))
            self.assertEqual(client.listing("CAPA"), CAPABILITIES)
            self.assertReplies(client, [
                ("LIST 2", reply("+OK 2", sizes[1])), ("list 02", reply("+OK 02", sizes[1])),
                # Message numbers round half to even.
                ("LIST 1.5", reply("+OK 1.5", sizes[1])), ("LIST 2.5", reply("+OK 2.5", sizes[1])),
                ("LIST 3.4", reply("+OK 3.4", sizes[2])),
                *each(OUT_OF_RANGE, "LIST 3.5", "LIST 0.5", "LIST 0", "LIST 4", "LIST -1", "UIDL 0",
                      "UIDL 4"),
                ("UIDL 1", reply("+OK 1", items[0].uid())), ("UIDL 2", b"+OK 2 custom-uid-2\r\n"),
                *unknowns("LIST two", "UIDL x", "USER tess"),
                ("NOOP", OK), ("PASS pw", NOT_VALID),
            ])
            # The drop is held by this session meanwhile, through its lock alone: no item is
            # written until the session marks it.
            self.assertEqual(len(drop_holder(self.data, email) or ""), 32)
            self.assertEqual(self.rows(email), [("0", "")] * 3)
            self.assertQuits(client)
        self.assertEqual(self.rows(email), [("0", "")] * 3)

    def test_dele_rset_and_quit(self):
        email, items, sizes = self.make_drop("dora")
        with logged_in(self.server.port, "dora", "pw") as client:
            self.assertReplies(client, [
                ("DELE 2", OK), *each(GONE, "DELE 2", "LIST 2", "UIDL 2", "RETR 2", "TOP 2 0"),
                ("STAT", reply("+OK 2", sizes[0] + sizes[2])), *unknowns("DELE", "DELE ", "DELE x"),
                ("DELE 1 3", NOT_VALID), *each(OUT_OF_RANGE, "DELE 0", "DELE 4"),
            ])
            # Deleted messages keep their numbers; the listings leave them out.
            self.assertEqual(client.listing("LIST"),
                             listing(f"+OK 2 {sizes[0] + sizes[2]}", [(1, sizes[0]), (3, sizes[2])]))
            self.assertEqual(client.listing("UIDL"),
                             listing("+OK", [(1, items[0].uid()), (3, items[2].uid())]))
            self.assertEqual(self.rows(email, 1), ["0", "5", "0"])
            self.assertReplies(client, [("RSET", OK), ("LIST 2", reply("+OK 2", sizes[1])), ("DELE 1", OK),
                                        ("DELE 3.4", OK)])
            self.assertQuits(client)
        self.assertEqual(self.rows(email, 0), [items[1].gwqid])
        with logged_in(self.server.port, "dora", "pw") as client:
            self.assertEqual(client.command("STAT"), reply("+OK 1", sizes[1]))
            self.assertEqual(client.listing("RETR 1"), retr_reply(items[1].message()))

    def test_empty_drop(self):
        add_user(self.data, "ed", "pw")
        with logged_in(self.server.port, "ed", "pw") as client:
            self.assertEqual([client.listing("LIST"), client.listing("UIDL")],
                             [b"+OK 0 0\r\n.\r\n", b"+OK\r\n.\r\n"])
            self.assertReplies(client, [("STAT", b"+OK 0 0\r\n"), ("RSET", OK), ("NOOP", OK), *each(
                OUT_OF_RANGE, "LIST 1", "UIDL 1", "RETR 1", "TOP 1 1", "DELE 1")])
            self.assertQuits(client)


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
        head = [item.header() for item in items]
        latin = b"Gr\xfc\xdfe \x96 na\xefve ?? ?mega \x80"
        five = b"l1\r\nl2\r\nl3\r\nl4\r\nl5\r\n"
        top = {  # what TOP n k sends after the header block of message n
            "TOP 1 0": b"", "TOP 1 -1": b"\r\n", "TOP 1 1": b"one\r\n", "TOP 1 3": b"one\r\ntwo\r\nthree\r\n",
            "TOP 2 2": five[:8], "TOP 2 1.5": five[:8], "TOP 2 5": five, "TOP 2 10": five + b"\r\n",
            "TOP 3 2": b"a\r\nb\r\n", "TOP 3 3": b"a\r\nb\r\nc\r\n", "TOP 3 4": b"a\nb\nc\n\r\n",
            "TOP 4 1": b"\r\n", "TOP 4 2": b"\r\nsecond\r\n", "TOP 5 2": b"first\r\n.hidden\r\n",
            "TOP 6 1": latin + b"\r\n", "TOP 6 2": latin + b"\r\n\r\n", "top 7 3": b"\r\n",
        }
        with logged_in(self.server.port, "rita", "pw") as client:
            sizes = [int(line.split()[1]) for line in client.listing("LIST").split(b"\r\n")[1:-2]]
            for n, item in enumerate(items, 1):
                got = client.listing(f"RETR {n}")
                # The size is what lies between "+OK" CR LF and CR LF ".", also where the body
                # ends in CR LF. How many "?" stand for a character beyond 16 bits is open.
                self.assertEqual(sizes[n - 1], len(got) - 10, n)
                if n < len(items):
                    self.assertEqual(got, retr_reply(item.message()), n)
                self.assertEqual(got[:5 + len(head[n - 1])], b"+OK\r\n" + head[n - 1], n)
            self.assertEqual(client.command("STAT"), reply("+OK", len(items), sum(sizes)))
            for line, lines in top.items():
                expected = OK + head[int(line.split()[1]) - 1] + lines + b".\r\n"
                self.assertEqual(client.listing(line), expected, line)
            self.assertReplies(client, [
                *unknowns("TOP 1", "TOP 1 x", "TOP x 1", "RETR", "RETR x"),
                *each(NOT_VALID, "TOP 1 2 3", "RETR 1 2"),
                *each(OUT_OF_RANGE, "TOP 0 1", "TOP 9 1", "RETR 0", "RETR 9"),
            ])
            self.assertQuits(client)
        self.assertEqual(self.rows(email, 1), ["0"] * len(items))  # reading changes nothing


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
            self.assertEqual(client.listing("RETR 1"), retr_reply(message[0]))
            self.assertReplies(client, [("RETR 1", GONE), ("LIST 1", GONE), ("RSET", OK), ("RETR 1", GONE),
                                        ("STAT", reply("+OK 2", size[1] + size[2])),
                                        ("LIST 2", reply("+OK 2", size[1]))])
            self.assertEqual(client.listing("TOP 2 0"), OK + items[1].header(host=self.host) + b".\r\n")
            self.assertEqual(self.rows(email, 1), ["6", "0", "0"])
            self.assertQuits(client)
        self.assertEqual(self.rows(email, 0), [items[1].gwqid, items[2].gwqid])
        # A session that ends without QUIT gives back what it retrieved.
        with logged_in(self.server.port, "fran", "pw") as client:
            self.assertEqual(client.listing("RETR 1"), retr_reply(message[1]))
            self.assertEqual(self.rows(email, 1), ["6", "0"])
        self.server.wait_sessions_ended()
        self.assertEqual(self.rows(email), [("0", "")] * 2)
        with logged_in(self.server.port, "fran", "pw") as client:
            self.assertEqual(client.command("STAT"), reply("+OK 2", size[1] + size[2]))


    def test_a_message_larger_than_one_piece_goes_out_whole_and_marked(self):
        email = add_user(self.data, "lars", "pw")
        # About 1.4 MB: lines of every length, non-ASCII text and dots that begin lines.
        body = "".join(f"line {n} caf\u00e9 .{'x' * (n % 200)}\r\n.{n}\r\n" for n in range(12000))
        item = Item(self.data, email, body, subject="Large")
        with logged_in(self.server.port, "lars", "pw") as client:
            self.assertEqual(client.listing("TOP 1 2"),
                             OK + item.header(host=self.host) + b"line 0 caf\xe9 .\r\n.0\r\n.\r\n")
            self.assertEqual(client.listing("RETR 1"), retr_reply(item.message(host=self.host)))
            self.assertEqual(self.rows(email, 1), ["6"])
            self.assertEqual(client.command("RETR 1"), GONE)
            self.assertQuits(client)
        self.assertEqual(self.rows(email), [])


class InternalError(ServerTest):
    def test_a_failing_database_ends_the_session_with_the_internal_error_reply(self):
        add_user(self.data, "gil", "pw")
        damage_database(self.data)
        with greeted(self.server.port) as client:
            self.assertEqual(client.command("USER gil"), PROVE)
            self.assertEqual(client.command("PASS pw"),
                             b"-ERR Internal server error occured. Closing transmission channel\r\n")
            self.assertEqual(client.closed_after(), b"")
        error = self.server.wait_for(lambda l: l.message.startswith("SMS_Quillon: -2147220988. "))
        self.assertEqual(error.message_type, 7)
        self.assertIn("not a database", error.message)
        # The session's line is detail; the damaged file itself is reported once, as a failure
        # that the default logging mode shows.
        fault = self.server.wait_for(lambda l: l.message.startswith("The database '"))
        self.assertEqual(fault.message_type, 4)
        self.assertRegex(fault.message, r"talvex\.db' is damaged: .*not a database")
        self.server.wait_message("POP3 server socket 0 destroyed")


class KilledServer(unittest.TestCase):
    """What a server killed outright leaves in the embedded database for the next one."""

    def test_a_deletion_confirmed_by_quit_survives_and_the_rest_is_served_again(self):
        with Server() as first:
            email = add_user(first.data_dir, "kit", "pw")
            items = [Item(first.data_dir, email, body=f"message {n}\r\n", subject=f"m{n}") for n in (1, 2, 3)]
            with logged_in(first.port, "kit", "pw") as client:
                self.assertEqual(client.command("DELE 2"), OK)
                self.assertEqual(client.command("QUIT"), SIGN_OFF)
            first.proc.send_signal(signal.SIGKILL)
            first.proc.wait()
            with Server("--db", "sqlite:" + os.path.join(first.data_dir, "talvex.db")) as second:
                kept = [items[0], items[2]]
                with logged_in(second.port, "kit", "pw") as client:
                    self.assertEqual(client.command("STAT"),
                                     reply("+OK 2", sum(len(item.message()) for item in kept)))
                    self.assertEqual(client.listing("UIDL"),
                                     listing("+OK", enumerate((item.uid() for item in kept), 1)))
                    self.assertEqual(client.listing("RETR 2"), retr_reply(items[2].message()))
                    self.assertEqual(client.command("QUIT"), SIGN_OFF)


if __name__ == "__main__":
    unittest.main()
