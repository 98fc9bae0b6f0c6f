#!/usr/bin/python3
"""Checks the tables of TolvexPellanSessionTimers-<version>-x64.msi with
msiinfo and msiextract: the product's identity, where it installs what, the
registry values it writes, against what the program and the session service
use, the two start methods chosen by START_METHOD, the service it installs,
and that it upgrades earlier builds."""
import re
import argparse
import filecmp
import os
import subprocess
import sys
import tempfile
import unittest

from msi_tables import MsiPackage, long_name
import source_facts

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Never to change: every later version finds this one by it.
UPGRADE_CODE = "{5DD2A4AF-86CB-4EE4-9288-9556005747EA}"
INSTALL_FOLDER = "Tolvex Pellan Session Timers"
RUN_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
EVENT_LOG_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
HKLM = "2"  # Registry.Root
COMPONENT_64BIT = 256  # msidbComponentAttributes64bit
PROGRAMS = ("RAVITOR.exe", "RAVITOR-trace.exe", "RAVITOR-service.exe")
SERVICE_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL = 16, 2, 1
# msidbServiceControlEvent: start on install, stop on install and uninstall,
# delete on uninstall.
SERVICE_CONTROL_EVENTS = 0x001 | 0x002 | 0x020 | 0x080
UPGRADE_MIGRATE_FEATURES = 0x1
UPGRADE_ONLY_DETECT = 0x2
UPGRADE_MIN_INCLUSIVE = 0x100
UPGRADE_MAX_INCLUSIVE = 0x200

