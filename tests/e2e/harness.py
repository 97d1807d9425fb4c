"""End-to-end harness: runs the real talvex-pop3d and talvex-admin from the build tree."""
import getpass
import hashlib
import itertools
import os
import pathlib
import re
import signal
import socket
import sqlite3
import subprocess
import tempfile
import threading
import time
import unittest

BIN_DIR = os.environ.get("TALVEX_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../build/bin"))
SANITIZED = os.environ.get("TALVEX_SANITIZED") == "1"
SLOW = 4 if SANITIZED else 1  # sanitized binaries are several times slower
HOST_NAME = socket.gethostname()
GREETING_RE = re.compile(rb"^\+OK Talvex POP3 service version 2\.3\.1 \((.*)\) ready\.\r\n$")
PROVE = b"+OK Prove your worthiness.\r\n"
HOWDY = b"+OK Well howdy pilgrim.\r\n"
SIGN_OFF = b"+OK Talvex POP3 service version 2.3.1 signing off.\r\n"
CAPABILITIES = b"+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.\r\n"
HANDLER = "POP3 Server: (ServerHandler Class)"
GATEWAY_KEY = r"Software\Corvath\Talvex\Services\Gateway Connector"
DATE = "Sat, 5 Dec 2026 01:27:37 +0000"  # a fixed date keeps headers, sizes and digests fixed
WINDOWS_1252 = 'text/plain; charset="Windows-1252"'
_markers = itertools.count(1)


def free_port():
    """A port below 32768 (the server's port number is 16-bit signed) that nothing holds."""
    for port in range(21000 + os.getpid() % 5000, 32000, 7):
        with socket.socket() as s:
            try:
                s.bind(("", port))
                return port
            except OSError:
                pass
    raise RuntimeError("no free port")


def unknown(line):
    return b"-ERR Unknown command '" + line.encode() + b"'.\r\n"


class LogLine:
    def __init__(self, raw):
        self.raw = raw
        self.date_time, kind, self.source, self.message = raw.split("\t")  # exactly four fields
        self.message_type = int(kind)


