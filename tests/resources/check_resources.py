#!/usr/bin/python3
"""Reads the built RAVITOR.exe from outside and checks its resources: string
table, menu, icon groups, version information and the whole message table
(27 languages, 24 messages each, texts as in res/messages.mc, English byte for
byte, every warning caption's prefix), the application manifest and the
terminal-server flag."""
import os
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from catalog import MC, parse_mc  # noqa: E402

EXE = os.environ.get("RAVITOR_EXE", "build/windows/RAVITOR.exe")
TRACE_EXE = os.environ.get("RAVITOR_TRACE_EXE", "build/windows/RAVITOR-trace.exe")
SERVICE_EXE = os.environ.get("RAVITOR_SERVICE_EXE", "build/windows/RAVITOR-service.exe")
APP_NAME = "Tolvex Pellan Session Timers"
ENGLISH = 1033
LANGUAGES = [1025, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1040, 1041,
             1042, 1043, 1044, 1045, 1046, 1049, 1051, 1053, 1054, 1055, 1060, 2052, 2070]
FULL_WIDTH_CAPTIONS = {1028, 1041, 2052}
ENDED = ("The remote session was ended because the disconnect time limit was reached.\r\n"
         "This limit is set by the server administrator or by network policies.\r\n")
ENGLISH_TEXTS = {
    1: "WTS Event\r\n", 2: "TIMER Event\r\n", 3: "TIMER Event\r\n", 4: "Other\r\n",
    101: "WTS_CONSOLE_CONNECT\r\n", 102: "WTS_CONSOLE_DISCONNECT\r\n",
    103: "WTS_REMOTE_CONNECT\r\n", 104: "WTS_REMOTE_DISCONNECT\r\n",
    105: "WTS_SESSION_LOGON\r\n", 106: "WTS_SESSION_TIMER\r\n", 107: "WTS_SESSION_LOCK\r\n",
    108: "WTS_SESSION_UNLOCK\r\n", 109: "WTS_SESSION_REMOTE_CONTROL\r\n",
    110: "Exiting program since no Terminal Services time related group policies are enabled "
         "and there is nothing for this program to do.\r\n",
    111: "RAVITOR: Logon timer expired%0\r\n",
    112: "Session has now exceeded its time limit.\r\nLogoff will start in 2 minutes.\r\n"
         "Save all your files now.\r\n",
    113: "Session has now exceeded its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
         "Save all your files now.\r\n",
    114: "RAVITOR: Idle timer expired%0\r\n",
    115: "Session has been idle over its time limit.\r\nLogoff will start in 2 minutes.\r\n"
         "Press any key now to continue session. \r\n",
    116: "Session has been idle over its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
         "Press any key now to continue session. \r\n",
    117: "%0\r\n", 118: ENDED, 119: ENDED, 120: "%0\r\n",
}

