"""The dialogue of the mail standards that talvex-pop3d offers on request, each behaviour held to
the words of its RFC: byte-stuffing (RFC 1939 section 3), 255-octet command lines (RFC 2449),
the autologout timer (RFC 1939 section 3), response codes (RFC 2449, RFC 3206) and "+OK" to PASS
only once the drop is locked (RFC 1939 section 4)."""
import os
import poplib
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

from harness import (CAPABILITIES, PROVE, SLOW, Item, Server, ServerCase, add_user, checked_admin,
                     damage_database, drop_holder, fetchmail, greeted, logged_in, retr_reply, unknown)

SERVICE_KEY = r"Software\Corvath\Talvex\Services\POP3 Service"
CAPA_WITH_CODES = b"+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\nRESP-CODES\r\nAUTH-RESP-CODE\r\n.\r\n"
# Lines that read as the end of a reply, or as a stuffed line, when sent as they are.
DOTTED_BODY = ".starts with a dot\r\nbefore\r\n.\r\n..two dots\r\n...\r\nbare\n.after LF\r\nlast"


def stuffed(message):
    """The message as RFC 1939 puts it on the wire: every line that begins with "." gets one more."""
    lines = message.split(b"\n")
    return b"\n".join(b"." + line if line.startswith(b".") else line for line in lines)


class DotStuffing(ServerCase):
    server_args = ("--logging-mode", "2", "--rfc-strict")

    def test_body_with_dot_lines_arrives_intact_through_poplib(self):
        item = Item(self.data, add_user(self.data, "dot", "pw"), DOTTED_BODY, subject="Dots")
        pop = poplib.POP3("127.0.0.1", self.server.port, timeout=10 * SLOW)
        pop.user("dot")
        pop.pass_("pw")
        # "The size of a message is the octets of the message": the added dots are not counted.
        self.assertEqual(pop.list(1), f"+OK 1 {len(item.message())}".encode())
        self.assertEqual(pop.stat(), (1, len(item.message())))
        # poplib splits at LF alone and takes off one dot of every line that begins with two.
        self.assertEqual(b"\r\n".join(pop.retr(1)[1]), item.message().replace(b"\r\n", b"\n").replace(
            b"\n", b"\r\n"))
        self.assertEqual(b"\r\n".join(pop.top(1, 3)[1]),
                         item.header() + b".starts with a dot\r\nbefore\r\n.")
        pop.quit()

    def test_raw_retr_and_top_carry_every_stuffed_line(self):
        item = Item(self.data, add_user(self.data, "raw", "pw"), DOTTED_BODY, subject=".dotted subject")
        with logged_in(self.server.port, "raw", "pw") as client:
            self.assertEqual(client.listing("RETR 1"), retr_reply(stuffed(item.message())))
            self.assertEqual(client.listing("TOP 1 0"), b"+OK\r\n" + item.header() + b".\r\n")
            self.assertEqual(client.listing("TOP 1 4"),
                             b"+OK\r\n" + item.header() + b"..starts with a dot\r\nbefore\r\n..\r\n...two dots\r\n.\r\n")

    def test_message_larger_than_one_piece_is_stuffed_throughout(self):
        body = "".join(f".{n}\r\n{'y' * (n % 300)}\n..\r\n" for n in range(10000))  # about 1.6 MB
        item = Item(self.data, add_user(self.data, "big", "pw"), body, subject="Large")
        with logged_in(self.server.port, "big", "pw") as client:
            self.assertEqual(client.listing("RETR 1"), retr_reply(stuffed(item.message())))

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_body_with_dot_lines_arrives_intact_through_curl(self):
        body = DOTTED_BODY.replace("\n", "\r\n").replace("\r\r\n", "\r\n")  # curl reads CR LF lines
        item = Item(self.data, add_user(self.data, "curly", "pw"), body, subject="Dots")
        got = subprocess.run(["curl", "-sS", f"pop3://curly:pw@127.0.0.1:{self.server.port}/1"],
                             capture_output=True, timeout=60 * SLOW)
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertEqual(got.stdout, item.message() + b"\r\n")


    @unittest.skipUnless(shutil.which("fetchmail"), "fetchmail is not installed")
    def test_body_with_dot_lines_arrives_intact_through_fetchmail(self):
        item = Item(self.data, add_user(self.data, "fetch", "pw"), DOTTED_BODY, subject="Dots")
        (delivered,), _ = fetchmail(self.server.port, "fetch", "keep sslproto ''")
        # After fetchmail's Received lines, the message as stored, with LF line ends.
        self.assertTrue(delivered.endswith(item.message().replace(b"\r\n", b"\n") + b"\n"), delivered)


