"""talvex-pop3d's abuse limits, each on request: the growing wait after failed log-ins from one
address, the cap on connections per address, and the time allowed to log in."""
import select
import time
import unittest

from harness import HANDLER, PROVE, Pop3Client, ServerCase, add_user, greeted, logged_in

REFUSED = b"-ERR Logon failure: unknown username or bad password.\r\n"
TOO_MANY = b"-ERR Too many connections from your address.\r\n"


def waiting(client):
    """Whether the server has sent something the client has not read yet."""
    return bool(client.buffer or select.select([client.sock], [], [], 0)[0])


class LoginDelay(ServerCase):
    server_args = ("--logging-mode", "2", "--login-delay")

    def fail_log_in(self, client):
        self.assertEqual(client.command("USER mal"), PROVE)
        client.send(b"PASS wrong\r\n")
        return time.monotonic()

    def test_failures_wait_longer_each_time_without_holding_up_others(self):
        add_user(self.data, "mal", "pw")
        with greeted(self.server.port) as first:
            started = self.fail_log_in(first)
            # Meanwhile the server answers everyone else at once, the same address included:
            # the wait is the failing session's alone.
            with logged_in(self.server.port, "mal", "pw") as other:
                self.assertEqual(other.command("NOOP"), b"+OK\r\n")
                self.assertFalse(waiting(first))
            self.assertEqual(first.read_until(), REFUSED)
            self.assertGreaterEqual(time.monotonic() - started, 0.95)
            self.assertEqual(first.closed_after(), b"")
        with greeted(self.server.port) as second:
            started = self.fail_log_in(second)
            self.assertEqual(second.read_until(), REFUSED)
            self.assertGreaterEqual(time.monotonic() - started, 1.95)  # doubled
        self.server.wait_count("Authentication of POP3 user 'mal' failed", 2)


class PerAddressCap(ServerCase):
    server_args = ("--logging-mode", "2", "--max-per-ip", "2")

    def test_connections_over_the_cap_are_told_and_closed(self):
        add_user(self.data, "pat", "pw")
        with greeted(self.server.port) as one, logged_in(self.server.port, "pat", "pw") as two:
            with Pop3Client(self.server.port) as three:
                self.assertEqual(three.closed_after(), TOO_MANY)
            self.server.wait_message("127.0.0.1 refused: already 2 connections from that address")
            # The two that hold the address's places go on as ever.
            self.assertEqual([one.command("USER pat"), two.command("NOOP")], [PROVE, b"+OK\r\n"])
        # Their places are given back when they end.
        self.server.wait_count(lambda m: m.endswith(" destroyed"), 2)
        with greeted(self.server.port) as again, greeted(self.server.port) as more:
            self.server.sync(again)
            self.server.sync(more)
        refusals = [l for l in self.server.lines if l.message.endswith("connections from that address")]
        self.assertEqual([(l.message_type, l.source) for l in refusals], [(7, HANDLER)])


class LoginTimeout(ServerCase):
    server_args = ("--logging-mode", "2", "--login-timeout", "1")

    def test_a_session_not_logged_in_in_time_is_closed(self):
        add_user(self.data, "tim", "pw")
        with greeted(self.server.port) as silent, greeted(self.server.port) as halfway:
            self.assertEqual(halfway.command("USER tim"), PROVE)
            started = time.monotonic()
            self.assertEqual(silent.closed_after(), b"")
            self.assertEqual(halfway.closed_after(), b"")
            self.assertLess(time.monotonic() - started, 5)
        self.server.wait_message("Log-in time limit reached, closing socket 0")
        # Once logged in, the limit no longer applies.
        with logged_in(self.server.port, "tim", "pw") as client:
            time.sleep(1.5)
            self.assertEqual(client.command("NOOP"), b"+OK\r\n")
            self.assertEqual(client.command("QUIT")[:3], b"+OK")


if __name__ == "__main__":
    unittest.main()
