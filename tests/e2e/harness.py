"""End-to-end harness: runs the real talvex-pop3d and talvex-admin from the build tree."""
import hashlib
import itertools
import os
import queue
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

BIN_DIR = os.environ.get("TALVEX_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../build/bin"))
SANITIZED = os.environ.get("TALVEX_SANITIZED") == "1"
# Sanitized binaries are several times slower; time-outs scale with them.
SLOW = 4 if SANITIZED else 1
_probes = itertools.count(1)


def free_port_below_32768():
    """A port the 16-bit port number can hold that nothing listens on right now."""
    for port in range(21000 + os.getpid() % 5000, 32000, 7):
        with socket.socket() as s:
            try:
                s.bind(("", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


class LogLine:
    def __init__(self, raw):
        self.raw = raw
        fields = raw.split("\t")
        if len(fields) != 4:
            raise AssertionError(f"log line has {len(fields)} fields: {raw!r}")
        self.date_time, self.message_type, self.source, self.message = fields
        self.message_type = int(self.message_type)


class Server:
    """talvex-pop3d in the background; its stdout lines are collected as they are printed."""

    def __init__(self, *args, port=0, data_dir=None, preexec_fn=None, quiet=False):
        self._tmp = None
        if data_dir is None:
            self._tmp = tempfile.TemporaryDirectory(prefix="talvex-e2e-")
            data_dir = self._tmp.name
        self.data_dir = data_dir
        cmd = [os.path.join(BIN_DIR, "talvex-pop3d"), "--port", str(port), "--data-dir", data_dir, *args]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     preexec_fn=preexec_fn)
        self.lines = []
        self._queue = queue.Queue()
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.port = port or None
        if quiet:  # the listening line is filtered out: wait until the port answers instead
            connect_when_ready(port)
            return
        line = self.wait_for(lambda l: l.message.startswith("POP3 server listening on port "), timeout=10 * SLOW,
                             missing_ok=True)
        if line is not None:
            self.port = int(line.message.rsplit(" ", 1)[1])

    def _read(self):
        for raw in self.proc.stdout:
            line = LogLine(raw.rstrip("\n"))
            with self._lock:
                self.lines.append(line)
            self._queue.put(line)

    def messages(self):
        with self._lock:
            return [l.message for l in self.lines]

    def count(self, message):
        return self.messages().count(message)

    def wait_for(self, predicate, timeout=10, missing_ok=False):
        deadline = time.time() + timeout * SLOW
        with self._lock:
            for line in self.lines:
                if predicate(line):
                    return line
        while time.time() < deadline:
            try:
                line = self._queue.get(timeout=0.05)
            except queue.Empty:
                if self.proc.poll() is not None and self._queue.empty():
                    break
                continue
            if predicate(line):
                return line
        if missing_ok:
            return None
        raise AssertionError(f"no such log line; last lines: {[l.raw for l in self.lines[-5:]]}")

    def wait_message(self, message, timeout=10):
        return self.wait_for(lambda l: l.message == message, timeout)

    def count_where(self, predicate):
        return sum(1 for m in self.messages() if predicate(m))

    def wait_count(self, message, n, timeout=30):
        self.wait_count_where(lambda m: m == message, n, timeout, message)

    def wait_count_where(self, predicate, n, timeout=30, what="matching line"):
        deadline = time.time() + timeout * SLOW
        while time.time() < deadline:
            if self.count_where(predicate) >= n:
                return
            time.sleep(0.05)
        raise AssertionError(f"{what!r} seen {self.count_where(predicate)} times, expected {n}")

    def wait_sessions_ended(self, timeout=30):
        """Waits until every session accepted so far has been destroyed (logging mode 2).

        A probe session's logged command first makes sure that every "created" line printed
        before it has been read."""
        probe = Pop3Client(self.port)
        probe.read_until()
        marker = f"PROBE{next(_probes)}"
        probe.command(marker)
        self.wait_message(marker)
        probe.close()
        created = self.count_where(lambda m: m.endswith(" created"))
        self.wait_count_where(lambda m: m.endswith(" destroyed"), created, timeout)

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for row in f:
                if row.startswith("VmRSS:"):
                    return int(row.split()[1])
        return 0

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            rc = self.proc.wait(timeout=15 * SLOW)
        finally:
            self._reader.join(timeout=5)
            self.proc.stdout.close()
            self.proc.stderr.close()
            if self._tmp:
                self._tmp.cleanup()
        return rc

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.stop()


class Pop3Client:
    """A raw socket client that sends exact bytes and reads replies."""

    def __init__(self, port, timeout=5):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout * SLOW)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def read_until(self, terminator=b"\r\n"):
        while terminator not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError(f"closed; received {self.buffer!r}")
            self.buffer += chunk
        at = self.buffer.index(terminator) + len(terminator)
        out, self.buffer = self.buffer[:at], self.buffer[at:]
        return out

    def read_exact(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError(f"closed after {len(self.buffer)} of {n} octets")
            self.buffer += chunk
        out, self.buffer = self.buffer[:n], self.buffer[n:]
        return out

    def command(self, line):
        """Sends one command line and returns its one-line reply."""
        self.send((line.encode("cp1252") if isinstance(line, str) else line) + b"\r\n")
        return self.read_until()

    def listing(self, line):
        """Sends one command line and returns its reply up to the line "."."""
        self.send((line.encode("cp1252") if isinstance(line, str) else line) + b"\r\n")
        return self.read_until(b"\r\n.\r\n")

    def retrieve(self, line):
        """RETR or TOP: the "+OK" line, then the message up to the final line "."."""
        self.send(line.encode("cp1252") + b"\r\n")
        status = self.read_until()
        if status != b"+OK\r\n":
            return status
        return status + self.read_until(b"\r\n.\r\n")

    def closed_after(self):
        """What arrives until the server closes the connection; fails if it stays open."""
        out, self.buffer = self.buffer, b""
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                return out
            out += chunk

    def abort(self):
        """Drops the connection with a reset, as a crashed client does."""
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.sock.close()

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.sock.close()


def logged_in(port, user, password):
    """A session past the greeting and a successful USER/PASS."""
    client = Pop3Client(port)
    if not GREETING_RE.match(client.read_until()):
        raise AssertionError("no greeting")
    for line, reply in ((f"USER {user}", b"+OK Prove your worthiness.\r\n"),
                        (f"PASS {password}", b"+OK Well howdy pilgrim.\r\n")):
        got = client.command(line)
        if got != reply:
            raise AssertionError(f"{line.split()[0]} of {user!r}: {got!r}")
    return client


def connect_when_ready(port, timeout=10):
    deadline = time.time() + timeout * SLOW
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if time.time() > deadline:
                raise
            time.sleep(0.02)


def admin(data_dir, *args, input=None):
    return subprocess.run([os.path.join(BIN_DIR, "talvex-admin"), "--data-dir", data_dir, *args],
                          capture_output=True, text=True, input=input, timeout=60 * SLOW)


HOST_NAME = socket.gethostname()
GREETING_RE = re.compile(rb"^\+OK Talvex POP3 service version 2\.3\.1 \((.*)\) ready\.\r\n$")

SIGN_OFF = b"+OK Talvex POP3 service version 2.3.1 signing off.\r\n"
GATEWAY_KEY = r"Software\Corvath\Talvex\Services\Gateway Connector"
# A fixed date keeps header blocks, sizes and identifiers predictable.
DATE = "Sat, 5 Dec 2026 01:27:37 +0000"
WINDOWS_1252 = 'text/plain; charset="Windows-1252"'


def checked_admin(data_dir, *args):
    run = admin(data_dir, *args)
    if run.returncode != 0:
        raise AssertionError(f"talvex-admin {' '.join(args[:2])} failed: {run.stderr.strip()}")
    return run.stdout


def add_user(data_dir, logon, password, email=None, disabled=False):
    email = email or f"{logon}@example.org"
    checked_admin(data_dir, "user", "add", logon, "--email", email, "--password", password,
                  *(["--disabled"] if disabled else []))
    return email


class Item:
    """A gateway item as stored with talvex-admin, and the message the server should make of it."""

    def __init__(self, data_dir, to, body="", subject="", sender="", sender_name="", date=DATE,
                 message_id=None, content=None):
        args = ["item", "add", "--to", to, "--from", sender, "--from-name", sender_name,
                "--subject", subject, "--date", date]
        if message_id is not None:
            args += ["--message-id", message_id]
        if content is not None:
            args += ["--content", content]
        if len(body) < 4096:
            self.gwqid = checked_admin(data_dir, *args, "--body", body).strip()
        else:  # too long for a command line
            with tempfile.NamedTemporaryFile("wb") as f:
                f.write(body.encode())
                f.flush()
                self.gwqid = checked_admin(data_dir, *args, "--body-file", f.name).strip()
        self.to, self.body, self.subject = to, body, subject
        self.sender, self.sender_name, self.date = sender, sender_name, date
        self.message_id = message_id

    def uid(self, **header):
        """UIDL's identifier: the stored message identifier, else the digest of the header block."""
        return self.message_id or hashlib.md5(self.header(**header)).hexdigest().upper()

    def header(self, content=WINDOWS_1252, host=HOST_NAME, subject=None):
        """The header block, as octets on the wire."""
        digest = md5_hex(self.date + self.sender_name + self.sender + self.to)
        text = (f"Date: {self.date}\r\nSubject: {self.subject if subject is None else subject}\r\n"
                f"MIME-Version: 1.0\r\nContent-Type: {content}\r\n"
                f"Message-ID: <{digest}@{host}>\r\nFrom: \"{self.sender_name}\" <{self.sender}>\r\n"
                f"To: <{self.to}>\r\n\r\n")
        return wire(text)

    def message(self, body_octets=None, **header):
        """Header block and body as RETR sends them between "+OK" and the final CR LF "."."""
        return self.header(**header) + (wire(self.body) if body_octets is None else body_octets)


def wire(text):
    """Text as the server sends it: Windows-1252, "?" for what the code page lacks."""
    return text.encode("cp1252", errors="replace")


def md5_hex(text):
    return hashlib.md5(wire(text)).hexdigest().upper()


def retr_reply(message):
    return b"+OK\r\n" + message + b"\r\n.\r\n"


def list_items(data_dir, to=None):
    """talvex-admin item list as rows of (GWQID, status, session, to, subject, body length)."""
    out = checked_admin(data_dir, "item", "list", *(["--to", to] if to else []))
    return [tuple(row.split("\t")) for row in out.splitlines()]
