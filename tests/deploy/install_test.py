#!/usr/bin/python3
"""Installs TolvexPellanSessionTimers-<version>-x64.msi silently, with
START_METHOD=RunKey, into a throw-away 64-bit Wine prefix, checks the files
and every registry value it writes (and that no service is installed),
starts RAVITOR.exe from the Run value's command line, uninstalls it
and checks that all it wrote is gone and the policies are not. A second test
upgrades it in place with a build that differs in the fourth version field."""
import argparse
import filecmp
import os
import re
import subprocess
import sys
import unittest

from msi_tables import MsiPackage

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from winesession import WineSession, windows_path  # noqa: E402

PRODUCT = "Tolvex Pellan Session Timers"
INSTALL_DIR = r"C:\Program Files\Tolvex Pellan Session Timers"
INSTALLED_RAVITOR = INSTALL_DIR + r"\RAVITOR.exe"
RUN_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
RUN_KEY_32 = r"HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run"
SOURCE_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
              + PRODUCT)
UNINSTALL_KEY = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SERVICE_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\TolvexPellanSessionTimers"
PRODUCT_POLICY = r"Software\Policies\Brevane\Tolvex Pellan Session Timers"
TS_POLICY = r"SOFTWARE\Policies\Microsoft\Windows NT\Terminal Services"
# Policies as Group Policy leaves them, and another program's start entry.
POLICIES = [("HKEY_LOCAL_MACHINE\\" + PRODUCT_POLICY, "RunRAVITOR", 0),
            ("HKEY_LOCAL_MACHINE\\" + TS_POLICY, "MaxIdleTime", 600000),
            ("HKEY_CURRENT_USER\\" + PRODUCT_POLICY, "IdleTimerEnable", 1)]
OTHER_RUN_VALUE = ("Other Program", r"C:\Other\other.exe")
WAIT_SECONDS = 60
# RunKeyStarter's own exit codes.
STARTER_FAILURES = {200: "bad usage", 201: "no such Run value", 202: "Run value not a string",
                    203: "CreateProcess failed", 204: "program still running"}

arguments = None


