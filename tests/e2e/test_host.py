"""talvex-pop3d and talvex-admin as a user runs them: options, log output, signals, limits."""
import os
import resource
import select
import shutil
import signal
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import (BIN_DIR, CAPABILITIES, GATEWAY_KEY, GREETING_RE, HANDLER, HOST_NAME, HOWDY, PROVE, SANITIZED,
                     SLOW, Item, Pop3Client, Server, add_user, admin, checked_admin, free_port, greeted,
                     logged_in, retr_reply)

INTERNAL_ERROR = b"-ERR Internal server error occured. Closing transmission channel\r\n"


def pop3d(*args):
    return subprocess.run([os.path.join(BIN_DIR, "talvex-pop3d"), *args], capture_output=True, text=True,
                          timeout=30 * SLOW)


class HostService(unittest.TestCase):
    def test_greeting_log_lines_and_clean_stop(self):
        with Server("--max-connections", "2", "--domain", "example.org", "--logging-mode", "2") as server:
            listening = server.lines[0]
            self.assertEqual((listening.message_type, listening.source), (6, HANDLER))
            self.assertRegex(listening.date_time, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
            client = Pop3Client(server.port)
            self.assertEqual(GREETING_RE.match(client.read_until()).group(1).decode(),
                             HOST_NAME + ".example.org")
            # Fields are tab-separated: tabs, line ends and other control bytes inside a logged
            # command are escaped.
            client.send(b"CA\tPA\x01\x7f\r\nNEXT\r\n")
            self.assertEqual(client.read_until(), b"-ERR Unknown command 'CA\tPA\x01\x7f\r\n")
            self.assertEqual(server.wait_for(lambda l: l.message.startswith("CA")).raw.split("\t", 3)[3],
                             "CA\\tPA\\x01\\x7F\\r\\nNEXT")
            client.close()
            server.wait_message("POP3 server socket 0 destroyed")
            types = {l.message: l.message_type for l in server.lines}
            self.assertEqual([types["POP3 server socket 0 created"], types["127.0.0.1 Connected"]], [7, 7])
            self.assertEqual(server.stop(signal.SIGINT), 0)

    def test_logging_mode_filters_stdout(self):
        for mode, expected in {"0": [], "1": ["POP3 server listening on port"], "2": None, "9": []}.items():
            port = free_port()
            with Server("--max-connections", "1", "--logging-mode", mode, port=port, quiet=True) as server:
                server.wait_count(lambda m: m.endswith(" destroyed"), 1 if mode == "2" else 0)
                greeted(port).close()
                time.sleep(0.3 * SLOW)
                self.assertEqual(server.stop(), 0)  # SIGTERM
                messages = [l.message.removesuffix(f" {port}") for l in server.lines]
                if expected is None:
                    self.assertIn("POP3 server socket 0 destroyed", messages)
                else:
                    self.assertEqual(messages, expected, f"mode {mode}")

    def test_failed_start_and_bad_options(self):
        with socket.socket() as holder:
            port = free_port()
            holder.bind(("", port))
            holder.listen()
            run = pop3d("--port", str(port), "--data-dir", os.devnull + "-unused", "--logging-mode", "0")
            self.assertEqual(run.returncode, 1)
            self.assertEqual(run.stdout.split("\t", 3)[3].strip(),
                             f"Cannot start POP3 server. Port number {port} is currently in use")
        bad = pop3d("--max-connections", "lots")
        self.assertEqual((bad.returncode, len(bad.stderr.strip().splitlines())), (2, 1))
        overflow = pop3d("--port", "70000", "--data-dir", os.devnull + "-unused")
        self.assertEqual(overflow.returncode, 1)
        self.assertIn("\t3\tPOP3 Server: (POP3Server Class)\tSMS_POP3Server: 6. Overflow", overflow.stdout)

    def test_reuse_port_shares_one_port_between_processes(self):
        port = free_port()
        db = "--db", "sqlite:" + os.path.join(tempfile.mkdtemp(prefix="talvex-e2e-"), "shared.db")
        with Server("--reuse-port", "--logging-mode", "2", *db, port=port) as first, \
                Server("--reuse-port", "--logging-mode", "2", *db, port=port) as second:
            # The kernel spreads connections by their addresses; among 24 both get some.
            for _ in range(24):
                greeted(port).close()
            connected = lambda m: m == "127.0.0.1 Connected"
            deadline = time.time() + 10 * SLOW
            while first.count(connected) + second.count(connected) < 24 and time.time() < deadline:
                time.sleep(0.05)
            counts = [first.count(connected), second.count(connected)]
            self.assertEqual(sum(counts), 24)
            self.assertNotIn(0, counts, "one process served every connection")
            self.assertEqual(first.stop(), 0)
            for _ in range(5):
                greeted(port).close()  # the second goes on serving alone
            second.wait_count(connected, counts[1] + 5)

    @unittest.skipIf(SANITIZED, "the sanitizer runtime needs free file descriptors for its own "
                     "checks (it probes memory through a pipe), and this test uses them all up")
    def test_out_of_descriptors_keeps_sessions_and_queues_new_ones(self):
        # With few file descriptors, accepting fails with "too many open files". That is no
        # listener error: the sessions being served are kept, new connections wait in the
        # listen queue, and each session that ends lets a waiting one in. One line tells of
        # the episode, another of its end; the start warns that the limit is too low.
        port = free_port()
        with Server("--max-connections", "100", "--logging-mode", "2", port=port,
                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (48, 48))) as server:
            self.assertTrue(any(l.source == "talvex-pop3d" and "limit of 48 open files" in l.message
                                for l in server.lines))
            clients = [Pop3Client(port, timeout=2) for _ in range(60)]  # queued by the kernel
            episode = server.wait_for(lambda l: l.message.startswith("Cannot accept connections: "))
            self.assertEqual((episode.message_type, episode.message),
                             (4, "Cannot accept connections: 10024. Too many open files; "
                                 "waiting connections are queued"))
            time.sleep(0.5 * SLOW)  # retries during the episode log nothing more

            def greeted_now():
                return [c for c in clients if select.select([c.sock], [], [], 0)[0]]

            served = greeted_now()
            self.assertTrue(10 < len(served) < 60, len(served))
            for client in served:  # every session is still there
                self.assertRegex(client.read_until(), GREETING_RE)
                self.assertTrue(client.listing("CAPA").startswith(b"+OK"))
            for client in served:
                client.command("QUIT")
                client.close()
            waiting = [c for c in clients if c not in served]
            for client in waiting:
                self.assertRegex(client.read_until(), GREETING_RE)
                client.command("QUIT")
                client.close()
            time.sleep(1.1)  # a second without failures ends the episode at the next accept
            greeted(port).close()
            server.wait_message("Accepting connections again")
            self.assertEqual(server.count(lambda m: m.startswith("Cannot accept connections")), 1)
            self.assertEqual(server.count(lambda m: m.startswith("Listener Error")), 0)


    @unittest.skipIf(SANITIZED, "the sanitizer runtime needs free file descriptors for its own "
                     "checks (it probes memory through a pipe), and this test uses them all up")
    def test_out_of_descriptors_logged_in_sessions_keep_their_drops_and_none_is_left_locked(self):
        # Sessions that hold their drops while accepting fails go on to the end of their
        # dialogue (deletions and all); those that waited in the queue are served once
        # descriptors are freed, and nothing stays locked.
        users = 30
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as data_dir:
            items = {}
            for n in range(users):
                email = add_user(data_dir, f"u{n}", "pw")
                items[f"u{n}"] = Item(data_dir, email, body=f"for u{n}\r\n", subject=f"s{n}")
            add_user(data_dir, "warm", "pw")
            with Server("--max-connections", "100", data_dir=data_dir,
                        preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (40, 40))) as server:
                with logged_in(server.port, "warm", "pw") as client:  # the database is open by now
                    client.command("QUIT")
                clients = [Pop3Client(server.port, timeout=5) for _ in range(users)]
                server.wait_for(lambda l: l.message.startswith("Cannot accept connections: "))
                served = [c for c in clients if select.select([c.sock], [], [], 0.2)[0]]
                self.assertTrue(5 < len(served) < users, len(served))
                for n, client in enumerate(clients):
                    if client in served:
                        self.assertRegex(client.read_until(), GREETING_RE)
                        self.assertEqual([client.command(f"USER u{n}"), client.command("PASS pw")], [PROVE, HOWDY])
                        self.assertEqual(client.command("STAT"), f"+OK 1 {len(items[f'u{n}'].message())}\r\n".encode())
                for n, client in enumerate(clients):  # all logged in at once, each holds its drop
                    if client in served:
                        self.assertEqual(client.listing("RETR 1"), retr_reply(items[f"u{n}"].message()))
                        self.assertEqual(client.command("DELE 1"), b"+OK\r\n")
                        self.assertTrue(client.command("QUIT").startswith(b"+OK"))
                        client.close()
                for n, client in enumerate(clients):
                    if client not in served:
                        self.assertRegex(client.read_until(), GREETING_RE)
                        self.assertEqual([client.command(f"USER u{n}"), client.command("PASS pw")], [PROVE, HOWDY])
                        self.assertEqual(client.command("STAT"), f"+OK 1 {len(items[f'u{n}'].message())}\r\n".encode())
                        self.assertTrue(client.command("QUIT").startswith(b"+OK"))
                        client.close()
                self.assertEqual(server.count(lambda m: m.startswith("Listener Error")), 0)
            with sqlite3.connect(os.path.join(data_dir, "talvex.db")) as db:
                held = db.execute("SELECT count(*) FROM GatewayItems WHERE SessionID IS NOT NULL").fetchone()[0]
                left = db.execute("SELECT count(*) FROM GatewayItems").fetchone()[0]
                # The warm-up's drop was empty, and a QUIT on an empty drop keeps its harmless lock.
                locks = db.execute("SELECT count(*) FROM MailDropLocks WHERE Address <> 'warm@example.org'"
                                   ).fetchone()[0]
            self.assertEqual((held, left, locks), (0, users - len(served), 0))


    @unittest.skipIf(SANITIZED, "the sanitizer runtime needs free file descriptors for its own "
                     "checks (it probes memory through a pipe), and this test uses them all up")
    def test_out_of_descriptors_from_the_start_log_ins_are_refused_cleanly_never_as_bad_passwords(self):
        # Nothing has been opened for a session yet when the descriptors run out: a log-in that
        # cannot open what it needs ends with the internal error and a closed connection, and
        # once descriptors are freed, log-ins succeed again.
        users = 20
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as data_dir:
            for n in range(users):
                add_user(data_dir, f"u{n}", "pw")
            with Server("--max-connections", "100", data_dir=data_dir,
                        preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (32, 32))) as server:
                clients = [Pop3Client(server.port, timeout=5) for _ in range(users)]
                server.wait_for(lambda l: l.message.startswith("Cannot accept connections: "))
                outcomes = set()
                for n, client in enumerate(clients):
                    self.assertRegex(client.read_until(), GREETING_RE)
                    self.assertEqual(client.command(f"USER u{n}"), PROVE)
                    reply = client.command("PASS pw")
                    if reply == HOWDY:
                        self.assertTrue(client.command("QUIT").startswith(b"+OK"))
                    else:
                        self.assertEqual(reply, INTERNAL_ERROR, f"u{n}")
                        self.assertEqual(client.closed_after(), b"")
                    outcomes.add(reply)
                    client.close()
                self.assertIn(HOWDY, outcomes)
                self.assertEqual(server.count(lambda m: m.startswith("Authentication of POP3 user")), 0)
                with logged_in(server.port, "u0", "pw") as client:
                    self.assertTrue(client.command("QUIT").startswith(b"+OK"))