class Server:
    """talvex-pop3d in the background; its stdout lines are collected as they are printed."""

    def __init__(self, *args, port=0, preexec_fn=None, quiet=False, data_dir=None):
        """data_dir: a data directory that outlives this server (a restart on the same data);
        by default one of its own, removed when it stops."""
        self._tmp = None if data_dir else tempfile.TemporaryDirectory(prefix="talvex-e2e-")
        self.data_dir = data_dir or self._tmp.name
        command = [os.path.join(BIN_DIR, "talvex-pop3d"), "--port", str(port), "--data-dir", self.data_dir, *args]
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     preexec_fn=preexec_fn)
        self.lines, self._lock = [], threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.port = port
        if not quiet:
            line = self.wait_for(lambda l: l.message.startswith("POP3 server listening on port "))
            self.port = int(line.message.rsplit(" ", 1)[1])
            return
        deadline = time.time() + 10 * SLOW  # no listening line: wait until the port answers
        while True:
            try:
                return socket.create_connection(("127.0.0.1", port), timeout=1).close()
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.02)

    def _read(self):
        for raw in self.proc.stdout:
            line = LogLine(raw.rstrip("\n"))
            with self._lock:
                self.lines.append(line)

    def wait_for(self, predicate, timeout=10):
        deadline = time.time() + timeout * SLOW
        while True:
            reading = self._reader.is_alive()  # before the look, so that no last line is missed
            with self._lock:
                line = next((l for l in self.lines if predicate(l)), None)
            if line is not None:
                return line
            if time.time() > deadline or not reading:
                raise AssertionError(f"no such log line; last lines: {[l.raw for l in self.lines[-5:]]}")
            time.sleep(0.02)

    def wait_message(self, message):
        return self.wait_for(lambda l: l.message == message)

    def count(self, match):
        """How many messages equal match, or satisfy it when it is a function."""
        test = match if callable(match) else match.__eq__
        with self._lock:
            return sum(1 for l in self.lines if test(l.message))

    def wait_count(self, match, n, timeout=30):
        deadline = time.time() + timeout * SLOW
        while self.count(match) < n:
            if time.time() > deadline:
                raise AssertionError(f"{match!r} seen {self.count(match)} times, expected {n}")
            time.sleep(0.05)

    def sync(self, client):
        """Sends a unique unknown command and waits until its log line (and all before it) is read."""
        marker = f"MARK{next(_markers)}"
        reply = client.command(marker)
        if reply != unknown(marker):
            raise AssertionError(f"{marker}: {reply!r}")
        self.wait_message(marker)

    def wait_sessions_ended(self, timeout=30):
        """Waits until every session accepted so far is destroyed (logging mode 2)."""
        with greeted(self.port) as probe:  # its log line follows every earlier "created" line
            self.sync(probe)
        self.wait_count(lambda m: m.endswith(" destroyed"), self.count(lambda m: m.endswith(" created")),
                        timeout)

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            return next(int(row.split()[1]) for row in f if row.startswith("VmRSS:"))

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=15 * SLOW)
        finally:
            self._reader.join(timeout=5)
            self.proc.stdout.close()
            self.proc.stderr.close()
            if self._tmp:
                self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Pop3Client:
    """A raw socket client that sends exact bytes and reads replies."""

    def __init__(self, port, timeout=5, receive_buffer=None):
        """receive_buffer: a fixed SO_RCVBUF, set before connecting so that the window follows it."""
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.settimeout(timeout * SLOW)
        try:
            self.sock.connect(("127.0.0.1", port))
        except BaseException:
            self.sock.close()
            raise
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def _receive(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise ConnectionError(f"closed after {len(self.buffer)} octets: {self.buffer[:200]!r}")
        self.buffer += chunk

    def read_until(self, terminator=b"\r\n"):
        while terminator not in self.buffer:
            self._receive()
        return self.read_exact(self.buffer.index(terminator) + len(terminator))

    def read_exact(self, n):
        while len(self.buffer) < n:
            self._receive()
        out, self.buffer = self.buffer[:n], self.buffer[n:]
        return out

    def command(self, line, terminator=b"\r\n"):
        """Sends one command line and returns its reply up to the terminator."""
        self.send(line.encode("cp1252") + b"\r\n")
        return self.read_until(terminator)

    def listing(self, line):
        """A multi-line reply (LIST, UIDL, CAPA, RETR, TOP) up to its final line "."."""
        return self.command(line, b"\r\n.\r\n")

    def closed_after(self):
        """What arrives until the server closes the connection; fails if it stays open."""
        out, self.buffer = self.buffer, b""
        while chunk := self.sock.recv(65536):
            out += chunk
        return out

    def abort(self):
        """Drops the connection with a reset, as a crashed client does."""
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.sock.close()

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class ServerCase(unittest.TestCase):
    """One server per test class, with full logging unless server_args say otherwise."""
    server_args = ("--logging-mode", "2")

    @classmethod
    def setUpClass(cls):
        cls.server = Server(*cls.server_args)
        cls.data = cls.server.data_dir

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def rows(self, address, fields=slice(1, 3)):
        """Fields of the stored items addressed to address (default: status and session)."""
        return [row[fields] for row in list_items(self.data, address)]


def greeted(port, **options):
    """A new session past its greeting; options go to Pop3Client."""
    client = Pop3Client(port, **options)
    try:
        greeting = client.read_until()
        if not GREETING_RE.match(greeting):
            raise AssertionError(f"greeting: {greeting!r}")
    except BaseException:
        client.close()  # a server that dies or misbehaves leaves no socket open here
        raise
    return client


def logged_in(port, user, password, **options):
    """A session past the greeting and a successful USER/PASS."""
    client = greeted(port, **options)
    try:
        replies = [client.command(f"USER {user}"), client.command(f"PASS {password}")]
        if replies != [PROVE, HOWDY]:
            raise AssertionError(f"log-in of {user!r}: {replies!r}")
    except BaseException:
        client.close()
        raise
    return client


def admin(data_dir, *args):
    return subprocess.run([os.path.join(BIN_DIR, "talvex-admin"), "--data-dir", data_dir, *args],
                          capture_output=True, text=True, timeout=60 * SLOW)


def checked_admin(data_dir, *args):
    run = admin(data_dir, *args)
    if run.returncode != 0:
        raise AssertionError(f"talvex-admin {' '.join(args[:2])} failed: {run.stderr.strip()}")
    return run.stdout


def add_user(data_dir, logon, password, disabled=False, options=()):
    """options: talvex-admin's own options before the subcommand, e.g. ("--db", url)."""
    email = f"{logon}@example.org"
    checked_admin(data_dir, *options, "user", "add", logon, "--email", email, "--password", password,
                  *(["--disabled"] if disabled else []))
    return email


def wire(text):
    """Text as the server sends it: Windows-1252, "?" for what the code page lacks."""
    return text.encode("cp1252", errors="replace")


class Item:
    """A gateway item as stored with talvex-admin, and the message the server should make of it."""

    def __init__(self, data_dir, to, body="", subject="", sender="", sender_name="", message_id=None,
                 content=None, options=()):
        args = [*options, "item", "add", "--to", to, "--from", sender, "--from-name", sender_name,
                "--subject", subject, "--date", DATE]
        args += ["--message-id", message_id] if message_id is not None else []
        args += ["--content", content] if content is not None else []
        with tempfile.NamedTemporaryFile("wb") as f:  # a body file: bodies may be megabytes
            f.write(body.encode())
            f.flush()
            self.gwqid = checked_admin(data_dir, *args, "--body-file", f.name).strip()
        self.to, self.body, self.subject = to, body, subject
        self.sender, self.sender_name, self.message_id = sender, sender_name, message_id

    def uid(self):
        """UIDL's identifier: the stored message identifier, else the digest of the header block."""
        return self.message_id or hashlib.md5(self.header()).hexdigest().upper()

    def header(self, content=WINDOWS_1252, host=HOST_NAME):
        """The header block, as octets on the wire."""
        digest = hashlib.md5(wire(DATE + self.sender_name + self.sender + self.to)).hexdigest().upper()
        return wire(f"Date: {DATE}\r\nSubject: {self.subject}\r\nMIME-Version: 1.0\r\n"
                    f"Content-Type: {content}\r\nMessage-ID: <{digest}@{host}>\r\n"
                    f"From: \"{self.sender_name}\" <{self.sender}>\r\nTo: <{self.to}>\r\n\r\n")

    def message(self, **header):
        """Header block and body as RETR sends them between "+OK" and the final CR LF "."."""
        return self.header(**header) + wire(self.body)


def retr_reply(message):
    return b"+OK\r\n" + message + b"\r\n.\r\n"


def fetchmail(port, user, options, password="pw"):
    """Fetches a drop with fetchmail, each message into a file of its own, in order. Returns the
    files' bytes (fetchmail's Received lines, then the message with LF line ends) and its output.
    `options` are the poll's options (keep, TLS)."""
    with tempfile.TemporaryDirectory(prefix="talvex-fetchmail-") as home:
        maildir = os.path.join(home, "mail")
        os.mkdir(maildir)
        rc = os.path.join(home, "fetchmailrc")
        with open(rc, "w") as f:  # no header rewriting; files numbered in order
            f.write(f"set no bouncemail\nset no syslog\n"
                    f"poll 127.0.0.1 protocol pop3 port {port} timeout {30 * SLOW}\n"
                    f'  user "{user}" there with password "{password}" is "{getpass.getuser()}" here\n'
                    f"  fetchall no rewrite {options}\n"
                    f'  mda "cat > {maildir}/$(ls {maildir} | wc -l | xargs printf %04d)"\n')
        os.chmod(rc, 0o600)
        run = subprocess.run(["fetchmail", "-f", rc, "-v"], capture_output=True, text=True,
                             env=dict(os.environ, HOME=home, FETCHMAILHOME=home), timeout=120 * SLOW)
        if run.returncode != 0:
            raise AssertionError(f"fetchmail exited with {run.returncode}: {run.stdout}{run.stderr}")
        return [path.read_bytes() for path in sorted(pathlib.Path(maildir).iterdir())], run.stdout + run.stderr


def damage_database(data_dir):
    """Overwrites the embedded database with bytes that are no database, its log and index gone."""
    database = os.path.join(data_dir, "talvex.db")
    for suffix in ("-wal", "-shm"):
        if os.path.exists(database + suffix):
            os.remove(database + suffix)
    with open(database, "wb") as damaged:
        damaged.write(b"not a database " * 1000)


def drop_holder(data_dir, address):
    """The session that holds the lock on the drop of address in the embedded database, or None."""
    db = sqlite3.connect(os.path.join(data_dir, "talvex.db"), timeout=10)
    try:
        row = db.execute("SELECT SessionID FROM MailDropLocks WHERE Address = lower(?)",
                         (address,)).fetchone()
    finally:
        db.close()
    return row[0] if row else None


def list_items(data_dir, to=None):
    """talvex-admin item list as rows of (GWQID, status, session, to, subject, body length)."""
    out = checked_admin(data_dir, "item", "list", *(["--to", to] if to else []))
    return [tuple(row.split("\t")) for row in out.splitlines()]
