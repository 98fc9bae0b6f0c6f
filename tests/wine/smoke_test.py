#!/usr/bin/python3
"""Runs the real RAVITOR.exe under Wine in a throw-away prefix with its own
Xvfb display, with policies written to the prefix's registry the way Group
Policy leaves them, and watches it from outside."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winesession import HKLM, PRODUCT_KEY, TS_KEY, WAIT_SECONDS, WineSession  # noqa: E402

RAVITOR = os.path.abspath(os.environ.get("RAVITOR_EXE", "build/windows/RAVITOR.exe"))
DRIVER = os.path.abspath(os.environ.get("RAVITOR_DRIVER", "build/windows/SessionDriver.exe"))


class SmokeTest(unittest.TestCase):
    def setUp(self):
        self.session = WineSession()
        self.addCleanup(self.session.close)

    def test_master_switch_off_exits_at_once_with_code_zero(self):
        self.session.write_registry({(HKLM, PRODUCT_KEY): {"RunRAVITOR": 0},
                                     (HKLM, TS_KEY): {"MaxIdleTime": 600000}})
        process = self.session.start(RAVITOR)
        self.assertEqual(process.wait(timeout=WAIT_SECONDS), 0)
        self.assertEqual(self.session.driver(DRIVER, "find")[0], 1, "no window is left behind")

    def test_stays_resident_with_hidden_window_until_file_exit(self):
        self.session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 600000}})
        process = self.session.start(RAVITOR)
        if not self.session.wait_for_window(process, DRIVER):
            self.fail("no hidden window titled and classed with the application name:\n"
                      + self.session.diagnosis(process, DRIVER))
        self.session.drive(DRIVER, "command", 105)
        self.assertEqual(process.wait(timeout=WAIT_SECONDS), 0)


if __name__ == "__main__":
    if len(sys.argv) > 2:
        DRIVER = os.path.abspath(sys.argv.pop(2))
        RAVITOR = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
