"""compare.py on result files of the kind kit/bench.sh writes: the ratios are taken against the
first target from the medians, and a run whose generator saw a fault makes it fail."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

COMPARE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "compare.py")
SCENARIO = {"dl4k-c8": "download", "login-c32": "login", "idle-c1000": "idle"}


def result(target, suite, rep, rate, errors=0, mismatches=0, rss=(10_000, 20_000), anon=(5_000, 5_000),
           dropped=0):
    """One pop3load JSON as bench.sh annotates it; `rate` is the suite's headline figure."""
    j = {"target": target, "suite": suite, "rep": rep, "scenario": SCENARIO[suite],
         "sessions_per_s": rate, "messages_per_s": rate * 100, "mib_per_s": rate / 10,
         "latency_us": {"RETR": {"p50": 100, "p99": 900}, "PASS": {"p50": 50, "p99": 500},
                        "session": {"p50": 1000, "p99": 9000}},
         "errors": errors, "mismatches": mismatches, "generator_cpu": {"util": 0.5},
         "sessions_completed": 100, "server_cpu_s": 1.0, "other_cpu": 0.0, "clients": 1000}
    if SCENARIO[suite] == "idle":
        j.update({"server_mem_idle0": {"rss_kib": rss[0], "pss_kib": rss[0], "anon_kib": anon[0],
                                       "processes": 1},
                  "server_mem_held": {"rss_kib": rss[1], "pss_kib": rss[1], "anon_kib": anon[1],
                                      "processes": 1},
                  "idle": {"established": 1000, "alive_at_end": 1000 - dropped,
                           "dropped_during_hold": dropped, "settle_s": 10}})
    return j


class CompareTable(unittest.TestCase):
    def run_compare(self, results, targets):
        with tempfile.TemporaryDirectory() as out:
            for j in results:
                os.makedirs(os.path.join(out, j["target"]), exist_ok=True)
                with open(os.path.join(out, j["target"], f"{j['suite']}.{j['rep']}.json"), "w") as f:
                    json.dump(j, f)
            run = subprocess.run([sys.executable, COMPARE, out, "--targets", targets],
                                 capture_output=True, text=True, timeout=60)
        rows = {tuple(c.strip() for c in line.strip("|").split("|")[:2]): line
                for line in run.stdout.splitlines()}
        return run, rows

    def test_ratios_of_medians_against_the_first_target(self):
        results = [result("talvex", "login-c32", rep, rate) for rep, rate in ((1, 90), (2, 300), (3, 100))]
        results += [result("other", "login-c32", rep, rate) for rep, rate in ((1, 50), (2, 40), (3, 1000))]
        # A mapped file can shrink the resident size while sessions are held; the private figure
        # is the sessions' own.
        results += [result("talvex", "idle-c1000", 1, 0, rss=(10_000, 8_000), anon=(5_000, 8_000)),
                    result("other", "idle-c1000", 1, 0, rss=(10_000, 1_010_000),
                           anon=(5_000, 605_000))]
        run, rows = self.run_compare(results, "talvex,other")
        self.assertEqual(run.returncode, 0, run.stderr)
        # Medians 100 and 50: 2, not the ratio of means or of any single repeat.
        self.assertIn("| 100 | 50 | 2 |", rows[("login-c32", "sessions/s")])
        self.assertIn("| -2.0 | 1,000.0 | -0.002 |", rows[("idle-c1000", "RSS KiB/session")])
        self.assertIn("| 3.0 | 600.0 | 0.005 |", rows[("idle-c1000", "private KiB/session")])

    def test_a_fault_seen_by_the_generator_fails_the_comparison(self):
        faults = {"errors": dict(errors=1), "mismatches": dict(mismatches=3), "idle drops": dict(dropped=2)}
        for name, fault in faults.items():
            with self.subTest(name):
                suite = "idle-c1000" if name == "idle drops" else "dl4k-c8"
                run, _ = self.run_compare([result("talvex", suite, 1, 10),
                                           result("other", suite, 1, 10, **fault)], "talvex,other")
                self.assertEqual(run.returncode, 1)
                self.assertIn("NOT COMPARABLE: other", run.stderr)

    def test_a_target_without_results_is_named(self):
        run, _ = self.run_compare([result("talvex", "dl4k-c8", 1, 10)], "talvex,baseline")
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("no results for baseline", run.stderr)


if __name__ == "__main__":
    unittest.main()