RT_ICON, RT_MENU, RT_STRING, RT_MESSAGETABLE, RT_GROUP_ICON, RT_VERSION = 3, 4, 6, 11, 14, 16
RT_MANIFEST = 24
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SUPPORTED_OS = {  # Windows 7, 8, 8.1, 10 and 11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


def project_version():
    """The four numbers of project(... VERSION ...) in CMakeLists.txt."""
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(\s*\w+\s+VERSION\s+(\d+)\.(\d+)\.(\d+)\.(\d+)", f.read())
    return tuple(int(number) for number in match.groups())


def dotted_version():
    return ".".join(map(str, project_version()))


def manifest_facts(data):
    """What an application manifest says, as far as this project sets it."""
    root = ElementTree.fromstring(data)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    controls = [dependency.get("version") for dependency in root.iter(ASM_V1 + "assemblyIdentity")
                if dependency.get("name") == "Microsoft.Windows.Common-Controls"]
    return {
        "identity": (identity.get("name"), identity.get("version")) if root.tag == ASM_V1 + "assembly"
        else None,
        "execution levels": [level.get("level")
                             for level in root.iter(ASM_V3 + "requestedExecutionLevel")],
        "supported": {os_.get("Id") for os_ in root.iter(COMPATIBILITY + "supportedOS")},
        "dpi": {element.tag.split("}")[1]: element.text for element in root.iter()
                if element.tag.endswith(("}dpiAware", "}dpiAwareness"))},
        "common controls": controls}


def resources_of(pe):
    resources = {}
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rid in rtype.directory.entries:
            for lang in rid.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                resources[(rtype.id, rid.id, lang.id)] = data
    return resources


def version_strings(pe):
    tables = [t for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
              for t in info.StringTable]
    return [t.LangID.upper() for t in tables], {k.decode(): v.decode()
                                                for k, v in tables[0].entries.items()}


def load_pe():
    pe = pefile.PE(EXE)
    return pe, resources_of(pe)


def parse_message_table(data):
    (blocks,) = struct.unpack_from("<I", data, 0)
    texts = {}
    for b in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * b)
        for mid in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            raw = data[offset + 4: offset + length]
            text = raw.decode("utf-16-le") if flags & 1 else raw.decode("latin-1")
            texts[mid] = text.rstrip("\0")
            offset += length
    return texts


class ResourceCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe, cls.resources = load_pe()

    def resource(self, rtype, rid, lang=ENGLISH):
        key = (rtype, rid, lang)
        self.assertIn(key, self.resources, f"resource type {rtype} id {rid} language {lang}")
        return self.resources[key]

    def test_is_a_gui_executable(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI
        dlls = {e.dll.decode().lower() for e in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(dlls, {"kernel32.dll", "user32.dll", "advapi32.dll", "wtsapi32.dll",
                                    "msvcrt.dll"}, "only DLLs that Windows ships")

    def test_is_terminal_server_aware(self):
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics
                        & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)

    def test_reads_window_titles_without_asking_the_windows(self):
        # GetWindowTextW would send WM_GETTEXT to the program's own box
        # threads' windows and wait for them without a time-out.
        user32 = {i.name.decode() for e in self.pe.DIRECTORY_ENTRY_IMPORT
                  if e.dll.decode().lower() == "user32.dll" for i in e.imports if i.name}
        self.assertIn("InternalGetWindowText", user32)
        self.assertFalse({"GetWindowTextW", "GetWindowTextA"} & user32)

    def test_manifest(self):
        facts = manifest_facts(self.resource(RT_MANIFEST, 1))
        self.assertEqual(facts, {
            "identity": ("Brevane.TolvexPellanSessionTimers.RAVITOR", dotted_version()),
            "execution levels": ["asInvoker"], "supported": SUPPORTED_OS,
            "dpi": {"dpiAware": "true/pm", "dpiAwareness": "PerMonitorV2, PerMonitor"},
            "common controls": ["6.0.0.0"]})

    def test_string_table_holds_the_application_name(self):
        block = self.resource(RT_STRING, 103 // 16 + 1)
        strings, offset = [], 0
        for _ in range(16):
            (length,) = struct.unpack_from("<H", block, offset)
            strings.append(block[offset + 2: offset + 2 + 2 * length].decode("utf-16-le"))
            offset += 2 + 2 * length
        self.assertEqual(strings[103 % 16], APP_NAME)
        self.assertEqual(strings[109 % 16], APP_NAME)

    def test_menu_has_file_exit(self):
        data = self.resource(RT_MENU, 109)
        self.assertEqual(struct.unpack_from("<HH", data, 0), (0, 0))
        (flags,) = struct.unpack_from("<H", data, 4)
        end = data.index(b"\0\0", 6)
        end += (end - 6) % 2
        self.assertEqual(flags, 0x10 | 0x80)  # MF_POPUP | MF_END
        self.assertEqual(data[6:end].decode("utf-16-le"), "&File")
        item_flags, item_id = struct.unpack_from("<HH", data, end + 2)
        self.assertEqual((item_flags, item_id), (0x80, 105))
        text = data[end + 6:].decode("utf-16-le").split("\0")[0]
        self.assertEqual(text, "E&xit")

    def test_icon_groups_hold_the_eight_images(self):
        expected = sorted([(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32),
                           (48, 32)])
        for group in (107, 108):
            data = self.resource(RT_GROUP_ICON, group)
            _, kind, count = struct.unpack_from("<HHH", data, 0)
            self.assertEqual((kind, count), (1, 8))
            images = []
            for n in range(count):
                w, h, _, _, _, bpp, size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * n)
                images.append((w, bpp))
                self.assertEqual(w, h)
                self.assertEqual(len(self.resource(RT_ICON, icon_id)), size)
            self.assertEqual(sorted(images), expected, f"icon group {group}")

    def test_version_information(self):
        self.resource(RT_VERSION, 1)
        major, minor, patch, tweak = project_version()
        numbers = (major << 16 | minor, patch << 16 | tweak)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), numbers)
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), numbers)
        languages, values = version_strings(self.pe)
        self.assertEqual(languages, [b"040904B0"])
        text = f"{major},{minor},{patch},{tweak}"  # e.g. "1,3,0,9"
        self.assertEqual(values["FileVersion"], text)
        self.assertEqual(values["ProductVersion"], text)
        self.assertEqual(values["CompanyName"], "Brevane")
        self.assertEqual(values["LegalCopyright"], "Copyright (C) Brevane. All rights reserved.")
        self.assertEqual(values["FileDescription"], APP_NAME)
        self.assertEqual(values["ProductName"], APP_NAME)
        self.assertEqual(values["InternalName"], "RAVITOR")
        self.assertEqual(values["OriginalFilename"], "RAVITOR.EXE")

    def test_message_table_english_texts_byte_for_byte(self):
        texts = parse_message_table(self.resource(RT_MESSAGETABLE, 1))
        self.assertEqual(texts, ENGLISH_TEXTS)

    def test_message_table_every_language_as_in_the_catalogue_source(self):
        source = parse_mc(MC)
        languages = sorted(lang for (rtype, rid, lang) in self.resources if rtype == RT_MESSAGETABLE)
        self.assertEqual(languages, LANGUAGES)
        for lang in LANGUAGES:
            texts = parse_message_table(self.resource(RT_MESSAGETABLE, 1, lang))
            self.assertEqual(sorted(texts), sorted(ENGLISH_TEXTS), f"identifiers in {lang}")
            for mid, text in texts.items():
                self.assertEqual(text, source[(mid, lang)], f"message {mid} in {lang}")
                self.assertTrue(text.endswith("\r\n"), f"message {mid} in {lang}")
            prefix = "RAVITOR\uff1a" if lang in FULL_WIDTH_CAPTIONS else "RAVITOR: "
            for caption in (111, 114):
                self.assertTrue(texts[caption].startswith(prefix), f"caption {caption} in {lang}")
                self.assertTrue(texts[caption].endswith("%0\r\n"), f"caption {caption} in {lang}")
            for mid in (117, 120):
                self.assertEqual(texts[mid], "%0\r\n")
            self.assertEqual(texts[118], texts[119], f"event texts in {lang}")