class LongLines(ServerCase):
    server_args = ("--logging-mode", "2", "--long-lines")

    def test_255_octets_with_crlf_accepted_256_refused(self):
        with greeted(self.server.port) as client:
            at_limit, over_limit = "X" * 253, "X" * 254  # 255 and 256 octets with CR LF
            self.assertEqual(client.command(at_limit), unknown(at_limit))
            self.assertEqual(client.command(over_limit), b"-ERR Line too long.\r\n")
            # A USER line of full length is read as such, not cut.
            user = "USER " + "u" * 248
            self.assertEqual(client.command(user), PROVE)
            self.assertEqual(client.listing("CAPA"), CAPABILITIES)  # nothing to announce for it


class Capabilities(unittest.TestCase):
    def test_capa_lists_exactly_what_is_enabled(self):
        for args, expected in ((("--dot-stuffing", "--long-lines", "--lock-before-ok"), CAPABILITIES),
                               (("--resp-codes",), CAPA_WITH_CODES), (("--rfc-strict",), CAPA_WITH_CODES)):
            with Server(*args) as server, greeted(server.port) as client:
                self.assertEqual(client.listing("CAPA"), expected, args)

    def test_registry_switch_turns_on_the_whole_dialogue(self):
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as data:
            checked_admin(data, "reg", "set", SERVICE_KEY, "RFCStrict", "1")
            with Server(data_dir=data) as server, greeted(server.port) as client:
                self.assertEqual(client.listing("CAPA"), CAPA_WITH_CODES)
                self.assertEqual(client.command("X" * 200), unknown("X" * 200))
            checked_admin(data, "reg", "set", SERVICE_KEY, "RFCStrict", "0")
            with Server(data_dir=data) as server, greeted(server.port) as client:
                self.assertEqual(client.listing("CAPA"), CAPABILITIES)


class ResponseCodes(ServerCase):
    server_args = ("--logging-mode", "2", "--resp-codes", "--lock-before-ok")

    def test_failed_credential_is_auth(self):
        add_user(self.data, "ana", "pw")
        with greeted(self.server.port) as client:
            self.assertEqual(client.command("USER ana"), PROVE)
            self.assertEqual(client.command("PASS wrong"),
                             b"-ERR [AUTH] Logon failure: unknown username or bad password.\r\n")
            self.assertEqual(client.closed_after(), b"")

    def test_locked_drop_is_in_use_and_ok_follows_the_lock(self):
        email = add_user(self.data, "lou", "pw")
        size = len(Item(self.data, email, "held").message())
        with logged_in(self.server.port, "lou", "pw") as holder:
            # "+OK" has come: the drop is this session's already, with no command after it.
            holder_session = drop_holder(self.data, email)
            self.assertEqual(len(holder_session or ""), 32)
            with greeted(self.server.port) as second:
                self.assertEqual(second.command("USER lou"), PROVE)
                self.assertEqual(second.command("PASS pw"), b"-ERR [IN-USE] Unable to lock the mail drop.\r\n")
                self.assertEqual(second.closed_after(), b"")
            self.assertEqual(drop_holder(self.data, email), holder_session)  # the holder keeps its drop
            self.assertEqual(holder.command("STAT"), f"+OK 1 {size}\r\n".encode())


class SystemFailure(ServerCase):
    server_args = ("--logging-mode", "2", "--resp-codes")

    def test_a_failing_database_is_sys_temp(self):
        add_user(self.data, "gus", "pw")
        damage_database(self.data)
        with greeted(self.server.port) as client:
            self.assertEqual(client.command("USER gus"), PROVE)
            self.assertEqual(client.command("PASS pw"), b"-ERR [SYS/TEMP] Internal server error occured. "
                                                        b"Closing transmission channel\r\n")
            self.assertEqual(client.closed_after(), b"")