class DatabaseFile(unittest.TestCase):
    def test_a_deleted_or_replaced_database_file_stops_the_server_with_the_reason(self):
        for replace in (False, True):
            with Server("--max-connections", "2") as server:
                add_user(server.data_dir, "dot", "pw")
                with logged_in(server.port, "dot", "pw"):
                    database = os.path.join(server.data_dir, "talvex.db")
                    if replace:
                        os.replace(shutil.copy(database, database + ".copy"), database)
                    else:
                        os.remove(database)
                    line = server.wait_for(lambda l: l.message.startswith("The database file "))
                self.assertEqual((line.message_type, line.source), (3, "talvex-pop3d"))
                self.assertIn("replaced" if replace else "deleted", line.message)
                self.assertEqual(server.proc.wait(timeout=10 * SLOW), 1)

    def test_a_database_deleted_under_a_crashed_server_is_not_started_anew_unasked(self):
        with Server("--max-connections", "2") as server:
            email = add_user(server.data_dir, "eve", "pw")
            checked_admin(server.data_dir, "item", "add", "--to", email, "--body", "kept in the log")
            with logged_in(server.port, "eve", "pw"):
                server.proc.kill()
                server.proc.wait()
            database = os.path.join(server.data_dir, "talvex.db")
            self.assertTrue(os.path.exists(database + "-wal"))
            os.remove(database)
            refused = admin(server.data_dir, "user", "list")
            self.assertEqual(refused.returncode, 1)
            self.assertIn("it was deleted while in use", refused.stderr)
            self.assertIn("--create", refused.stderr)
            self.assertFalse(os.path.exists(database))
            started = admin(server.data_dir, "--create", "user", "add", "eve", "--email", email,
                            "--password", "pw")
            self.assertEqual(started.returncode, 0, started.stderr)
            self.assertIn("a new database starts", started.stderr)
            self.assertEqual(admin(server.data_dir, "item", "list").stdout, "")


