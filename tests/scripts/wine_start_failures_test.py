"""Which failed Windows tests scripts/test runs once more: only those whose
output shows Wine's internal process-start error, or that never printed."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib"))
import wine_start_failures  # noqa: E402


class ShowsWineStartErrorTest(unittest.TestCase):
    CASES = [
        # As the tests, the host and Wine report the error.
        ("CreateProcess: 1359", True),
        ("VpnManager: Failed to create process, error: 1359", True),
        ("CreateProcessW failed (error code 1359)", True),
        ("err:process:start failed 1359", True),
        ("GetLastError() == ERROR_INTERNAL_ERROR", True),
        # Other failures, and the number in other roles.
        ("[  FAILED  ] AppTest.StartsAndStops (1359 ms)", False),
        ("Expected: 0\n  Actual: 1359", False),
        ("CreateProcess: 2", False),
        ("error 13590", False),
        ("pid 1359 exited with code 3", False),
    ]

    def test_cases(self):
        for output, expected in self.CASES:
            with self.subTest(output=output):
                self.assertEqual(wine_start_failures.shows_wine_start_error(output), expected)


REPORT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite tests="6" failures="4">
  <testcase name="Start.Flaky" status="fail"><failure message=""/>
    <system-out>CreateProcess: 1359</system-out></testcase>
  <testcase name="Start.Broken" status="fail"><failure message=""/>
    <system-out>Expected equality (1359 ms)</system-out></testcase>
  <testcase name="Start.Passed" status="run">
    <system-out>error 1359 logged and handled</system-out></testcase>
  <testcase name="Start.TimedOut" status="fail"><failure message="error 1359"/></testcase>
  <testcase name="Start.NeverRan" status="fail"><failure message=""/>
    <system-out>
</system-out></testcase>
  <testcase name="Start.Silent" status="run"><system-out></system-out></testcase>
</testsuite>
"""


class FailedWithWineStartErrorTest(unittest.TestCase):
    def test_only_failed_tests_whose_output_shows_the_error_or_is_empty(self):
        with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as report:
            report.write(REPORT)
        try:
            self.assertEqual(wine_start_failures.failed_with_wine_start_error(report.name),
                             ["Start.Flaky", "Start.TimedOut", "Start.NeverRan"])
        finally:
            os.unlink(report.name)


if __name__ == "__main__":
    unittest.main()
