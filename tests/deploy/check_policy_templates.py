#!/usr/bin/python3
"""Checks the Group Policy templates in deploy/PolicyDefinitions: well-formed
XML, references that resolve in every language, consistent namespaces, and
policies that write only values the program reads, in the key it reads them
from, within the range it accepts."""
import argparse
import os
import re
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import source_facts

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{" + NS + "}"
BASE_NAME = "TolvexPellanSessionTimers"
LANGUAGES = ("en-US", "de-DE")
# The product's switches, each enabling one part of the program.
SWITCHES = ("RunRAVITOR", "ConnectionTimerEnable", "IdleTimerEnable", "DisconnectionTimerEnable")
LIMIT_OF_SWITCH = {"ConnectionTimerEnable": "MaxConnectionTime",
                   "IdleTimerEnable": "MaxIdleTime",
                   "DisconnectionTimerEnable": "MaxDisconnectionTime"}
# Names the same in every language.
UNTRANSLATED = {"Brevane", "TolvexPellanSessionTimers"}
REFERENCE = re.compile(r"\$\((string|presentation)\.([^)]*)\)")

arguments = None


def parse(path):
    return ElementTree.parse(path).getroot()


class TemplateTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(arguments.source, "deploy", "PolicyDefinitions")
        cls.names = source_facts.policy_names(arguments.source)
        cls.admx = parse(os.path.join(cls.folder, BASE_NAME + ".admx"))
        cls.adml = {language: parse(os.path.join(cls.folder, language, BASE_NAME + ".adml"))
                    for language in LANGUAGES}
        cls.policies = cls.admx.findall(f"{Q}policies/{Q}policy")

    def strings(self, language):
        table = self.adml[language].find(f"{Q}resources/{Q}stringTable")
        return {element.get("id"): element.text or "" for element in table}

    def presentations(self, language):
        table = self.adml[language].find(f"{Q}resources/{Q}presentationTable")
        return set() if table is None else {element.get("id") for element in table}

    def references(self):
        found = []
        for element in self.admx.iter():
            for value in element.attrib.values():
                found += REFERENCE.findall(value)
        return found

    def test_supported_on_names_a_version_not_later_than_this_one(self):
        # "1.3 or later": the first version with these policies, which stays
        # as it is when the product's version rises; it may never be ahead.
        definitions = self.admx.findall(f"{Q}supportedOn/{Q}definitions/{Q}definition")
        self.assertEqual(len(definitions), 1)
        match = re.fullmatch(r"SUPPORTED_TolvexPellan_(\d+)_(\d+)", definitions[0].get("name"))
        first = (int(match.group(1)), int(match.group(2)))
        version = tuple(int(field) for field in
                        source_facts.project_version(arguments.source).split(".")[:2])
        self.assertLessEqual(first, version)
        for language in LANGUAGES:
            self.assertIn(f"{first[0]}.{first[1]}", self.strings(language)[definitions[0].get("name")])

    def test_roots_and_namespaces(self):
        self.assertEqual(self.admx.tag, Q + "policyDefinitions")
        for language, root in self.adml.items():
            self.assertEqual(root.tag, Q + "policyDefinitionResources", language)
            self.assertGreaterEqual(
                float(root.get("revision")),
                float(self.admx.find(f"{Q}resources").get("minRequiredRevision")), language)
        target = self.admx.find(f"{Q}policyNamespaces/{Q}target")
        self.assertEqual(target.get("namespace"), "Brevane.Policies.TolvexPellanSessionTimers")
        prefixes = {target.get("prefix")} | {
            element.get("prefix") for element in self.admx.findall(f"{Q}policyNamespaces/{Q}using")}
        defined = {element.get("name") for element in self.admx.iter()
                   if element.tag in (Q + "category", Q + "definition")}
        for element in self.admx.iter():
            reference = element.get("ref")
            if reference is None:
                continue
            prefix, _, name = reference.rpartition(":")
            if prefix:
                self.assertIn(prefix, prefixes, reference)
            if prefix in ("", target.get("prefix")):
                self.assertIn(name, defined, reference)

    def test_every_reference_resolves_in_every_language(self):
        references = self.references()
        self.assertTrue(references)
        for language in LANGUAGES:
            strings = self.strings(language)
            presentations = self.presentations(language)
            for kind, name in references:
                known = strings if kind == "string" else presentations
                self.assertIn(name, known, f"$({kind}.{name}) in {language}")

    def test_languages_define_the_same_strings_and_none_unused(self):
        used = {name for kind, name in self.references() if kind == "string"}
        for language in LANGUAGES:
            self.assertEqual(set(self.strings(language)), used, language)

    def test_german_texts_are_translated(self):
        english, german = self.strings("en-US"), self.strings("de-DE")
        for name, text in german.items():
            if name not in UNTRANSLATED:
                self.assertNotEqual(text.strip(), english[name].strip(), name)

    def test_texts_carry_no_indentation(self):
        # The editor shows each text as it stands, XML indentation included.
        for language in LANGUAGES:
            for name, text in self.strings(language).items():
                for line in text.split("\n"):
                    self.assertEqual(line, line.strip(), (language, name))

    def test_policies_are_the_products_switches_for_machine_and_user(self):
        classes = {}
        for policy in self.policies:
            classes.setdefault(policy.get("valueName"), set()).add(policy.get("class"))
        self.assertEqual(set(classes), set(SWITCHES))
        for name, found in classes.items():
            self.assertTrue(found == {"Both"} or found == {"Machine", "User"}, (name, found))

    def test_every_value_is_one_the_program_reads_in_its_key(self):
        readme = source_facts.readme_policies(arguments.source)
        for policy in self.policies:
            name = policy.get("valueName")
            self.assertIn(name, self.names.values(), "not in src/settings/PolicyNames.h")
            self.assertEqual(policy.get("key"), self.names["kProductPolicyKey"], name)
            self.assertEqual(readme[name]["Key"].lower(), policy.get("key").lower(), name)

    def test_readme_table_is_the_programs_table(self):
        readme = source_facts.readme_policies(arguments.source)
        table = source_facts.policy_table(arguments.source)
        self.assertEqual(list(readme), list(table))
        for name, row in table.items():
            self.assertEqual(readme[name]["Key"], row["key"], name)
            self.assertEqual(readme[name]["Default"], str(row["default"]), name)
            accepted = ("any" if (row["minimum"], row["maximum"]) == (0, 0xFFFFFFFF)
                        else f"{row['minimum']}–{row['maximum']}")
            self.assertEqual(readme[name]["Range"], accepted, name)

    def test_written_values_are_within_the_accepted_range(self):
        reads = source_facts.product_policy_reads(arguments.source)
        self.assertTrue(reads)
        # Every read of the product key accepts 0..1 with default 1.
        self.assertEqual({read[1:] for read in reads}, {(1, 0, 1)})
        readme = source_facts.readme_policies(arguments.source)
        for policy in self.policies:
            name = policy.get("valueName")
            self.assertEqual(readme[name]["Range"].replace("–", "-"), "0-1", name)
            self.assertEqual(readme[name]["Default"], "1", name)
            values = {}
            for state in ("enabledValue", "disabledValue"):
                numbers = policy.findall(f"{Q}{state}/{Q}decimal")
                self.assertEqual(len(numbers), 1, (name, state))
                self.assertEqual(len(list(policy.find(f"{Q}{state}"))), 1, (name, state))
                values[state] = int(numbers[0].get("value"))
            self.assertEqual(values, {"enabledValue": 1, "disabledValue": 0}, name)
            # Nothing else is written: no elements, no value lists.
            self.assertIsNone(policy.find(f"{Q}elements"), name)
            self.assertIsNone(policy.find(f"{Q}enabledList"), name)
            self.assertIsNone(policy.find(f"{Q}disabledList"), name)

    def test_explanations_name_the_windows_limits_each_switch_enables(self):
        limits = set(LIMIT_OF_SWITCH.values())
        ts_key = self.names["kTerminalServicesPolicyKey"]
        for language in LANGUAGES:
            strings = self.strings(language)
            for policy in self.policies:
                name = policy.get("valueName")
                text = strings[REFERENCE.fullmatch(policy.get("explainText")).group(2)]
                self.assertIn(ts_key, text, (language, name))
                # Machine first, then user.
                self.assertLess(text.index("HKEY_LOCAL_MACHINE"), text.index("HKEY_CURRENT_USER"),
                                (language, name))
                named = {limit for limit in limits if limit in text}
                if name == "RunRAVITOR":
                    self.assertEqual(named, limits, language)
                    self.assertIn("fResetBroken", text, language)
                else:
                    self.assertEqual(named, {LIMIT_OF_SWITCH[name]}, (language, name))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    arguments, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