class AdminRegistry(unittest.TestCase):
    def test_get_set_delete_and_host_name_record(self):
        with Server("--max-connections", "1") as server:
            def reg(*args):
                run = admin(server.data_dir, "reg", *args)
                return run.returncode, run.stdout
            self.assertEqual(reg("get", GATEWAY_KEY, "LocalHostName"), (0, HOST_NAME + "\n"))
            key = r"Software\Corvath\Talvex\Database"
            self.assertEqual([reg("get", key, "TLOff"), reg("set", key, "TLOff", "1"),
                              reg("get", key, "tloff"), reg("delete", key, "TLOff"),
                              reg("get", key, "TLOff"), reg("get", key)],
                             [(1, ""), (0, ""), (0, "1\n"), (0, ""), (1, ""), (2, "")])
            self.assertIn("TLOff", admin(server.data_dir, "reg", "get", key, "TLOff").stderr)


class Robustness(unittest.TestCase):
    def test_abrupt_clients_leave_the_server_sound_and_bounded(self):
        megabyte = b"x" * (1 << 20)

        def hostile(i):
            client = Pop3Client(server.port, timeout=30)
            if i % 4 == 0:
                client.send(b"CAP")                      # mid-line
            elif i % 40 == 1:
                client.send(megabyte)                    # a megabyte without a line end
            elif i % 4 == 2:
                client.read_until()
                client.send(b"CAPA\r\n" + b"y" * 5000)  # a command, then an over-long line
            client.abort() if i % 2 == 0 else client.close()

        def run(count):
            with ThreadPoolExecutor(8) as pool:
                list(pool.map(hostile, range(count)))  # raises the first client's error

        with Server("--max-connections", "100", "--logging-mode", "2") as server:
            # Clients that reset before they were accepted have no address left to show.
            run(100)
            server.wait_count(lambda m: m.endswith(" Connected"), 100)
            baseline = server.rss_kib()
            run(1000)
            server.wait_count(lambda m: m.endswith(" Connected"), 1100, timeout=120)
            # Every session has ended and left its slot.
            server.wait_count(lambda m: m.endswith(" destroyed"), 1100, timeout=60)
            self.assertEqual(server.count(lambda m: m.endswith(" created")), 1100)
            with greeted(server.port) as client:
                self.assertEqual(client.listing("CAPA"), CAPABILITIES)
            growth_mib = (server.rss_kib() - baseline) / 1024
            print(f"resident memory: {baseline / 1024:.1f} MiB after 100 clients, "
                  f"+{growth_mib:.1f} MiB after 1000 more")
            if not SANITIZED:  # the sanitizer's quarantine holds freed memory on purpose
                self.assertLess(growth_mib, 16)


if __name__ == "__main__":
    unittest.main()
