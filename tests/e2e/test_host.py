"""talvex-pop3d and talvex-admin as a user runs them: options, log output, signals, limits."""
import os
import resource
import signal
import socket
import subprocess
import threading
import time
import unittest

from harness import (BIN_DIR, GREETING_RE, HOST_NAME, SANITIZED, SLOW, Pop3Client, Server, admin,
                     free_port_below_32768)

HANDLER = "POP3 Server: (ServerHandler Class)"


class HostService(unittest.TestCase):
    def test_greeting_log_lines_and_clean_stop(self):
        with Server("--max-connections", "2", "--domain", "example.org", "--logging-mode", "2") as server:
            listening = server.lines[0]
            self.assertEqual(listening.message_type, 6)
            self.assertEqual(listening.source, HANDLER)
            self.assertRegex(listening.date_time, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
            client = Pop3Client(server.port)
            greeting = client.read_until()
            self.assertEqual(GREETING_RE.match(greeting).group(1).decode(), HOST_NAME + ".example.org")
            # Fields are tab-separated: tabs and line ends inside a logged command are escaped.
            client.send(b"CA\tPA\r\nNEXT\r\n")
            self.assertEqual(client.read_until(), b"-ERR Unknown command 'CA\tPA\r\n")
            line = server.wait_for(lambda l: l.message.startswith("CA"))
            self.assertEqual(line.raw.split("\t", 3)[3], "CA\\tPA\\r\\nNEXT")
            client.close()
            server.wait_message("POP3 server socket 0 destroyed")
            types = {l.message: l.message_type for l in server.lines}
            self.assertEqual(types["POP3 server socket 0 created"], 7)
            self.assertEqual(types["127.0.0.1 Connected"], 7)
            self.assertEqual(server.stop(signal.SIGINT), 0)

    def test_logging_mode_filters_stdout(self):
        expectations = {"0": [], "1": ["POP3 server listening on port"], "2": None, "9": []}
        for mode, expected in expectations.items():
            port = free_port_below_32768()
            with Server("--max-connections", "1", "--logging-mode", mode, port=port, quiet=True) as server:
                server.wait_count_where(lambda m: m.endswith(" destroyed"), 1 if mode == "2" else 0)
                client = Pop3Client(port)
                client.read_until()
                client.close()
                time.sleep(0.3 * SLOW)
                self.assertEqual(server.stop(), 0)
                messages = [m.rsplit(" ", 1)[0] if m.startswith("POP3 server listening") else m
                            for m in server.messages()]
                if expected is None:
                    self.assertIn("POP3 server socket 0 destroyed", messages)
                else:
                    self.assertEqual(messages, expected, f"mode {mode}")

    def test_failed_start_and_bad_options(self):
        with socket.socket() as holder:
            port = free_port_below_32768()
            holder.bind(("", port))
            holder.listen()
            run = subprocess.run([os.path.join(BIN_DIR, "talvex-pop3d"), "--port", str(port), "--data-dir",
                                  os.devnull + "-unused", "--logging-mode", "0"],
                                 capture_output=True, text=True, timeout=30 * SLOW)
            self.assertEqual(run.returncode, 1)
            self.assertEqual(run.stdout.split("\t", 3)[3].strip(),
                             f"Cannot start POP3 server. Port number {port} is currently in use")
        bad = subprocess.run([os.path.join(BIN_DIR, "talvex-pop3d"), "--max-connections", "lots"],
                             capture_output=True, text=True, timeout=30 * SLOW)
        self.assertEqual(bad.returncode, 2)
        self.assertEqual(len(bad.stderr.strip().splitlines()), 1)
        overflow = subprocess.run([os.path.join(BIN_DIR, "talvex-pop3d"), "--port", "70000", "--data-dir",
                                   os.devnull + "-unused"], capture_output=True, text=True, timeout=30 * SLOW)
        self.assertEqual(overflow.returncode, 1)
        self.assertIn("\t3\tPOP3 Server: (POP3Server Class)\tSMS_POP3Server: 6. Overflow", overflow.stdout)

    @unittest.skipIf(SANITIZED, "the sanitizer runtime needs free file descriptors for its own "
                     "checks (it probes memory through a pipe), and this test uses them all up")
    def test_listener_error_restarts_on_the_same_port(self):
        # With few file descriptors, accepting fails with "too many open files": the listener
        # error drops every session and listening starts again on the same port.
        def few_files():
            resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))

        port = free_port_below_32768()
        with Server("--max-connections", "50", "--logging-mode", "2", port=port, preexec_fn=few_files) as server:
            clients = []
            try:
                for _ in range(40):
                    clients.append(Pop3Client(port, timeout=1))
            except OSError:
                pass
            error = server.wait_for(lambda l: l.message.startswith("Listener Error: "))
            self.assertEqual(error.message_type, 3)
            self.assertEqual(error.message, "Listener Error: 10024. Too many open files")
            server.wait_count(f"POP3 server listening on port {port}", 2)
            for c in clients:
                c.close()
            client = Pop3Client(port)
            self.assertRegex(client.read_until(), GREETING_RE)
            client.close()


