"""talvex-pop3d --metrics: the OpenMetrics text at /metrics, parsed strictly, and its counts
moving with a scripted session."""
import re
import time
import unittest
import urllib.error
import urllib.request

from harness import Server, add_user, checked_admin, greeted, logged_in

SAMPLE = re.compile(r'^([a-z_]+)(\{[a-z_]+="[^"\\]*"(?:,[a-z_]+="[^"\\]*")*\})? (\S+)$')
SUFFIXES = {"counter": ("_total",), "gauge": ("",), "histogram": ("_bucket", "_sum", "_count")}


def parse(text):
    """{(name, labels): value}, after checking the exposition line by line: every sample under
    its family's TYPE with a suffix that the type allows, a float value, cumulative histogram
    buckets ending in +Inf equal to the count, and "# EOF" last."""
    lines = text.split("\n")
    assert lines[-2:] == ["# EOF", ""], "the text must end with # EOF"
    family, kind, samples, buckets = None, None, {}, []
    for line in lines[:-2]:
        if line.startswith("# TYPE "):
            family, kind = line.split(" ")[2:4]
            assert kind in SUFFIXES, line
            buckets = []
        elif line.startswith("# HELP "):
            assert line.split(" ")[2] == family, line
        else:
            match = SAMPLE.match(line)
            assert match, f"not a sample: {line!r}"
            name, labels, value = match.group(1), match.group(2) or "", float(match.group(3))
            assert any(name == family + s for s in SUFFIXES[kind]), f"{name} outside {family}"
            if name.endswith("_bucket"):
                assert not buckets or value >= buckets[-1], "buckets must be cumulative"
                buckets.append(value)
            if kind == "histogram" and name.endswith("_count"):
                assert labels == "" and buckets and buckets[-1] == value, "+Inf must equal count"
            samples[(name, labels)] = value
    return samples


def scrape(server):
    line = server.wait_for(lambda l: l.message.startswith("Metrics at http://"))
    url = line.message.split(" ")[-1]
    with urllib.request.urlopen(url, timeout=10) as answer:
        assert answer.headers["Content-Type"].startswith("application/openmetrics-text"), answer.headers
        return parse(answer.read().decode())


class Metrics(unittest.TestCase):
    def test_counts_move_with_a_session_and_the_text_parses(self):
        with Server("--max-connections", "4", "--logging-mode", "2", "--metrics", "127.0.0.1:0") as server:
            before = scrape(server)
            self.assertEqual(before[("talvex_sessions_total", "")], 0)
            email = add_user(server.data_dir, "mo", "pw")
            for body in ("first", "second"):
                checked_admin(server.data_dir, "item", "add", "--to", email, "--body", body)
            with logged_in(server.port, "mo", "pw") as client:
                client.command("STAT")
                retrieved = client.listing("RETR 1")
                client.command("DELE 2")
                client.command("XYZZY")
                client.command("QUIT")
            with greeted(server.port) as client:
                client.command("USER mo")
                client.command("PASS wrong")
            server.wait_count(lambda m: m.endswith(" destroyed"), 2)
            after = scrape(server)
            self.assertEqual(after[("talvex_sessions_total", "")], 2)
            self.assertEqual(after[("talvex_sessions_open", "")], 0)
            self.assertEqual(after[("talvex_logins_total", '{result="ok"}')], 1)
            self.assertEqual(after[("talvex_logins_total", '{result="failed"}')], 1)
            self.assertEqual(after[("talvex_messages_retrieved_total", "")], 1)
            # The octets of the message itself: what follows the status line, up to the end.
            self.assertEqual(after[("talvex_retrieved_octets_total", "")],
                             len(retrieved) - len(b"+OK\r\n") - len(b"\r\n"))
            self.assertEqual(after[("talvex_items_deleted_total", "")], 1)
            for word, count in {"USER": 2, "PASS": 2, "STAT": 1, "RETR": 1, "DELE": 1, "QUIT": 1,
                                "other": 1}.items():
                self.assertEqual(after[("talvex_commands_total", f'{{command="{word}"}}')], count, word)
            self.assertGreater(after[("talvex_database_call_seconds_count", "")], 0)
            self.assertEqual(after[("talvex_database_errors_total", "")], 0)
            # The loop's probe fires every 100 ms; a fast run may end before its first.
            deadline = time.time() + 10
            while after[("talvex_event_loop_lag_seconds_count", "")] == 0 and time.time() < deadline:
                time.sleep(0.05)
                after = scrape(server)
            self.assertGreater(after[("talvex_event_loop_lag_seconds_count", "")], 0)
            url = server.wait_for(lambda l: l.message.startswith("Metrics at")).message.split(" ")[-1]
            with self.assertRaises(urllib.error.HTTPError) as missing:
                urllib.request.urlopen(url.replace("/metrics", "/other"), timeout=10)
            self.assertEqual(missing.exception.code, 404)

    def test_only_loopback_addresses_are_accepted(self):
        from test_host import pop3d
        run = pop3d("--metrics", "0.0.0.0:9110", "--port", "1")
        self.assertEqual(run.returncode, 2)
        self.assertIn("not a loopback address", run.stderr)


if __name__ == "__main__":
    unittest.main()
