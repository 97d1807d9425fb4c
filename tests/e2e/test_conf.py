"""Configuration items and the database's version through talvex-admin, on the database that a
running server uses."""
import unittest

from harness import ServerCase, admin, checked_admin


class Configuration(ServerCase):
    def test_set_get_and_list(self):
        checked_admin(self.data, "conf", "set", "Mail", "Domain", "example.org")
        checked_admin(self.data, "conf", "set", "Mail", "Relay", "relay.example.org")
        checked_admin(self.data, "conf", "set", "Queue", "Retries", "5")
        self.assertEqual(checked_admin(self.data, "conf", "get", "Mail", "Domain"), "example.org\n")
        checked_admin(self.data, "conf", "set", "Mail", "Domain", "example.net")  # replaces
        self.assertEqual(checked_admin(self.data, "conf", "get", "Mail", "Domain"), "example.net\n")
        self.assertEqual(checked_admin(self.data, "conf", "list", "Mail"),
                         "Mail\tDomain\texample.net\nMail\tRelay\trelay.example.org\n")
        listed = checked_admin(self.data, "conf", "list").splitlines()
        self.assertIn("Queue\tRetries\t5", listed)
        self.assertEqual(listed, sorted(listed))

    def test_absent_item_is_refused_unless_a_default_is_given(self):
        run = admin(self.data, "conf", "get", "Mail", "Absent")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.stderr,
                         "talvex-admin: no configuration item 'Absent' in category 'Mail' (or it is empty)\n")
        self.assertEqual(checked_admin(self.data, "conf", "get", "Mail", "Absent", "--default", "none"),
                         "none\n")
        checked_admin(self.data, "conf", "set", "Empty", "Blank", "")
        self.assertEqual(checked_admin(self.data, "conf", "get", "Empty", "Blank", "--default", "d"), "d\n")

    def test_database_version(self):
        self.assertEqual(checked_admin(self.data, "db", "version"), "231\n")

    def test_usage(self):
        for args in (["conf", "set", "Mail", "Domain"], ["conf"], ["db"], ["conf", "get", "Mail"]):
            run = admin(self.data, *args)
            self.assertEqual(run.returncode, 2, args)
            self.assertEqual(run.stdout, "", args)
            self.assertTrue(run.stderr, args)
        for args in (["conf", "--help"], ["conf", "get", "--help"], ["db", "version", "--help"]):
            run = admin(self.data, *args)
            self.assertEqual(run.returncode, 0, args)
            self.assertIn("Usage", run.stdout, args)


if __name__ == "__main__":
    unittest.main()