class AdminRegistry(unittest.TestCase):
    def test_get_set_delete_and_host_name_record(self):
        with Server("--max-connections", "1") as server:
            got = admin(server.data_dir, "reg", "get", r"Software\Corvath\Talvex\Services\Gateway Connector",
                        "LocalHostName")
            self.assertEqual((got.returncode, got.stdout), (0, HOST_NAME + "\n"))
            key = r"Software\Corvath\Talvex\Database"
            self.assertEqual(admin(server.data_dir, "reg", "get", key, "TLOff").returncode, 1)
            self.assertEqual(admin(server.data_dir, "reg", "set", key, "TLOff", "1").returncode, 0)
            self.assertEqual(admin(server.data_dir, "reg", "get", key, "tloff").stdout, "1\n")
            self.assertEqual(admin(server.data_dir, "reg", "delete", key, "TLOff").returncode, 0)
            missing = admin(server.data_dir, "reg", "get", key, "TLOff")
            self.assertEqual(missing.returncode, 1)
            self.assertIn("TLOff", missing.stderr)
            self.assertEqual(admin(server.data_dir, "reg", "get", key).returncode, 2)


class Robustness(unittest.TestCase):
    def test_abrupt_clients_leave_the_server_sound_and_bounded(self):
        megabyte = b"x" * (1 << 20)

        def hostile(i):
            client = Pop3Client(server.port, timeout=30)
            kind = i % 4
            if kind == 0:
                client.send(b"CAP")                      # mid-line
            elif kind == 1 and i % 40 == 1:
                client.send(megabyte)                    # a megabyte without a line end
            elif kind == 2:
                client.read_until()
                client.send(b"CAPA\r\n" + b"y" * 5000)  # a command, then an over-long line
            client.abort() if i % 2 == 0 else client.close()

        def run(count):
            errors = []

            def worker(start):
                for i in range(start, count, 8):
                    try:
                        hostile(i)
                    except OSError as e:
                        errors.append(e)

            threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            return errors

        with Server("--max-connections", "100", "--logging-mode", "2") as server:
            self.assertEqual(run(100), [])
            # Clients that reset before they were accepted have no address left to show.
            connected = lambda m: m.endswith(" Connected")
            server.wait_count_where(connected, 100)
            baseline = server.rss_kib()
            self.assertEqual(run(1000), [])
            server.wait_count_where(connected, 1100, timeout=120)
            # Every session has ended and left its slot.
            server.wait_count_where(lambda m: m.endswith(" destroyed"), 1100, timeout=60)
            self.assertEqual(server.count_where(lambda m: m.endswith(" created")), 1100)
            client = Pop3Client(server.port)
            self.assertRegex(client.read_until(), GREETING_RE)
            client.send(b"CAPA\r\n")
            self.assertEqual(client.read_until(b"\r\n.\r\n"),
                             b"+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.\r\n")
            growth_mib = (server.rss_kib() - baseline) / 1024
            print(f"resident memory: {baseline / 1024:.1f} MiB after 100 clients, "
                  f"+{growth_mib:.1f} MiB after 1000 more")
            if not SANITIZED:  # the sanitizer's quarantine holds freed memory on purpose
                self.assertLess(growth_mib, 16)


if __name__ == "__main__":
    unittest.main()
