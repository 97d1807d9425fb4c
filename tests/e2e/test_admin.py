"""talvex-admin item add as the server then serves the item: the date it stores."""
import re
import time
import unittest

from harness import Server, add_user, checked_admin, logged_in

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


if __name__ == "__main__":
    unittest.main()
