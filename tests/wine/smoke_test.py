#!/usr/bin/python3
"""Runs the real RAVITOR.exe under Wine in a throw-away prefix with its own
Xvfb display, with policies written to the prefix's registry the way Group
Policy leaves them, and watches it from outside."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

RAVITOR = os.path.abspath(os.environ.get("RAVITOR_EXE", "build/windows/RAVITOR.exe"))
DRIVER = os.path.abspath(os.environ.get("RAVITOR_DRIVER", "build/windows/SessionDriver.exe"))
PRODUCT_KEY = r"HKEY_LOCAL_MACHINE\Software\Policies\Brevane\Tolvex Pellan Session Timers"
TS_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Microsoft\Windows NT\Terminal Services"
WAIT_SECONDS = 30


class WineSession:
    """A private Wine prefix and X display, removed again on close."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="ravitor-wine-")
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.root, "prefix"),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.xvfb = None
        try:
            self._start_display()
            self._run(["wineboot", "-i"], timeout=120)
        except Exception:
            self.close()
            raise

    def _start_display(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                      "-screen", "0", "1024x768x24"],
                                     pass_fds=[write_end], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display

    def _run(self, command, timeout=WAIT_SECONDS):
        # Output goes to a file: Wine's helper processes keep pipes open.
        with open(os.path.join(self.root, "wine.log"), "ab") as log:
            return subprocess.run(command, env=self.env, stdout=log, stderr=log,
                                  timeout=timeout).returncode

    def import_policies(self, values):
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, entries in values.items():
            lines.append(f"[{key}]")
            lines += [f'"{name}"=dword:{value:08x}' for name, value in entries.items()]
            lines.append("")
        path = os.path.join(self.root, "policies.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines))
        self.assertOk(self._run(["wine", "regedit", "/S", path]), "regedit")

    @staticmethod
    def assertOk(code, what):
        if code != 0:
            raise RuntimeError(f"{what} failed with {code}")

    def start(self, program):
        log = open(os.path.join(self.root, "program.log"), "ab")
        return subprocess.Popen(["wine", program], env=self.env, stdout=log, stderr=log)

    def run(self, program, *arguments):
        return self._run(["wine", program, *arguments])

    def close(self):
        if "WINEPREFIX" in self.env and os.path.isdir(self.env["WINEPREFIX"]):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=WAIT_SECONDS)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)


class SmokeTest(unittest.TestCase):
    def setUp(self):
        self.session = WineSession()
        self.addCleanup(self.session.close)

    def wait_for_window(self, process):
        deadline = time.monotonic() + WAIT_SECONDS
        while time.monotonic() < deadline:
            self.assertIsNone(process.poll(), "RAVITOR.exe ended on its own")
            if self.session.run(DRIVER, "find") == 0:
                return
            time.sleep(0.5)
        self.fail("the hidden window never appeared")

    def test_master_switch_off_exits_at_once_with_code_zero(self):
        self.session.import_policies({PRODUCT_KEY: {"RunRAVITOR": 0},
                                      TS_KEY: {"MaxIdleTime": 600000}})
        process = self.session.start(RAVITOR)
        self.assertEqual(process.wait(timeout=WAIT_SECONDS), 0)
        self.assertEqual(self.session.run(DRIVER, "find"), 1, "no window is left behind")

    def test_stays_resident_with_hidden_window_until_file_exit(self):
        self.session.import_policies({TS_KEY: {"MaxIdleTime": 600000}})
        process = self.session.start(RAVITOR)
        try:
            self.wait_for_window(process)
            self.assertIsNone(process.poll())
            self.assertEqual(self.session.run(DRIVER, "command", "105"), 0)
            self.assertEqual(process.wait(timeout=WAIT_SECONDS), 0)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()


if __name__ == "__main__":
    if len(sys.argv) > 2:
        DRIVER = os.path.abspath(sys.argv.pop(2))
        RAVITOR = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
