#!/usr/bin/env python3
"""RETR of one large message against talvex-pop3d on the embedded database, the server's memory
sampled throughout (VmRSS every 20 ms):
  1. a client that sends "RETR 1" once a second and never reads a byte;
  2. a slow reader that takes the whole message at a fixed rate while another client logs in,
     STATs and quits every 100 ms: the log-in's latency meanwhile;
  3. the slow reader's bytes against those of a fast RETR (SHA-256): they must be the same.
Prints the server's resident memory at idle and its peaks above idle, and the latencies.
  large_retr.py --bin DIR [--mib 50] [--seconds 8] [--rate-mib 10] [--port 31150]"""
import argparse
import hashlib
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

END = b"\r\n.\r\n"


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


class Peak(threading.Thread):
    """The highest resident memory of a process while it runs."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.done = pid, 0, threading.Event()

    def run(self):
        while not self.done.is_set():
            self.peak = max(self.peak, rss_kib(self.pid))
            time.sleep(0.02)

    def stop(self):
        self.done.set()
        self.join()
        return self.peak


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.buffer = b""
        self.line()

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def command(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        reply = self.line()
        if not reply.startswith(b"+OK"):
            raise RuntimeError(f"{text.split()[0]}: {reply!r}")
        return reply

    def log_in(self, user):
        self.command(f"USER {user}")
        self.command("PASS pw")

    def retr(self, rate=None):
        """The message after the status line, read at `rate` octets a second when given."""
        self.command("RETR 1")
        got, start = bytearray(self.buffer), time.monotonic()
        self.buffer = b""
        while not got.endswith(END):
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("connection closed in RETR")
            got += chunk
            if rate:
                ahead = len(got) / rate - (time.monotonic() - start)
                if ahead > 0:
                    time.sleep(ahead)
        return bytes(got)

    def close(self):
        self.sock.close()


def admin(bin_dir, data, *args):
    subprocess.run([os.path.join(bin_dir, "talvex-admin"), "--data-dir", data, *args], check=True,
                   stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--mib", type=int, default=50)
    parser.add_argument("--seconds", type=int, default=8)
    parser.add_argument("--rate-mib", type=float, default=10)
    parser.add_argument("--port", type=int, default=31150)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="talvex-large-") as data:
        body = os.path.join(data, "body")
        with open(body, "w") as f:  # lines of 80 octets, some beginning with "."
            line = 0
            while f.tell() < args.mib * 1024 * 1024:
                f.write(f"{'.' if line % 7 == 0 else ''}line {line:09} of a large message "
                        f"{'x' * 40}\r\n")
                line += 1
        for user in ("big", "small"):
            admin(args.bin, data, "user", "add", user, "--email", f"{user}@bench.example",
                  "--password", "pw")
        admin(args.bin, data, "item", "add", "--to", "big@bench.example", "--subject", "Large",
              "--body-file", body)
        admin(args.bin, data, "item", "add", "--to", "small@bench.example", "--body", "small\r\n")
        os.remove(body)
        server = subprocess.Popen([os.path.join(args.bin, "talvex-pop3d"), "--port", str(args.port),
                                   "--data-dir", data, "--logging-mode", "0"])
        try:
            for _ in range(200):
                try:
                    Client(args.port).close()
                    break
                except OSError:
                    time.sleep(0.05)
            fast = Client(args.port)
            fast.log_in("big")
            reference = hashlib.sha256(fast.retr()).hexdigest()
            fast.command("QUIT")
            fast.close()
            time.sleep(1)
            idle = rss_kib(server.pid)
            print(f"message: {args.mib} MiB; server idle RSS {idle / 1024:.1f} MiB")

            # 1. Never reads: RETR once a second.
            peak = Peak(server.pid)
            peak.start()
            deaf = Client(args.port)
            deaf.log_in("big")
            for _ in range(args.seconds):
                deaf.sock.sendall(b"RETR 1\r\n")
                time.sleep(1)
            high = peak.stop()
            deaf.close()
            print(f"never-reading client, {args.seconds} RETRs: peak RSS {high / 1024:.1f} MiB "
                  f"({(high - idle) / 1024:.1f} MiB above idle)")
            time.sleep(1)
            idle = rss_kib(server.pid)

            # 2. A slow reader, and log-ins meanwhile.
            peak = Peak(server.pid)
            peak.start()
            latencies, reading = [], threading.Event()
            reading.set()

            def log_ins():
                while reading.is_set():
                    start = time.monotonic()
                    client = Client(args.port)
                    client.log_in("small")
                    client.command("STAT")
                    client.command("QUIT")
                    client.close()
                    latencies.append((time.monotonic() - start) * 1000)
                    time.sleep(0.1)

            other = threading.Thread(target=log_ins)
            other.start()
            slow = Client(args.port)
            slow.log_in("big")
            started = time.monotonic()
            got = slow.retr(rate=args.rate_mib * 1024 * 1024)
            took = time.monotonic() - started
            reading.clear()
            other.join()
            high = peak.stop()
            slow.command("QUIT")
            slow.close()
            same = hashlib.sha256(got).hexdigest() == reference
            print(f"slow reader at {args.rate_mib} MiB/s: {took:.1f} s, peak RSS "
                  f"{(high - idle) / 1024:.1f} MiB above idle; bytes as a fast RETR's: {same}")
            print(f"log-in, STAT, QUIT meanwhile: {len(latencies)} sessions, median "
                  f"{statistics.median(latencies):.1f} ms, max {max(latencies):.1f} ms")
            return 0 if same and latencies else 1
        finally:
            server.terminate()
            server.wait(timeout=30)


if __name__ == "__main__":
    sys.exit(main())
