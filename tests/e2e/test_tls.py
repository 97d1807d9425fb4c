"""TLS: implicit TLS on its own port, STLS on the plain port, --require-tls, certificate reload,
and what stalled or misbehaving TLS clients can and cannot do to the server."""
import os
import pathlib
import poplib
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

from harness import (BIN_DIR, CAPABILITIES, HOWDY, PROVE, SIGN_OFF, SLOW, GREETING_RE, Item,
                     Pop3Client, Server, add_user, fetchmail, free_port, greeted, logged_in, retr_reply,
                     unknown)

STLS_CAPABILITIES = b"+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\nSTLS\r\n.\r\n"
BEGIN_TLS = b"+OK Begin TLS negotiation\r\n"
NOT_BEFORE_TLS = b"-ERR Command not permitted before STLS\r\n"
TLS_ACTIVE = b"-ERR Command not permitted when TLS active\r\n"


def make_certificate(directory, name):
    """A self-signed certificate for 127.0.0.1 and its key, as PEM files; their paths."""
    cert, key = os.path.join(directory, f"{name}.crt"), os.path.join(directory, f"{name}.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", f"/CN={name}",
                    "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    return cert, key


def client_context(cert):
    context = ssl.create_default_context(cafile=cert)
    return context


def tls_port(server):
    line = server.wait_for(lambda l: l.message.startswith("POP3 server listening for TLS on port "))
    return int(line.message.rsplit(" ", 1)[1])


class TlsCase(unittest.TestCase):
    server_args = ()

    @classmethod
    def setUpClass(cls):
        cls._certs = tempfile.TemporaryDirectory(prefix="talvex-tls-")
        cls.cert, cls.key = make_certificate(cls._certs.name, "first")
        cls.server = Server("--logging-mode", "2", "--tls-port", "0", "--tls-cert", cls.cert,
                            "--tls-key", cls.key, *cls.server_args)
        cls.data = cls.server.data_dir
        cls.tls_port = tls_port(cls.server)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls._certs.cleanup()

    def wrap(self, client, cert=None, strict=False):
        """Negotiates TLS on a raw client's socket; a strict client takes an end of the stream
        without close_notify for a cut (ssl.SSLEOFError)."""
        client.sock = client_context(cert or self.cert).wrap_socket(
            client.sock, server_hostname="127.0.0.1", suppress_ragged_eofs=not strict)
        return client

    def implicit(self):
        """A raw client on the TLS port, past its greeting."""
        client = self.wrap(Pop3Client(self.tls_port))
        self.assertRegex(client.read_until(), GREETING_RE)
        return client


class Clients(TlsCase):
    """Real clients fetch over TLS exactly what the plain port serves."""

    def test_poplib_over_implicit_tls_and_stls_gets_the_plain_bytes(self):
        address = add_user(self.data, "pia", "pw")
        items = [Item(self.data, address, "Hello,\r\nover TLS.\r\n", subject="One"),
                 Item(self.data, address, "\r\n".join(f"line {n}" for n in range(3000)), subject="Big")]
        with logged_in(self.server.port, "pia", "pw") as plain:
            expected = [plain.listing(f"RETR {n}") for n in (1, 2)]
            plain.command("QUIT")
        self.assertEqual(expected, [retr_reply(item.message()) for item in items])
        self.server.wait_sessions_ended()

        implicit = poplib.POP3_SSL("127.0.0.1", self.tls_port, context=client_context(self.cert),
                                   timeout=10 * SLOW)
        stls = poplib.POP3("127.0.0.1", self.server.port, timeout=10 * SLOW)
        self.assertEqual(stls.stls(client_context(self.cert)), BEGIN_TLS.rstrip())
        for pop in (implicit, stls):
            pop.user("pia")
            pop.pass_("pw")
            got = [b"+OK\r\n" + b"\r\n".join(pop.retr(n)[1]) + b"\r\n.\r\n" for n in (1, 2)]
            # poplib undoes nothing here: the bodies have no leading dots
            self.assertEqual(got, expected)
            self.assertEqual(pop.quit(), SIGN_OFF.rstrip())
        self.server.wait_sessions_ended()

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl_pop3s_and_required_stls(self):
        address = add_user(self.data, "cole", "pw")
        item = Item(self.data, address, "Fetched by curl.\r\n", subject="Curl")
        urls = [f"pop3s://cole:pw@127.0.0.1:{self.tls_port}/1", f"pop3://cole:pw@127.0.0.1:{self.server.port}/1"]
        for url in urls:
            got = subprocess.run(["curl", "-sS", "--cacert", self.cert, "--ssl-reqd", url],
                                 capture_output=True, timeout=60 * SLOW)
            self.assertEqual(got.returncode, 0, got.stderr)
            self.assertEqual(got.stdout, item.message() + b"\r\n")
        self.server.wait_sessions_ended()
        # Both went through TLS: curl's STLS shows up in the log as a command of its own.
        self.assertGreaterEqual(self.server.count("STLS"), 1)

    @unittest.skipUnless(shutil.which("fetchmail"), "fetchmail is not installed")
    def test_fetchmail_with_implicit_tls_and_with_stls(self):
        address = add_user(self.data, "fred", "pw")
        item = Item(self.data, address, "Fetched by fetchmail.\r\n", subject="Fetchmail")
        for port, options in ((self.tls_port, "ssl"), (self.server.port, "sslproto 'auto'")):
            (delivered,), output = fetchmail(
                port, "fred", f"keep {options} sslcertck sslcertfile {self.cert} sslcommonname first")
            self.assertIn("SSL/TLS", output)  # fetchmail says it used TLS
            self.assertTrue(delivered.endswith(item.message().replace(b"\r\n", b"\n") + b"\n"), delivered)
            self.server.wait_sessions_ended()


class Dialogue(TlsCase):
    """What STLS and CAPA say, and when."""

    def test_capa_lists_stls_only_before_tls_on_the_plain_port(self):
        with greeted(self.server.port) as plain:
            self.assertEqual(plain.listing("CAPA"), STLS_CAPABILITIES)
            self.assertEqual(plain.command("STLS"), BEGIN_TLS)
            self.wrap(plain)
            self.assertEqual(plain.listing("CAPA"), CAPABILITIES)
            self.assertEqual(plain.command("STLS"), TLS_ACTIVE)
            self.assertRegex(self.server.wait_for(lambda l: l.message.startswith("TLS on socket ")).message,
                             r"^TLS on socket \d+: TLSv1\.[23] \S+$")
            self.assertEqual([plain.command("USER pia"), plain.command("QUIT")], [PROVE, SIGN_OFF])
        with self.implicit() as implicit:
            self.assertEqual(implicit.listing("CAPA"), CAPABILITIES)
            self.assertEqual(implicit.command("STLS"), TLS_ACTIVE)

    def test_the_sign_off_ends_the_tls_stream_and_is_no_cut(self):
        with self.wrap(Pop3Client(self.tls_port), strict=True) as implicit:
            self.assertRegex(implicit.read_until(), GREETING_RE)
            self.assertEqual(implicit.command("QUIT"), SIGN_OFF)
            self.assertEqual(implicit.closed_after(), b"")
        with greeted(self.server.port) as plain:
            self.assertEqual(plain.command("STLS"), BEGIN_TLS)
            self.wrap(plain, strict=True)
            self.assertEqual(plain.command("QUIT"), SIGN_OFF)
            self.assertEqual(plain.closed_after(), b"")

    def test_stls_only_before_user(self):
        with greeted(self.server.port) as plain:
            self.assertEqual(plain.command("USER pia"), PROVE)
            self.assertEqual(plain.command("STLS"), b"-ERR Command is not valid in this state.\r\n")

    def test_plain_text_sent_after_stls_is_never_a_command(self):
        with greeted(self.server.port) as plain:
            plain.send(b"STLS\r\n")
            self.assertEqual(plain.read_until(), BEGIN_TLS)
            plain.send(b"INJECTED\r\n")  # sent before the handshake: the handshake eats it
            rest = plain.closed_after()
        self.assertNotIn(b"INJECTED", rest)
        self.server.wait_for(lambda l: l.message.startswith("TLS handshake on socket ")
                             and " failed: " in l.message)
        self.assertEqual(self.server.count("INJECTED"), 0)


class StalledHandshakes(TlsCase):
    def test_stalled_clients_neither_block_others_nor_keep_their_slots(self):
        address = add_user(self.data, "sam", "pw")
        item = Item(self.data, address, "Still served.\r\n", subject="Busy")
        stalled = [socket.create_connection(("127.0.0.1", self.tls_port)) for _ in range(20)]
        try:
            start = time.time()
            with logged_in(self.server.port, "sam", "pw") as plain:
                self.assertEqual(plain.listing("RETR 1"), retr_reply(item.message()))
                self.assertEqual(plain.command("QUIT"), SIGN_OFF)
            self.assertLess(time.time() - start, 5 * SLOW)  # well inside the handshake limit
            for s in stalled:  # dropped once the handshake limit has passed, without a byte
                s.settimeout(30 * SLOW)
                self.assertEqual(s.recv(100), b"")
        finally:
            for s in stalled:
                s.close()
        self.server.wait_count(lambda m: m.startswith("TLS handshake on socket ") and m.endswith("timed out"), 20)
        self.server.wait_sessions_ended()


class RequiredTls(TlsCase):
    server_args = ("--require-tls",)

    def test_log_in_only_after_stls(self):
        address = add_user(self.data, "rita", "pw")
        with greeted(self.server.port) as plain:
            self.assertEqual([plain.command("USER rita"), plain.command("PASS pw")], [NOT_BEFORE_TLS] * 2)
            self.assertEqual(plain.command("STLS"), BEGIN_TLS)
            self.wrap(plain)
            self.assertEqual([plain.command("USER rita"), plain.command("PASS pw")], [PROVE, HOWDY])
            self.assertEqual(plain.command("QUIT"), SIGN_OFF)
        self.assertEqual(self.server.count(lambda m: "pw" in m.split()), 0)  # the password never logged
        with self.implicit() as implicit:
            self.assertEqual([implicit.command("USER rita"), implicit.command("PASS pw")], [PROVE, HOWDY])
        self.assertTrue(address)


class Reload(TlsCase):
    def test_sighup_swaps_the_certificate_for_new_connections_only(self):
        address = add_user(self.data, "hal", "pw")
        item = Item(self.data, address, "Across a reload.\r\n", subject="Reload")
        running = self.implicit()
        self.assertEqual([running.command("USER hal"), running.command("PASS pw")], [PROVE, HOWDY])
        first_der = running.sock.getpeercert(binary_form=True)

        second_cert, second_key = make_certificate(self._certs.name, "second")
        shutil.copy(second_cert, self.cert)
        shutil.copy(second_key, self.key)
        self.server.proc.send_signal(signal.SIGHUP)
        self.server.wait_message("TLS certificate and key reloaded")

        self.assertEqual(running.listing("RETR 1"), retr_reply(item.message()))
        with self.wrap(Pop3Client(self.tls_port), second_cert) as fresh:
            self.assertRegex(fresh.read_until(), GREETING_RE)
            self.assertNotEqual(fresh.sock.getpeercert(binary_form=True), first_der)

        # A broken key file is refused and the certificate in use stays.
        pathlib.Path(self.key).write_text("not a key\n")
        self.server.proc.send_signal(signal.SIGHUP)
        failed = self.server.wait_for(lambda l: l.message.startswith("TLS reload failed"))
        self.assertIn(self.key, failed.message)
        with self.wrap(Pop3Client(self.tls_port), second_cert) as after:
            self.assertRegex(after.read_until(), GREETING_RE)
        self.assertEqual(running.command("QUIT"), SIGN_OFF)
        running.close()


class Options(unittest.TestCase):
    def run_server(self, *args):
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as data:
            return subprocess.run([os.path.join(BIN_DIR, "talvex-pop3d"), "--port", "0", "--data-dir", data,
                                   *args], capture_output=True, text=True, timeout=30 * SLOW)

    def test_bad_tls_options_are_usage_errors(self):
        with tempfile.TemporaryDirectory(prefix="talvex-tls-") as directory:
            cert, key = make_certificate(directory, "opt")
            other_cert, _ = make_certificate(directory, "other")
            cases = {
                ("--tls-cert", cert): "--tls-key",
                ("--tls-port", "0"): "--tls-cert",
                ("--require-tls",): "--tls-cert",
                ("--tls-cert", cert, "--tls-key", os.path.join(directory, "missing.key")): "missing.key",
                ("--tls-cert", other_cert, "--tls-key", key): "mismatch",
            }
            for args, named in cases.items():
                run = self.run_server(*args)
                self.assertEqual(run.returncode, 2, (args, run.stderr))
                self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
                self.assertIn(named, run.stderr)

    def test_tls_port_in_use_fails_the_start(self):
        with tempfile.TemporaryDirectory(prefix="talvex-tls-") as directory, socket.socket() as taken:
            cert, key = make_certificate(directory, "busy")
            port = free_port()
            taken.bind(("", port))
            taken.listen()
            run = self.run_server("--tls-port", str(port), "--tls-cert", cert, "--tls-key", key)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn(f"Port number {port} is currently in use", run.stdout)

    def test_without_tls_options_stls_is_unknown(self):
        with Server("--logging-mode", "2") as server, greeted(server.port) as plain:
            self.assertEqual(plain.listing("CAPA"), CAPABILITIES)
            self.assertEqual(plain.command("STLS"), unknown("STLS"))
            self.assertEqual(server.count(lambda m: "TLS" in m and m != "STLS"), 0)


if __name__ == "__main__":
    unittest.main()