class ConsoleProgramStamp:
    """The stamp of a console program shipped beside RAVITOR.exe: the
    terminal-server flag, an asInvoker manifest for Windows 7 to 11 and the
    version information. A test class names the program's path variable
    and file name."""

    path_variable = None
    file_name = None

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(globals()[cls.path_variable])
        cls.resources = resources_of(cls.pe)

    def test_is_a_terminal_server_aware_console_program(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 3)  # IMAGE_SUBSYSTEM_WINDOWS_CUI
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics
                        & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)

    def test_manifest(self):
        name = "Brevane.TolvexPellanSessionTimers." + self.file_name.removesuffix(".exe")
        self.assertEqual(manifest_facts(self.resources[(RT_MANIFEST, 1, ENGLISH)]), {
            "identity": (name, dotted_version()),
            "execution levels": ["asInvoker"], "supported": SUPPORTED_OS, "dpi": {},
            "common controls": []})

    def test_version_information(self):
        major, minor, patch, tweak = project_version()
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS),
                         (major << 16 | minor, patch << 16 | tweak))
        languages, values = version_strings(self.pe)
        self.assertEqual(languages, [b"040904B0"])
        text = f"{major},{minor},{patch},{tweak}"
        self.assertEqual({name: values[name] for name in (
            "CompanyName", "FileVersion", "ProductVersion", "ProductName", "OriginalFilename",
            "LegalCopyright")}, {
            "CompanyName": "Brevane", "FileVersion": text, "ProductVersion": text,
            "ProductName": APP_NAME, "OriginalFilename": self.file_name,
            "LegalCopyright": "Copyright (C) Brevane. All rights reserved."})


class TraceViewerStamp(ConsoleProgramStamp, unittest.TestCase):
    path_variable, file_name = "TRACE_EXE", "RAVITOR-trace.exe"


def service_catalogue():
    """{message id: English text} of res/service/service-messages.mc."""
    with open(os.path.join(SOURCE, "res", "service", "service-messages.mc"), encoding="ascii",
              newline="") as f:
        text = f.read()
    return {int(number): body for number, body in
            re.findall(r"MessageId=(\d+)\r\nSymbolicName=\w+\r\nLanguage=English\r\n(.*?)\r\n\.\r\n",
                       text, re.DOTALL)}


class ServiceStamp(ConsoleProgramStamp, unittest.TestCase):
    """RAVITOR-service.exe: the same stamp, only DLLs that Windows ships,
    and the message table of its records."""

    path_variable, file_name = "SERVICE_EXE", "RAVITOR-service.exe"

    def test_imports_only_system_dlls(self):
        dlls = {e.dll.decode().lower() for e in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(dlls, {"kernel32.dll", "advapi32.dll", "wtsapi32.dll", "userenv.dll",
                                    "msvcrt.dll"})

    def test_message_table_holds_the_records(self):
        texts = parse_message_table(self.resources[(RT_MESSAGETABLE, 1, ENGLISH)])
        expected = service_catalogue()
        self.assertEqual(sorted(expected), [1001, 1002])
        self.assertEqual({mid: text.rstrip("\r\n") for mid, text in texts.items()}, expected)
        for text in texts.values():
            self.assertIn("%1", text)


if __name__ == "__main__":
    if len(sys.argv) > 3:
        SERVICE_EXE = sys.argv.pop(3)
    if len(sys.argv) > 2:
        TRACE_EXE = sys.argv.pop(2)
    if len(sys.argv) > 1:
        EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
