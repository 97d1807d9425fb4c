"""talvex-admin item add as the server then serves the item: the date it stores, and the field
texts it refuses because they would forge header or protocol lines; the copy of the database
taken while the server serves it, and the check that finds a damaged one."""
import os
import re
import tempfile
import time
import unittest

from harness import Server, add_user, admin, checked_admin, logged_in

DATE_LINE = re.compile(rb"^Date: (.*)\r$", re.MULTILINE)


class ItemDates(unittest.TestCase):
    def test_an_explicit_empty_date_is_dated_at_each_retrieval(self):
        with Server("--max-connections", "2") as server:
            email = add_user(server.data_dir, "dee", "pw")
            checked_admin(server.data_dir, "item", "add", "--to", email, "--date", "", "--body", "x")
            checked_admin(server.data_dir, "item", "add", "--to", email, "--body", "y")

            def dates():
                with logged_in(server.port, "dee", "pw") as client:
                    return [DATE_LINE.search(client.listing(f"RETR {n}")).group(1) for n in (1, 2)]

            first = dates()
            time.sleep(1.1)  # the Date line has whole seconds
            second = dates()
            self.assertTrue(all(first + second))
            self.assertNotEqual(first[0], second[0])  # stored empty: dated when served
            self.assertEqual(first[1], second[1])     # --date left out: stored when added


class ItemFields(unittest.TestCase):
    def test_fields_that_would_forge_lines_are_refused(self):
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as data_dir:
            refused = {
                "--subject": "Hi\r\nBcc: x@example.org",
                "--from-name": "Ann\nX-Forged: 1",
                "--from": "ann@example.org\r\n",
                "--to": "bob@example.org\rX: y",
                "--date": "Mon, 7 Dec 2026 10:00:00 +0000\n.",
                "--content": "utf-8\r\n",
                "--message-id": "id 1\r\n.\r\n+OK forged",
            }
            for option, value in refused.items():
                args = {"--to": "bob@example.org", option: value}
                run = admin(data_dir, "item", "add", *[x for pair in args.items() for x in pair], "--body", "x")
                self.assertEqual(run.returncode, 2, option)
                self.assertIn(option, run.stderr)
            self.assertEqual(checked_admin(data_dir, "item", "list"), "")
            checked_admin(data_dir, "item", "add", "--to", "bob@example.org", "--subject", 'quotes "stay" as they are', "--body", "x")
            self.assertEqual(len(checked_admin(data_dir, "item", "list").splitlines()), 1)


class DatabaseCopy(unittest.TestCase):
    def test_a_copy_taken_during_a_session_serves_the_same_mail_and_damage_is_found(self):
        with tempfile.TemporaryDirectory(prefix="talvex-e2e-") as copies:
            copy = os.path.join(copies, "talvex.db")
            with Server("--max-connections", "2") as server:
                email = add_user(server.data_dir, "cy", "pw")
                for n in range(3):
                    checked_admin(server.data_dir, "item", "add", "--to", email, "--body", f"cy {n}")
                # The copy is taken while a session holds the drop and has marked an item.
                with logged_in(server.port, "cy", "pw") as client:
                    before = client.listing("RETR 2")
                    client.command("DELE 1")
                    out = checked_admin(server.data_dir, "db", "backup", copy)
                    self.assertRegex(out, r"^db backup: .*talvex\.db: \d+ pages, checked, in ")
            self.assertEqual(checked_admin(copies, "db", "check"), "db check: ok\n")
            # A server on the copy serves the drop at once, the marked item included: the
            # session that held it never ended there.
            with Server("--max-connections", "2", "--db", "sqlite:" + copy) as server:
                with logged_in(server.port, "cy", "pw") as client:
                    self.assertTrue(client.command("STAT").startswith(b"+OK 3 "))
                    self.assertEqual(client.listing("RETR 2"), before)
            with open(copy, "r+b") as f:
                f.seek(2 * 4096)
                f.write(b"\xff" * 64)
            run = admin(copies, "db", "check")
            self.assertEqual(run.returncode, 1)
            self.assertIn("db check: ", run.stderr)


if __name__ == "__main__":
    unittest.main()