class WinePrefix(WineSession):
    """A private Wine prefix with its own X display, removed again on close."""

    def run(self, command, timeout=WAIT_SECONDS, output=None):
        """Runs a command in the prefix; its output goes to a file (Wine's
        helper processes keep pipes open), `output` or the shared log."""
        return self._run(command, timeout=timeout, output=output)

    @staticmethod
    def check(code, what):
        if code != 0:
            raise RuntimeError(f"{what} failed with {code}")

    def import_registry(self, lines):
        path = os.path.join(self.root, "import.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write("\r\n".join(["Windows Registry Editor Version 5.00", "", *lines, ""]))
        self.check(self.run(["wine", "regedit", "/S", path]), "regedit")

    def query(self, key):
        """The values of `key` as {name: (type, data)}, or None when the key
        does not exist."""
        output = os.path.join(self.root, "reg-query.txt")
        if os.path.exists(output):
            os.remove(output)
        if self.run(["wine", "reg", "query", key], output=output) != 0:
            return None
        lines = self.read(output).splitlines()
        values = {}
        # The key's own values come after its name, up to the first blank
        # line; subkeys follow.
        for line in lines[lines.index(key) + 1:] if key in lines else []:
            if not line.strip():
                break
            match = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def msiexec(self, *command):
        log = os.path.join(self.root, "msiexec.log")
        code = self.run(["wine", "msiexec", *command, "/qn", "/l*v", windows_path(log)],
                        timeout=120)
        tail = ""
        if code != 0 and os.path.exists(log):
            with open(log, "rb") as f:
                data = f.read()
            # Wine writes the log in the ANSI code page, Windows in UTF-16.
            encoding = "utf-16" if data[:2] == b"\xff\xfe" else "latin-1"
            tail = data.decode(encoding, errors="replace")[-4000:]
        return code, tail

    def drive_c(self, windows_path_on_c):
        return os.path.join(self.prefix, "drive_c",
                            *windows_path_on_c.split("\\")[1:])


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.path.isfile(arguments.msi),
                        f"{arguments.msi} is missing: build the msi target "
                        "(needs the Debian packages wixl and msitools)")
        self.wine = WinePrefix()
        self.addCleanup(self.wine.close)

    # These tests start RAVITOR.exe from the Run value; the session service
    # has tests of its own (service_test.py).
    def install(self, msi):
        code, log = self.wine.msiexec("/i", msi, "START_METHOD=RunKey")
        self.assertEqual(code, 0, f"msiexec /i {msi}:\n{log}")

    def uninstall(self, msi):
        code, log = self.wine.msiexec("/x", msi)
        self.assertEqual(code, 0, f"msiexec /x {msi}:\n{log}")

    def product_code(self, msi):
        return MsiPackage(msi, arguments.msiinfo).properties()["ProductCode"]

    def assert_installed(self):
        folder = self.wine.drive_c(INSTALL_DIR)
        self.assertEqual(sorted(os.listdir(folder)), ["RAVITOR-trace.exe", "RAVITOR.exe"])
        self.assertTrue(filecmp.cmp(os.path.join(folder, "RAVITOR.exe"), arguments.ravitor,
                                    shallow=False))
        self.assertTrue(filecmp.cmp(os.path.join(folder, "RAVITOR-trace.exe"), arguments.trace,
                                    shallow=False))

        run = self.wine.query(RUN_KEY)
        self.assertEqual(run.get(PRODUCT), ("REG_SZ", f'"{INSTALLED_RAVITOR}"'))
        self.assertEqual(run.get(OTHER_RUN_VALUE[0]), ("REG_SZ", OTHER_RUN_VALUE[1]))
        # The 64-bit view only: a 32-bit Run value would start nothing else.
        self.assertNotIn(PRODUCT, self.wine.query(RUN_KEY_32) or {})

        self.assertEqual(self.wine.query(SOURCE_KEY), {
            "EventMessageFile": ("REG_EXPAND_SZ", INSTALLED_RAVITOR),
            "CategoryMessageFile": ("REG_EXPAND_SZ", INSTALLED_RAVITOR),
            "TypesSupported": ("REG_DWORD", "0x7"),
            "CategoryCount": ("REG_DWORD", "0x4"),
        })

    def assert_removed(self):
        self.assertFalse(os.path.exists(self.wine.drive_c(INSTALL_DIR)))
        self.assertIsNone(self.wine.query(SOURCE_KEY))
        run = self.wine.query(RUN_KEY)
        self.assertNotIn(PRODUCT, run)
        self.assertEqual(run.get(OTHER_RUN_VALUE[0]), ("REG_SZ", OTHER_RUN_VALUE[1]))
        for key, name, value in POLICIES:
            self.assertEqual(self.wine.query(key).get(name), ("REG_DWORD", hex(value)),
                             f"{key}\\{name}")

    def prepare_machine(self):
        lines = []
        for key, name, value in POLICIES:
            lines += [f"[{key}]", f'"{name}"=dword:{value:08x}', ""]
        lines += [f"[{RUN_KEY}]",
                  f'"{OTHER_RUN_VALUE[0]}"="{OTHER_RUN_VALUE[1].replace(chr(92), chr(92) * 2)}"']
        self.wine.import_registry(lines)

    def test_install_start_from_run_value_and_uninstall(self):
        self.prepare_machine()
        self.install(arguments.msi)
        self.assert_installed()
        product_code = self.product_code(arguments.msi)
        self.assertIsNotNone(self.wine.query(f"{UNINSTALL_KEY}\\{product_code}"))
        self.assertIsNone(self.wine.query(SERVICE_KEY), "the Run key instead of the service")

        # Started the way the shell starts the Run value at logon; with
        # RunRAVITOR 0 it must end at once with code 0.
        output = os.path.join(self.wine.root, "starter.log")
        code = self.wine.run(["wine", arguments.starter, PRODUCT], output=output)
        started = self.wine.read(output)
        self.assertEqual(code, 0, f"{STARTER_FAILURES.get(code, 'RAVITOR.exe exit code')} "
                                  f"{code}:\n{started}")
        self.assertIn(f'command line: "{INSTALLED_RAVITOR}"', started)

        # Whatever else lands in the source's key goes with it.
        self.wine.import_registry([f"[{SOURCE_KEY}]",
                                   '"ProviderGuid"="{00000000-0000-0000-0000-000000000001}"'])
        self.uninstall(arguments.msi)
        self.assert_removed()
        self.assertIsNone(self.wine.query(f"{UNINSTALL_KEY}\\{product_code}"))

    def build_later(self, field):
        """The same package with version field `field` (0-based) one higher."""
        fields = arguments.version.split(".")
        self.assertEqual(len(fields), 4, arguments.version)
        fields[field] = str(int(fields[field]) + 1)
        later = ".".join(fields)
        later_msi = os.path.join(self.wine.root, f"TolvexPellanSessionTimers-{later}-x64.msi")
        build = subprocess.run(
            [arguments.cmake, f"-DWIXL={arguments.wixl}", f"-DMSIBUILD={arguments.msibuild}",
             f"-DMSIINFO={arguments.msiinfo}", f"-DSOURCE={arguments.wxs}",
             f"-DVERSION={later}", f"-DRAVITOR_EXE={arguments.ravitor}",
             f"-DTRACE_EXE={arguments.trace}", f"-DSERVICE_EXE={arguments.service}",
             f"-DICON_FILE={arguments.icon}",
             f"-DOUTPUT={later_msi}", "-P", arguments.build_script],
            capture_output=True, timeout=120)
        self.assertEqual(build.returncode, 0, build.stderr.decode(errors="replace"))
        return later, later_msi

    def test_earlier_version_is_refused_and_removal_by_product_code(self):
        newer, newer_msi = self.build_later(2)
        newer_code = self.product_code(newer_msi)
        self.prepare_machine()
        self.install(newer_msi)
        # Windows Installer ends a failed launch condition with 1603; Wine's
        # msiexec ends it with another code, so only the refusal is checked.
        code, log = self.wine.msiexec("/i", arguments.msi, "START_METHOD=RunKey")
        self.assertNotEqual(code, 0, f"installing {arguments.version} over {newer}:\n{log}")
        entry = self.wine.query(f"{UNINSTALL_KEY}\\{newer_code}")
        self.assertEqual(entry.get("DisplayVersion"), ("REG_SZ", newer))
        self.assert_installed()

        # Removed by its product code, without its package at hand.
        code, log = self.wine.msiexec("/x", newer_code, "/norestart")
        self.assertEqual(code, 0, log)
        self.assert_removed()

    def test_later_build_upgrades_in_place(self):
        later, later_msi = self.build_later(3)
        earlier_code = self.product_code(arguments.msi)
        later_code = self.product_code(later_msi)
        self.assertNotEqual(earlier_code, later_code)

        self.prepare_machine()
        self.install(arguments.msi)
        self.install(later_msi)
        # One product left, the later one, with everything in place.
        self.assertIsNone(self.wine.query(f"{UNINSTALL_KEY}\\{earlier_code}"),
                          f"{arguments.version} is still installed beside {later}")
        later_entry = self.wine.query(f"{UNINSTALL_KEY}\\{later_code}")
        self.assertEqual(later_entry.get("DisplayVersion"), ("REG_SZ", later))
        self.assert_installed()

        self.uninstall(later_msi)
        self.assert_removed()
        self.assertIsNone(self.wine.query(f"{UNINSTALL_KEY}\\{later_code}"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("msi", "ravitor", "trace", "service", "starter", "version", "cmake", "build-script", "wxs",
                   "icon", "wixl", "msibuild", "msiinfo"):
        parser.add_argument("--" + option, required=True)
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
