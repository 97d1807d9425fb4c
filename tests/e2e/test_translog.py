"""The transaction log as talvex-admin writes and reads it: records come back as written, are
stored encrypted unless the registry says otherwise, and nothing is written while the log is
switched off."""
import re
import tempfile
import unittest

from harness import admin, checked_admin

DATABASE_KEY = r"Software\Corvath\Talvex\Database"
MESSAGE_ID = "0123456789ABCDEF0123456789ABCDEF"


def fields(out):
    """`translog show` output as a dict; the body is the last field and may span lines."""
    head, body = out.split("\nBody: ", 1)
    shown = dict(line.split(": ", 1) for line in head.splitlines())
    shown["Body"] = body[:-1]  # without the final line break
    return shown


class TransLog(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="talvex-e2e-")
        self.data = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def add(self, subject, body, message_id=MESSAGE_ID, *extra):
        checked_admin(self.data, "translog", "add", "--message-id", message_id, "--to", "bob@example.org",
                      "--from", "+4712345678", "--subject", subject, "--body", body, *extra)

    def show(self, *extra, message_id=MESSAGE_ID):
        return fields(checked_admin(self.data, "translog", "show", message_id, *extra))

    def test_add_then_show_gives_back_subject_and_body(self):
        body = "Two lines\r\nwith Grüße and Ωmega"
        self.add("Grüße €", body, MESSAGE_ID, "--content", "Unicode", "--cost", "1.5", "--status", "3")
        shown = self.show()
        self.assertEqual(shown["Subject"], "Grüße €")
        self.assertEqual(shown["Body"], body.replace("\r\n", "\n"))  # text-mode output reads CR LF as LF
        self.assertEqual((shown["ToAddress"], shown["Status"], shown["Cost"], shown["Encrypted"]),
                         ("bob@example.org", "3", "1.5", "1"))
        listed = checked_admin(self.data, "translog", "list").splitlines()
        self.assertEqual(len(listed), 1)
        self.assertEqual(listed[0].split("\t")[1:], [MESSAGE_ID, "O", "+4712345678", "bob@example.org", "3",
                                                     "Grüße €"])

    def test_raw_form_follows_the_encryption_setting(self):
        self.add("Secret subject", "Secret body", "A" * 32)
        raw = self.show("--raw", message_id="A" * 32)
        self.assertRegex(raw["Subject"], r"^[0-9A-F]{28}$")  # two digits per byte
        self.assertRegex(raw["Body"], r"^[0-9A-F]{22}$")
        self.assertEqual(raw["Encrypted"], "1")
        checked_admin(self.data, "reg", "set", DATABASE_KEY, "EncryptTrans", "0")
        self.add("Plain subject", "Plain body", "B" * 32)
        raw = self.show("--raw", message_id="B" * 32)
        self.assertEqual((raw["Subject"], raw["Body"], raw["Encrypted"]), ("Plain subject", "Plain body", "0"))
        # Records written before the change stay readable.
        self.assertEqual(self.show(message_id="A" * 32)["Subject"], "Secret subject")

    def test_nothing_is_written_while_the_log_is_off(self):
        checked_admin(self.data, "reg", "set", DATABASE_KEY, "TLOff", "1")
        self.add("s", "b")
        checked_admin(self.data, "reg", "set", DATABASE_KEY, "TLOff", "0")
        self.assertEqual(checked_admin(self.data, "translog", "list"), "")
        missing = admin(self.data, "translog", "show", MESSAGE_ID)
        self.assertEqual(missing.returncode, 1)
        self.assertTrue(re.match(r"talvex-admin: no transaction-log record of message '\w+'", missing.stderr))


if __name__ == "__main__":
    unittest.main()
