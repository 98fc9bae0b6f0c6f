#!/usr/bin/python3
"""Checks docs/ADMIN.md against what it describes: README's table of policies,
the package source, the templates, the trace viewer's options and the
message catalogue, so that the guide cannot drift from the program."""
import argparse
import os
import re
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import source_facts

Q = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"

arguments = None


def section(text, heading):
    """The text under a Markdown heading, up to the next heading of its level
    or above."""
    level = heading.split(" ", 1)[0]
    start = text.index(heading + "\n")
    end = re.search(rf"^#{{1,{len(level)}}} ", text[start + len(heading):], re.MULTILINE)
    return text[start:start + len(heading) + end.start()] if end else text[start:]


def flat(text):
    """Text with every run of white space as one blank, as a reader sees it."""
    return " ".join(text.split())


def english_catalogue_text(source, message_id):
    """The English text of `message_id` in res/messages.mc, lines joined by
    blanks."""
    text = source_facts.read(source, "res/messages.mc").replace("\r\n", "\n")
    block = re.search(rf"^MessageId=0x{message_id:X}\n(.*?)(?=^MessageId=|\Z)", text,
                      re.MULTILINE | re.DOTALL)
    if not block:
        raise RuntimeError(f"message 0x{message_id:X} not in res/messages.mc")
    english = re.search(r"^Language=English\n(.*?)^\.$", block.group(1), re.MULTILINE | re.DOTALL)
    return " ".join(line.strip() for line in english.group(1).splitlines() if line.strip())


class AdminGuideTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.source = arguments.source
        cls.guide = source_facts.read(cls.source, "docs/ADMIN.md")
        cls.wxs = source_facts.read(cls.source, "deploy/TolvexPellanSessionTimers.wxs")
        cls.version = source_facts.project_version(cls.source)

    def test_policy_table_matches_readme(self):
        readme = source_facts.readme_policies(self.source)
        rows = source_facts.markdown_table(self.guide, "Value")
        guide = {}
        key = None
        for row in rows:
            key_cell = row[next(header for header in row if header.startswith("Key"))]
            key = key if key_cell == "same" else key_cell
            guide[row["Value"]] = {"Key": key, "Default": row["Default"], "Range": row["Range"],
                                   "Effect": row["Effect"]}
        self.assertEqual(list(guide), list(readme))
        self.assertEqual(guide, readme)

    def test_switch_table_uses_the_template_names(self):
        adml = ElementTree.parse(os.path.join(
            self.source, "deploy/PolicyDefinitions/en-US/TolvexPellanSessionTimers.adml"))
        strings = {element.get("id"): element.text for element in adml.iter(Q + "string")}
        rows = source_facts.markdown_table(self.guide, "Policy")
        self.assertEqual({row["Value"]: row["Policy"] for row in rows},
                         {name: strings[name] for name in
                          ("RunRAVITOR", "ConnectionTimerEnable", "IdleTimerEnable",
                           "DisconnectionTimerEnable")})

    def test_package_name_and_commands(self):
        name = f"TolvexPellanSessionTimers-{self.version}-x64.msi"
        self.assertIn(f"msiexec /i {name} /qn", self.guide)
        self.assertIn(f"msiexec /x {name} /qn", self.guide)
        self.assertIn(f"This guide covers version {self.version}.", self.guide)
        upgrade_code = re.search(r'UpgradeCode="([0-9A-F-]+)"', self.wxs).group(1)
        self.assertIn("{" + upgrade_code + "}", self.guide)

    def test_install_location_and_registry_values(self):
        folder = re.search(r'<Directory Id="INSTALLDIR" Name="([^"]+)"', self.wxs).group(1)
        installed = rf"C:\Program Files\{folder}\RAVITOR.exe"
        self.assertIn(f'`"{installed}"`', self.guide)
        application = source_facts.application_name(self.source)
        self.assertIn(
            rf"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\{application}",
            self.guide)
        self.assertIn(f"`TypesSupported` = {source_facts.types_supported(self.source)}",
                      self.guide)
        self.assertIn(f"`CategoryCount` = {source_facts.category_count(self.source)}",
                      self.guide)

    def test_template_files_named_exist(self):
        named = set(re.findall(r"PolicyDefinitions\\((?:[a-z]{2}-[A-Z]{2}\\)?"
                               r"TolvexPellanSessionTimers\.adm[xl])", self.guide))
        self.assertEqual(len(named), 3, named)
        for path in named:
            self.assertTrue(os.path.isfile(os.path.join(
                self.source, "deploy", "PolicyDefinitions", *path.split("\\"))), path)

    def test_trace_switch_and_viewer_options(self):
        trace_key = source_facts.policy_names(self.source)["kTraceSwitchKey"]
        self.assertIn(f'reg add "HKLM\\{trace_key}" /f', self.guide)
        self.assertIn("RAVITOR-trace.exe\" --image RAVITOR.exe", self.guide)
        viewer = source_facts.read(self.source, "tools/trace/TraceFormat.cpp")
        trace = section(self.guide, "### The trace")
        options = set(re.findall(r"(?<![\w-])(--[a-z]+)", trace))
        self.assertLessEqual({"--image", "--pid", "--global", "--help"}, options)
        for option in options:
            self.assertIn(f'L"{option}"', viewer, option)

    def test_one_reader_of_debug_output(self):
        viewer = source_facts.read(self.source, "tools/trace/win32/TraceViewer.cpp")
        message = re.search(r'PrintError\(L"(another debugger[^"]+)"\)', viewer).group(1)
        self.assertIn(f'"{message}"', flat(section(self.guide, "### The trace")))

    def test_install_exit_codes_and_refused_downgrade(self):
        codes = {row["Code"] for row in source_facts.markdown_table(self.guide, "Code")}
        self.assertEqual(codes, {"0", "3010", "1603"})
        refusal = re.search(r'DowngradeErrorMessage="([^"]+)"', self.wxs).group(1)
        self.assertIn(f'"{refusal}"', flat(section(self.guide, "## Installing")))

    def test_commands_use_their_own_logs_and_no_restart(self):
        logs = re.findall(r'/l\*v "([^"]+)"', self.guide)
        self.assertGreaterEqual(len(logs), 3)
        self.assertEqual(len(logs), len(set(logs)), "each command keeps its own log")
        for line in self.guide.splitlines():
            if re.search(r"msiexec /[ix] .* /qn", line):
                self.assertIn("/norestart", line, line)

    def test_uninstall_by_product_code_and_detection(self):
        uninstall = section(self.guide, "## Uninstalling")
        self.assertIn("msiexec /x {PRODUCT-CODE} /qn /norestart", uninstall)
        self.assertIn("*Programs and Features*", uninstall)
        # The product code is the name of the product's Uninstall key; the
        # installation test checks that key by the package's ProductCode.
        deployment = section(self.guide, "## Enterprise deployment")
        self.assertIn(r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall", deployment)
        name = re.search(r'<Product[^>]*Name="([^"]+)"', self.wxs, re.DOTALL).group(1)
        self.assertIn(f"Where-Object DisplayName -eq '{name}'", deployment)
        self.assertIn(f"at least\n  {self.version}", deployment)

    def test_templates_are_copied_where_the_guide_says(self):
        copies = re.findall(r"^  copy (PolicyDefinitions\\\S+) %windir%\\(PolicyDefinitions\\\S*)$",
                            self.guide, re.MULTILINE)
        self.assertEqual(len(copies), 3, copies)
        for source_path, target in copies:
            relative = source_path.split("\\")[1:]
            self.assertTrue(os.path.isfile(os.path.join(self.source, "deploy", "PolicyDefinitions",
                                                        *relative)), source_path)
            self.assertEqual(target, "\\".join(["PolicyDefinitions", *relative[:-1]]) + "\\")

    def test_signing_variables_and_stamp(self):
        signing = source_facts.read(self.source, "cmake/Signing.cmake")
        guide = flat(section(self.guide, "### Signing with your own certificate"))
        named = set(re.findall(r"`(RAVITOR_SIGNING_[A-Z_]+)`", guide))
        self.assertEqual(named, set(re.findall(r"set\((RAVITOR_SIGNING_[A-Z_]+) \"\$ENV", signing)))
        self.assertIn('"Unsigned build"', guide)
        self.assertIn("Unsigned build:", signing)
        resources = source_facts.read(self.source, "res/RAVITOR.rc")
        for value in ("ProductName", "OriginalFilename"):
            text = re.search(rf'VALUE "{value}", "([^"]+)"', resources).group(1)
            self.assertIn(f'"{text}"', guide, value)

    def test_session_service_names_records_and_bound(self):
        names = source_facts.read(self.source, "src/service/ServiceNames.h")

        def constant(name):
            return re.search(rf"{name} = (?:L\"([^\"]+)\"|(\d+))", names).group(1, 2)

        service = constant("kServiceName")[0]
        source = constant("kEventSourceName")[0]
        self.assertIn(f"`{service}`", self.guide)
        self.assertIn(f"sc query {service}", self.guide)
        self.assertIn(f"`{source}`", self.guide)
        self.assertIn(f"Provider[@Name='{source}']", self.guide)
        self.assertIn(f'Name="{service}"', self.wxs)

        catalogue = source_facts.read(self.source, "res/service/service-messages.mc")
        texts = dict(re.findall(r"MessageId=(\d+)\r?\nSymbolicName=\w+\r?\nLanguage=English\r?\n"
                                r"(.*?)\r?\n\.", catalogue, re.DOTALL))
        rows = {row["Event"]: row for row in source_facts.markdown_table(
            section(self.guide, "### Seeing that it works"), "Event")}
        self.assertEqual(set(rows), set(texts))
        self.assertEqual(set(rows), {constant("kCouldNotStartEvent")[1],
                                     constant("kGaveUpRestartingEvent")[1]})
        for event, text in texts.items():
            self.assertEqual(rows[event]["Text"], text, event)
        self.assertEqual(rows[constant("kCouldNotStartEvent")[1]]["Type"], "Error")
        self.assertEqual(rows[constant("kGaveUpRestartingEvent")[1]]["Type"], "Warning")

        # "six ends within ten minutes": the first start and the restarts allowed.
        limit = int(constant("kRestartLimit")[1])
        minutes = re.search(r"kRestartWindowMs = (\d+) \* 60 \* 1000", names).group(1)
        words = {5: "five", 6: "six", 10: "ten"}
        self.assertIn(f"{words[limit + 1]} times within {words[int(minutes)]} minutes",
                      flat(self.guide))
        self.assertIn(f"{words[limit]} restarts", flat(self.guide))

    def test_start_methods_are_the_packages(self):
        values = set(re.findall(r'START_METHOD = "(\w+)"', self.wxs))
        self.assertEqual(values, {"Service", "RunKey"})
        default = re.search(r'<Property Id="START_METHOD" Value="(\w+)"', self.wxs).group(1)
        self.assertIn(f"`START_METHOD={default}`, the default", self.guide)
        refusal = re.search(r'<Condition Message="([^"]+)">START_METHOD', self.wxs).group(1)
        self.assertIn(f'("{refusal}")', flat(self.guide))

    def test_one_copy_per_session(self):
        application = source_facts.read(self.source, "src/app/Application.h")
        line = re.search(r'kAnotherInstanceTrace =\s*L"([^"]+)";', application).group(1)
        prefix = re.search(r'kSessionNamespacePrefix = L"([^"]+)";', application).group(1)
        mutex = prefix.replace("\\\\", "\\") + source_facts.application_name(self.source)
        self.assertIn(f'"{line}"', self.guide)
        self.assertIn(f"`{mutex}`", self.guide)

    def test_events_and_category(self):
        ids = source_facts.read(self.source, "src/notify/CatalogIds.h")
        logged_off = int(re.search(r"kSessionLoggedOffEvent = (\d+);", ids).group(1))
        disconnected = int(re.search(r"kSessionDisconnectedEvent = (\d+);", ids).group(1))
        category = int(re.search(r"kCategoryWtsEvent = (\d+);", ids).group(1))
        records = section(self.guide, "### The event log")
        rows = {int(row["Event"]): row for row in source_facts.markdown_table(records, "Event")}
        self.assertEqual(set(rows), {logged_off, disconnected})
        self.assertIn("logged off", rows[logged_off]["Written when"])
        self.assertIn("disconnected", rows[disconnected]["Written when"])
        self.assertEqual(rows[logged_off]["Text"],
                         english_catalogue_text(self.source, logged_off))
        if english_catalogue_text(self.source, disconnected) == rows[logged_off]["Text"]:
            self.assertEqual(rows[disconnected]["Text"], "the same text")
        else:
            self.assertEqual(rows[disconnected]["Text"],
                             english_catalogue_text(self.source, disconnected))
        category_text = english_catalogue_text(self.source, category)
        self.assertIn(f"task category {category}, *{category_text}*", self.guide)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