class InactivityTimer(ServerCase):
    server_args = ("--logging-mode", "2", "--inactivity-timer", "2")

    def test_commands_reset_the_timer_and_silence_closes_without_reply(self):
        email = add_user(self.data, "ivy", "pw")
        Item(self.data, email, "kept")
        with logged_in(self.server.port, "ivy", "pw") as client:
            started = time.monotonic()
            self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
            while time.monotonic() - started < 3.5:  # well past the timer, one command at a time
                time.sleep(0.7)
                self.assertEqual(client.command("NOOP"), b"+OK\r\n")
            # Quiet now: closed without a reply, and nothing marked is removed.
            self.assertEqual(client.closed_after(), b"")
            self.assertGreaterEqual(time.monotonic() - started, 3.5)
        self.server.wait_message("Inactivity time limit reached, closing socket 0")
        self.server.wait_sessions_ended()
        self.assertEqual(self.rows(email), [("0", "")])

    def test_an_active_session_keeps_its_drop_past_the_age_of_a_stale_lock(self):
        email = add_user(self.data, "val", "pw")
        size = len(Item(self.data, email, "mine").message())
        with logged_in(self.server.port, "val", "pw") as holder:
            self.assertEqual(holder.command("NOOP"), b"+OK\r\n")  # the lock follows "+OK"
            with sqlite3.connect(os.path.join(self.data, "talvex.db"), timeout=10) as db:
                db.execute("UPDATE MailDropLocks SET LockTime = LockTime - 16 * 60")  # stale now
            started = time.monotonic()
            while time.monotonic() - started < 2.5:  # past the timer: the next command renews
                time.sleep(0.5)
                self.assertEqual(holder.command("NOOP"), b"+OK\r\n")
            with logged_in(self.server.port, "val", "pw") as second:
                self.assertEqual(second.command("STAT"), b"+OK 0 0\r\n")  # refused the lock
            self.assertEqual(holder.command("STAT"), f"+OK 1 {size}\r\n".encode())

    def test_a_silent_session_is_closed(self):
        with greeted(self.server.port) as client:
            self.assertEqual(client.closed_after(), b"")


class SlowReader(ServerCase):
    """With the inactivity timer, a session takes its lock again while a message is being read."""
    server_args = ("--logging-mode", "2", "--inactivity-timer", "1")

    def test_a_slowly_read_message_keeps_the_drop_past_the_age_of_a_stale_lock(self):
        email = add_user(self.data, "wes", "pw")
        item = Item(self.data, email, "".join(f"line {n:07} {'x' * 60}\r\n" for n in range(120000)))
        # The server sees a message being read only while its tail waits in the server's own send
        # queue; what has reached the client's buffer looks like silence. A small fixed receive
        # buffer keeps that tail on the server's side.
        with logged_in(self.server.port, "wes", "pw", receive_buffer=128 * 1024) as holder:
            self.assertEqual(holder.command("NOOP"), b"+OK\r\n")  # the lock follows "+OK"
            with sqlite3.connect(os.path.join(self.data, "talvex.db"), timeout=10) as db:
                db.execute("UPDATE MailDropLocks SET LockTime = LockTime - 16 * 60")  # stale now
            holder.send(b"RETR 1\r\n")
            got = b""
            started = time.monotonic()
            while not got.endswith(b"\r\n.\r\n"):
                chunk = holder.sock.recv(160 * 1024)
                self.assertTrue(chunk, f"closed after {len(got)} octets")
                got += chunk
                time.sleep(0.1)  # 9 MB in over 5 s: the last piece is queued after the timer
            self.assertGreater(time.monotonic() - started, 3)
            self.assertEqual(got, retr_reply(item.message()))
            with logged_in(self.server.port, "wes", "pw") as second:
                self.assertEqual(second.command("STAT"), b"+OK 0 0\r\n")  # refused the lock


if __name__ == "__main__":
    unittest.main()
