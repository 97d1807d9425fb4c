"""Gateway items as talvex-admin stores them under the gateway's content settings, and as a
POP3 client then receives them."""
import base64
import unittest

from harness import (GATEWAY_KEY, WINDOWS_1252, Item, Server, add_user, admin, checked_admin,
                     list_items, logged_in, retr_reply)

LATIN_1 = 'text/plain; charset="iso-8859-1"'
UTF_8 = 'text/plain; charset="utf-8"'
QUOTED_PRINTABLE = "\r\nContent-Transfer-Encoding: quoted-printable"
BASE64 = "\r\nContent-Transfer-Encoding: base64"


def base64_lines(data):
    encoded = base64.b64encode(data)
    return b"\r\n".join(encoded[at:at + 76] for at in range(0, len(encoded), 76))


class GatewayItems(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("--logging-mode", "1")
        cls.data = cls.server.data_dir
        cls.address = add_user(cls.data, "gina", "pw")
        cls.settings = {}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def configure(self, content_type, transfer_encoding):
        """Registry settings for the next item add (each admin process reads them once)."""
        for name, value in zip(("ContentType", "ContTransEncoding"),
                               (content_type, transfer_encoding)):
            if self.settings.get(name, None) == value:
                continue
            if value is None:
                admin(self.data, "reg", "delete", GATEWAY_KEY, name)
            else:
                checked_admin(self.data, "reg", "set", GATEWAY_KEY, name, value)
            self.settings[name] = value

    def store(self, settings, body, content=None, **fields):
        self.configure(*settings)
        return Item(self.data, self.address, body, content=content, **fields)

    def assertServed(self, cases):
        """Each (item, content description, body octets) comes out of RETR exactly so, and LIST
        and the stored body length count those octets."""
        by_id = {row[0]: row for row in list_items(self.data, self.address)}
        with logged_in(self.server.port, "gina", "pw") as client:
            numbers = {row: n for n, row in enumerate(sorted(by_id, key=int), 1)}
            for item, content, body in cases:
                n = numbers[item.gwqid]
                message = item.header(content=content) + body
                self.assertEqual(client.retrieve(f"RETR {n}"), retr_reply(message), item.subject)
                self.assertEqual(client.command(f"LIST {n}"),
                                 f"+OK {n} {len(message)}\r\n".encode())
                self.assertEqual(by_id[item.gwqid][5], str(len(body)), item.subject)
            self.assertEqual(client.command("QUIT")[:3], b"+OK")

    def test_charsets(self):
        sample = "Café 5€ = 1\tend\r\n"
        cp1252 = b"Caf\xe9 5\x80 = 1\tend\r\n"
        utf8 = "café € Á č".encode()  # Á and č hold bytes that Windows-1252 leaves undefined
        self.assertIn(b"\x81", utf8)
        self.assertIn(b"\x8d", utf8)
        self.assertServed([
            (self.store((None, None), sample, subject="absent settings"), WINDOWS_1252, cp1252),
            (self.store(("0", "0"), sample, subject="0/0"), WINDOWS_1252, cp1252),
            (self.store(("1", "0"), "Price 5€, café", subject="latin"), LATIN_1,
             b"Price 5EUR, caf\xe9"),
            (self.store(("2", "0"), "café € Á č", subject="utf"), UTF_8, utf8),
            # Only the exact name lets the settings choose; any other request is UTF-8.
            (self.store(("1", "0"), "5€", content="windows-1252", subject="case"), UTF_8,
             b"5\xe2\x82\xac"),
            (self.store(("0", "0"), "5€", content="", subject="empty"), UTF_8, b"5\xe2\x82\xac"),
            (self.store(("7", "0"), "5€", subject="other number"), WINDOWS_1252, b"5\x80"),
            # ContentType is a number, ContTransEncoding exact text.
            (self.store(("01", "01"), "5€", subject="leading zeros"), LATIN_1, b"5EUR"),
        ])

    def test_transfer_encodings(self):
        long_text = "é" * 30 + " base64 " + "x" * 60
        long_utf8 = long_text.encode()
        cases = [
            (self.store(("0", "1"), "Café = 5€\tx\r\n" + "y" * 200, subject="qp"),
             WINDOWS_1252 + QUOTED_PRINTABLE, b"Caf=E9 =3D 5=80=09x\r\n" + b"y" * 200),
            (self.store(("2", "1"), "é = ü\r\nnext", subject="qp utf"), UTF_8 + QUOTED_PRINTABLE,
             b"=C3=A9 =3D =C3=BC\r\nnext"),
            (self.store(("2", "2"), long_text, subject="b64 utf"), UTF_8 + BASE64,
             base64_lines(long_utf8)),
            (self.store(("0", "2"), "Café 5€", subject="b64"), WINDOWS_1252 + BASE64,
             b"Q2Fm6SA1gA=="),
            (self.store(("0", "2"), "", subject="b64 empty"), WINDOWS_1252 + BASE64, b""),
        ]
        self.assertServed(cases)
        # Lines of 76 characters, CR LF between them and none after the last.
        lines = cases[2][2].split(b"\r\n")
        self.assertEqual([len(line) for line in lines], [76, 76, 20])
        self.assertEqual(base64.b64decode(b"".join(lines)), long_utf8)

    def test_bad_content_type_and_long_fields(self):
        before = list_items(self.data, self.address)
        self.configure("abc", "0")
        failed = admin(self.data, "item", "add", "--to", self.address, "--body", "x")
        self.assertEqual(failed.returncode, 1)
        self.assertEqual(failed.stdout, "")
        self.assertIn("Unable to add Gateway item due to a database error", failed.stderr)
        self.assertEqual(list_items(self.data, self.address), before)
        # The setting is read only when the settings choose the charset.
        self.configure("0", "0")
        subject = "".join(f"{n:03d}-" for n in range(75))  # 300 characters
        umlauts = "ü" * 300
        long_id = "id" + "-" * 298
        cases = [
            (self.store(("abc", "0"), "ok", content="utf-8", subject="chosen by caller"), UTF_8,
             b"ok"),
            (self.store(("0", "0"), "1", subject=subject, message_id=long_id), WINDOWS_1252, b"1"),
            (self.store(("0", "0"), "2", subject=umlauts), WINDOWS_1252, b"2"),
        ]
        stored = {row[0]: row[4] for row in list_items(self.data, self.address)}
        self.assertEqual(stored[cases[1][0].gwqid], subject[:255])
        self.assertEqual(stored[cases[2][0].gwqid], "ü" * 255)
        cases[1][0].subject = subject[:255]
        cases[2][0].subject = "ü" * 255
        self.assertServed(cases)
        with logged_in(self.server.port, "gina", "pw") as client:
            uidl = client.listing("UIDL").split(b"\r\n")
            self.assertIn(long_id[:255].encode(), [line.split(b" ")[1] for line in uidl[1:-2]])


if __name__ == "__main__":
    unittest.main()