arguments = None


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(arguments.msi):
            raise unittest.SkipTest("no package: test_package_was_built fails")
        cls.package = MsiPackage(arguments.msi, arguments.msiinfo)
        cls.properties = cls.package.properties()
        cls.files = {long_name(row["FileName"]): row for row in cls.package.rows("File")}
        cls.components = {row["Component"]: row for row in cls.package.rows("Component")}
        cls.registry = cls.package.rows("Registry")
        cls.built = dict(zip(PROGRAMS, (arguments.ravitor, arguments.trace, arguments.service)))

    def service_name(self, constant):
        text = source_facts.read(SOURCE, "src/service/ServiceNames.h")
        return re.search(rf'{constant} = L"([^"]+)";', text).group(1)

    def test_identity_properties(self):
        self.assertEqual(self.properties["ProductName"], "Tolvex Pellan Session Timers")
        self.assertEqual(self.properties["ProductVersion"], arguments.version)
        self.assertEqual(self.properties["ProductVersion"], source_facts.project_version(SOURCE))
        self.assertEqual(self.properties["Manufacturer"], "Brevane")
        self.assertEqual(self.properties["UpgradeCode"], UPGRADE_CODE)
        self.assertRegex(self.properties["ProductCode"], r"^\{[0-9A-F-]{36}\}$")
        self.assertNotEqual(self.properties["ProductCode"], UPGRADE_CODE)

    def test_per_machine_64_bit_package(self):
        self.assertEqual(self.properties.get("ALLUSERS"), "1")
        self.assertEqual(self.package.summary()["Template"], "x64;1033")
        self.assertEqual(os.path.basename(arguments.msi),
                         f"TolvexPellanSessionTimers-{arguments.version}-x64.msi")

    def test_tables_are_present(self):
        self.assertLessEqual({"File", "Registry", "Component", "Directory", "Upgrade", "Property",
                              "Feature", "FeatureComponents", "Media"},
                             self.package.table_names())

    def test_install_folder_is_under_the_64_bit_program_files(self):
        directories = {row["Directory"]: row for row in self.package.rows("Directory")}
        folder = [row for row in directories.values()
                  if long_name(row["DefaultDir"]) == INSTALL_FOLDER]
        self.assertEqual(len(folder), 1, directories)
        self.assertEqual(folder[0]["Directory_Parent"], "ProgramFiles64Folder")
        self.assertEqual(directories["ProgramFiles64Folder"]["Directory_Parent"], "TARGETDIR")
        for name in PROGRAMS:
            component = self.components[self.files[name]["Component_"]]
            self.assertEqual(component["Directory_"], folder[0]["Directory"], name)

    def test_files_are_exactly_the_programs_and_key_paths_of_64_bit_components(self):
        self.assertEqual(set(self.files), set(PROGRAMS))
        for name, built in self.built.items():
            row = self.files[name]
            self.assertEqual(int(row["FileSize"]), os.path.getsize(built), name)
            component = self.components[row["Component_"]]
            self.assertTrue(int(component["Attributes"]) & COMPONENT_64BIT, name)
            self.assertEqual(component["KeyPath"], row["File"], name)
        self.assertNotIn("SessionDriver.exe", self.files)

    def test_packed_files_are_the_built_programs(self):
        with tempfile.TemporaryDirectory(prefix="ravitor-msi-") as target:
            result = subprocess.run([arguments.msiextract, "-C", target, arguments.msi],
                                    capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
            for name, built in self.built.items():
                extracted = os.path.join(target, INSTALL_FOLDER, name)
                self.assertTrue(filecmp.cmp(extracted, built, shallow=False), name)

    def test_run_value_starts_the_installed_program_with_a_quoted_path(self):
        ravitor = self.files["RAVITOR.exe"]
        rows = [row for row in self.registry if row["Key"] == RUN_KEY]
        self.assertEqual(len(rows), 1, rows)
        self.assertEqual(rows[0]["Root"], HKLM)
        self.assertEqual(rows[0]["Name"], "Tolvex Pellan Session Timers")
        self.assertEqual(rows[0]["Value"], f'"[#{ravitor["File"]}]"')
        # Only with START_METHOD=RunKey, in a component of its own.
        component = self.components[rows[0]["Component_"]]
        self.assertEqual(component["Condition"], 'START_METHOD = "RunKey" OR REMOVE ~= "ALL"')
        self.assertEqual(component["KeyPath"], rows[0]["Registry"])
        self.assertTrue(int(component["Attributes"]) & COMPONENT_64BIT)

    def test_start_method_is_a_secure_public_property_with_two_values(self):
        self.assertEqual(self.properties["START_METHOD"], "Service")
        self.assertIn("START_METHOD", self.properties["SecureCustomProperties"].split(";"))
        conditions = [row["Condition"] for row in self.package.rows("LaunchCondition")]
        self.assertIn('START_METHOD = "Service" OR START_METHOD = "RunKey"', conditions)

    def test_session_service_is_installed_started_and_removed_with_the_package(self):
        service = self.files["RAVITOR-service.exe"]
        component = self.components[service["Component_"]]
        self.assertEqual(component["Condition"], 'START_METHOD = "Service" OR REMOVE ~= "ALL"')
        installs = self.package.rows("ServiceInstall")
        self.assertEqual(len(installs), 1, installs)
        install = installs[0]
        self.assertEqual(install["Name"], self.service_name("kServiceName"))
        self.assertEqual(install["DisplayName"], self.service_name("kServiceDisplayName"))
        self.assertEqual((int(install["ServiceType"]), int(install["StartType"]),
                          int(install["ErrorControl"])),
                         (SERVICE_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL))
        self.assertEqual(install["StartName"], "", "LocalSystem")
        self.assertEqual(install["Arguments"], "", "no command line")
        self.assertEqual(install["Component_"], service["Component_"])
        controls = self.package.rows("ServiceControl")
        self.assertEqual(len(controls), 1, controls)
        self.assertEqual(controls[0]["Name"], install["Name"])
        self.assertEqual(int(controls[0]["Event"]), SERVICE_CONTROL_EVENTS)
        self.assertEqual(controls[0]["Wait"], "1")
        self.assertEqual(controls[0]["Component_"], service["Component_"])
        sequence = {row["Action"] for row in self.package.rows("InstallExecuteSequence")}
        self.assertLessEqual({"StopServices", "DeleteServices", "InstallServices",
                              "StartServices"}, sequence)

    def test_service_event_source_names_the_service_as_its_message_file(self):
        service = self.files["RAVITOR-service.exe"]
        key = EVENT_LOG_KEY + self.service_name("kEventSourceName")
        rows = {row["Name"]: row for row in self.registry if row["Key"] == key}
        self.assertEqual({name: row["Value"] for name, row in rows.items()}, {
            "EventMessageFile": f"#%[#{service['File']}]", "TypesSupported": "#7", "-": ""})
        for row in rows.values():
            self.assertEqual(row["Root"], HKLM)
            self.assertEqual(row["Component_"], service["Component_"])

    def test_event_source_has_the_values_the_program_writes(self):
        ravitor = self.files["RAVITOR.exe"]
        key = EVENT_LOG_KEY + source_facts.application_name(SOURCE)
        rows = {row["Name"]: row for row in self.registry if row["Key"] == key}
        message_file = f"#%[#{ravitor['File']}]"  # REG_EXPAND_SZ of the file's path
        self.assertEqual({name: row["Value"] for name, row in rows.items()}, {
            "EventMessageFile": message_file,
            "CategoryMessageFile": message_file,
            "TypesSupported": f"#{source_facts.types_supported(SOURCE)}",
            "CategoryCount": f"#{source_facts.category_count(SOURCE)}",
            "-": "",  # the key goes with all its values on uninstall
        })
        for row in rows.values():
            self.assertEqual(row["Root"], HKLM)
            self.assertEqual(row["Component_"], ravitor["Component_"])

    def test_writes_nothing_else_to_the_registry(self):
        allowed = {RUN_KEY, EVENT_LOG_KEY + source_facts.application_name(SOURCE),
                   EVENT_LOG_KEY + self.service_name("kEventSourceName")}
        self.assertEqual({row["Key"] for row in self.registry}, allowed)
        self.assertFalse([row for row in self.registry if "Policies" in row["Key"]])

    def test_runs_no_custom_action_and_adds_no_shortcut(self):
        for table in ("CustomAction", "Shortcut"):
            self.assertEqual(self.package.rows(table), [], table)

    def test_every_component_belongs_to_the_installed_feature(self):
        features = {row["Feature"]: row for row in self.package.rows("Feature")}
        links = self.package.rows("FeatureComponents")
        self.assertEqual({row["Component_"] for row in links}, set(self.components))
        for row in links:
            self.assertEqual(features[row["Feature_"]]["Level"], "1")

    def test_upgrade_replaces_earlier_builds_and_refuses_downgrades(self):
        rows = {row["ActionProperty"]: row for row in self.package.rows("Upgrade")}
        version = arguments.version
        upgrade = rows["WIX_UPGRADE_DETECTED"]
        self.assertEqual(upgrade["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(upgrade["VersionMin"], "")
        self.assertEqual(upgrade["VersionMax"], version)
        attributes = int(upgrade["Attributes"])
        # Inclusive: Windows Installer ignores the fourth field, so 1.3.0.9
        # and 1.3.0.10 compare equal and must still replace each other.
        self.assertTrue(attributes & UPGRADE_MAX_INCLUSIVE)
        self.assertTrue(attributes & UPGRADE_MIGRATE_FEATURES)
        self.assertFalse(attributes & UPGRADE_ONLY_DETECT)

        downgrade = rows["WIX_DOWNGRADE_DETECTED"]
        self.assertEqual(downgrade["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(downgrade["VersionMin"], version)
        self.assertTrue(int(downgrade["Attributes"]) & UPGRADE_ONLY_DETECT)
        self.assertFalse(int(downgrade["Attributes"]) & UPGRADE_MIN_INCLUSIVE)
        conditions = [row["Condition"] for row in self.package.rows("LaunchCondition")]
        self.assertIn("NOT WIX_DOWNGRADE_DETECTED", conditions)

        secure = self.properties["SecureCustomProperties"].split(";")
        self.assertIn("WIX_UPGRADE_DETECTED", secure)
        sequence = {row["Action"]: int(row["Sequence"])
                    for row in self.package.rows("InstallExecuteSequence")}
        self.assertIn("RemoveExistingProducts", sequence)
        self.assertLess(sequence["FindRelatedProducts"], sequence["RemoveExistingProducts"])


class BuiltTest(unittest.TestCase):
    def test_package_was_built(self):
        self.assertTrue(os.path.isfile(arguments.msi),
                        f"{arguments.msi} is missing: build the msi target "
                        "(needs the Debian packages wixl and msitools)")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--msi", required=True)
    parser.add_argument("--ravitor", required=True)
    parser.add_argument("--trace", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--msiinfo", default="msiinfo")
    parser.add_argument("--msiextract", default="msiextract")
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
