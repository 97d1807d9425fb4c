"""Gateway items as talvex-admin stores them under the gateway's content settings, and as a
POP3 client then receives them."""
import base64
import unittest

from harness import (GATEWAY_KEY, WINDOWS_1252, Item, ServerCase, add_user, admin, checked_admin,
                     list_items, logged_in, retr_reply)

LATIN_1 = 'text/plain; charset="iso-8859-1"'
UTF_8 = 'text/plain; charset="utf-8"'
# The extra header line that a transfer encoding adds to the content type.
QUOTED_PRINTABLE = "\r\nContent-Transfer-Encoding: quoted-printable"
BASE64 = "\r\nContent-Transfer-Encoding: base64"


class GatewayItems(ServerCase):
    server_args = ("--logging-mode", "1")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.address = add_user(cls.data, "gina", "pw")
        cls.settings = {}

    def configure(self, *settings):
        """Registry (ContentType, ContTransEncoding) for the next item add, None for an absent
        one (each admin process reads them once)."""
        for name, value in zip(("ContentType", "ContTransEncoding"), settings):
            if self.settings.get(name) == value:
                continue
            if value is None:
                admin(self.data, "reg", "delete", GATEWAY_KEY, name)  # may be absent already
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
        numbers = {gwqid: n for n, gwqid in enumerate(sorted(by_id, key=int), 1)}
        with logged_in(self.server.port, "gina", "pw") as client:
            for item, content, body in cases:
                n, message = numbers[item.gwqid], item.header(content=content) + body
                self.assertEqual(client.listing(f"RETR {n}"), retr_reply(message), item.subject)
                self.assertEqual(client.command(f"LIST {n}"), f"+OK {n} {len(message)}\r\n".encode())
                self.assertEqual(by_id[item.gwqid][5], str(len(body)), item.subject)
            uidl = client.listing("UIDL")
            self.assertEqual(client.command("QUIT")[:3], b"+OK")
        return uidl

    def test_charsets(self):
        sample, cp1252 = "Café 5€ = 1\tend\r\n", b"Caf\xe9 5\x80 = 1\tend\r\n"
        self.assertServed([
            (self.store((None, None), sample, subject="absent settings"), WINDOWS_1252, cp1252),
            (self.store(("0", "0"), sample, subject="0/0"), WINDOWS_1252, cp1252),
            (self.store(("1", "0"), "Price 5€, café", subject="latin"), LATIN_1, b"Price 5EUR, caf\xe9"),
            # Á and č hold bytes that Windows-1252 leaves undefined (0x81, 0x8D).
            (self.store(("2", "0"), "café € Á č", subject="utf"), UTF_8, "café € Á č".encode()),
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
        encoded = base64.b64encode(long_text.encode())  # in lines of 76, no line end after the last
        self.assertServed([
            (self.store(("0", "1"), "Café = 5€\tx\r\n" + "y" * 200, subject="qp"),
             WINDOWS_1252 + QUOTED_PRINTABLE, b"Caf=E9 =3D 5=80=09x\r\n" + b"y" * 200),
            (self.store(("2", "1"), "é = ü\r\nnext", subject="qp utf"), UTF_8 + QUOTED_PRINTABLE,
             b"=C3=A9 =3D =C3=BC\r\nnext"),
            (self.store(("2", "2"), long_text, subject="b64 utf"), UTF_8 + BASE64,
             b"\r\n".join([encoded[:76], encoded[76:152], encoded[152:]])),
            (self.store(("0", "2"), "Café 5€", subject="b64"), WINDOWS_1252 + BASE64, b"Q2Fm6SA1gA=="),
            (self.store(("0", "2"), "", subject="b64 empty"), WINDOWS_1252 + BASE64, b""),
        ])

    def test_bad_content_type_and_long_fields(self):
        before = list_items(self.data, self.address)
        self.configure("abc", "0")
        failed = admin(self.data, "item", "add", "--to", self.address, "--body", "x")
        self.assertEqual((failed.returncode, failed.stdout), (1, ""))
        self.assertIn("Unable to add Gateway item due to a database error", failed.stderr)
        self.assertEqual(list_items(self.data, self.address), before)
        # The setting is read only when the settings choose the charset; long fields are cut.
        subject = "".join(f"{n:03d}-" for n in range(75))  # 300 characters
        long_id = "id" + "-" * 298
        cases = [
            (self.store(("abc", "0"), "ok", content="utf-8", subject="chosen by caller"), UTF_8, b"ok"),
            (self.store(("0", "0"), "1", subject=subject, message_id=long_id), WINDOWS_1252, b"1"),
            (self.store(("0", "0"), "2", subject="ü" * 300), WINDOWS_1252, b"2"),
        ]
        cases[1][0].subject, cases[2][0].subject = subject[:255], "ü" * 255
        uidl = self.assertServed(cases)
        self.assertIn(f" {long_id[:255]}\r\n".encode(), uidl)


if __name__ == "__main__":
    unittest.main()
