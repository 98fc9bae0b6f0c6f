#!/usr/bin/python3
"""Installs TolvexPellanSessionTimers-<version>-x64.msi with its default
start method into a throw-away Wine prefix and checks the session service:
it runs, RAVITOR.exe runs in the session, a copy ended the way Task Manager
ends it (exit code 1) or with File, Exit (exit code 0) is back while a limit
is set, a copy ended with File, Exit stays gone once RunRAVITOR is 0, and
uninstalling removes the service. What the service decides is read from its
own trace lines, so each step waits for the decision rather than for time."""
import argparse
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from install_test import WinePrefix  # noqa: E402
from winesession import HKLM, PRODUCT_KEY, TRACE_KEY, TS_KEY, wait_until  # noqa: E402

SERVICE = "TolvexPellanSessionTimers"
SERVICE_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE
SOURCE_KEY = (r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\Application"
              r"\Tolvex Pellan Session Timers Service")
INSTALLED_SERVICE = r"C:\Program Files\Tolvex Pellan Session Timers\RAVITOR-service.exe"
# Wine has one session, session 1.
SESSION = 1
STARTED = f"Started RAVITOR.exe in session {SESSION}"
WAIT_SECONDS = 60

arguments = None


class SessionServiceUnderWine(unittest.TestCase):
    def setUp(self):
        self.wine = WinePrefix()
        self.addCleanup(self.wine.close)
        # Windows' own idle limit, and the trace switch for the service's lines.
        self.wine.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 600000}, (HKLM, TRACE_KEY): {}})
        self.wine.drive(arguments.driver, "park", 5, 5)
        self.wine.start_trace_viewer(arguments.trace, filters=("--image", "RAVITOR-service.exe"))

    def service_state(self):
        output = os.path.join(self.wine.root, "sc.txt")
        if os.path.exists(output):
            os.remove(output)
        code = self.wine.run(["wine", "sc", "query", SERVICE], output=output)
        state = re.search(r"STATE\s+:\s+\d+\s+(\w+)", self.wine.read(output))
        return code, state.group(1) if state else None

    def copy(self):
        """The process id of the running RAVITOR.exe's window, or None."""
        code, out = self.wine.driver(arguments.driver, "find")
        return json.loads(out)["pid"] if code == 0 else None

    def wait_for_trace(self, line, count):
        lines = wait_until(self.wine.trace_lines, lambda lines: lines.count(line) >= count,
                           timeout=WAIT_SECONDS)
        self.assertGreaterEqual(lines.count(line), count, f"{line!r} in\n" + "\n".join(lines))

    def wait_for_new_copy(self, previous):
        pid = wait_until(self.copy, lambda pid: pid is not None and pid != previous,
                         timeout=WAIT_SECONDS)
        self.assertIsNotNone(pid, "RAVITOR.exe is back")
        self.assertNotEqual(pid, previous)
        return pid

    def test_the_service_keeps_the_program_in_the_session_until_uninstalled(self):
        code, log = self.wine.msiexec("/i", arguments.msi)
        self.assertEqual(code, 0, log)
        # Wine writes the path as REG_SZ and without quotes, Windows
        # Installer as REG_EXPAND_SZ; only the path itself is compared.
        self.assertEqual(self.wine.query(SERVICE_KEY).get("ImagePath")[1].strip('"'),
                         INSTALLED_SERVICE)
        self.assertEqual(self.wine.query(SOURCE_KEY).get("EventMessageFile"),
                         ("REG_EXPAND_SZ", INSTALLED_SERVICE))
        self.assertEqual(wait_until(self.service_state, lambda s: s[1] == "RUNNING")[1],
                         "RUNNING")

        # Started by the service in the session, with the session user's token.
        self.wait_for_trace(STARTED, 1)
        first = self.wait_for_new_copy(None)

        # Ended as Task Manager ends it: back at once.
        self.wine.drive(arguments.driver, "terminate")
        self.wait_for_trace(f"RAVITOR.exe ended with exit code 1 in session {SESSION}", 1)
        self.wait_for_trace(STARTED, 2)
        second = self.wait_for_new_copy(first)

        # Ended with File, Exit while a limit is set: back too.
        self.wine.drive(arguments.driver, "command", 105)
        self.wait_for_trace(f"RAVITOR.exe ended with exit code 0 in session {SESSION}", 1)
        self.wait_for_trace(STARTED, 3)
        third = self.wait_for_new_copy(second)

        # With RunRAVITOR 0 there is nothing to enforce: it stays gone.
        self.wine.write_registry({(HKLM, PRODUCT_KEY): {"RunRAVITOR": 0}})
        self.wine.drive(arguments.driver, "command", 105)
        self.wait_for_trace(
            f"Nothing to enforce in session {SESSION}: RAVITOR.exe is not started again", 1)
        self.assertIsNone(self.copy(), f"process {third} ended and none came back")
        self.assertEqual(self.wine.trace_lines().count(STARTED), 3)

        code, log = self.wine.msiexec("/x", arguments.msi)
        self.assertEqual(code, 0, log)
        self.assertIsNone(self.wine.query(SERVICE_KEY), "the service is deleted")
        self.assertIsNone(self.wine.query(SOURCE_KEY), "its event source too")
        self.assertNotEqual(self.service_state()[0], 0, "sc query finds no such service")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("msi", "ravitor", "trace", "service", "driver"):
        parser.add_argument("--" + option, required=True)
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
