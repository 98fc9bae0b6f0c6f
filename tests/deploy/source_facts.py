"""What the program's own sources say about the values the deployment must
match: policy names and keys, event-source values, application name,
version, and README's table of policies."""
import os
import re


def read(source, relative_path):
    with open(os.path.join(source, relative_path), encoding="utf-8") as f:
        return f.read()


def cpp_string(literal):
    """The text of a C++ wide string literal's body (only \\\\ and \\" escapes)."""
    return re.sub(r'\\(.)', r'\1', literal)


def policy_names(source):
    """Constants of src/settings/PolicyNames.h: {constant name: text}."""
    text = read(source, "src/settings/PolicyNames.h")
    return {name: cpp_string(value) for name, value in
            re.findall(r'constexpr const wchar_t\*\s+(\w+)\s*=\s*L"((?:[^"\\]|\\.)*)"', text)}


def integer_constant(source, relative_path, name):
    match = re.search(rf'\b{name}\s*=\s*(\d+)\s*;', read(source, relative_path))
    if not match:
        raise RuntimeError(f"{name} not found in {relative_path}")
    return int(match.group(1))


def types_supported(source):
    return integer_constant(source, "src/notify/EventLogSource.cpp", "kTypesSupported")


def category_count(source):
    return integer_constant(source, "src/timers/TimerSet.h", "kEventCategoryCount")


def application_name(source):
    """The event source's name: the title string of res/RAVITOR.rc."""
    match = re.search(r'IDS_APP_TITLE\s+"([^"]*)"', read(source, "res/RAVITOR.rc"))
    if not match:
        raise RuntimeError("IDS_APP_TITLE not found in res/RAVITOR.rc")
    return match.group(1)


def project_version(source):
    match = re.search(r'project\(\s*\w+\s+VERSION\s+([0-9.]+)', read(source, "CMakeLists.txt"))
    if not match:
        raise RuntimeError("no project VERSION in CMakeLists.txt")
    return match.group(1)


def policy_table(source):
    """The program's table of policy values in src/settings/PolicyNames.h:
    {value name: {"key", "default", "minimum", "maximum"}}, keys and names as
    the program spells them."""
    names = policy_names(source)
    pattern = re.compile(r'constexpr\s+PolicyValue\s+\w+\s*=\s*\{\s*(\w+)\s*,\s*(\w+)\s*,'
                         r'\s*(\w+)\s*,\s*(\w+)\s*,\s*(\w+)\s*\}\s*;')
    table = {}
    for key, name, default, minimum, maximum in pattern.findall(
            read(source, "src/settings/PolicyNames.h")):
        table[names[name]] = {"key": names[key], "default": int(default, 0),
                              "minimum": int(minimum, 0), "maximum": int(maximum, 0)}
    if not table:
        raise RuntimeError("no policy table in src/settings/PolicyNames.h")
    return table


def product_policy_reads(source):
    """(value name, default, minimum, maximum) of every value the program
    reads from the product's policy key."""
    product_key = policy_names(source)["kProductPolicyKey"]
    return [(name, row["default"], row["minimum"], row["maximum"])
            for name, row in policy_table(source).items() if row["key"] == product_key]


def markdown_table(text, first_header):
    """The first Markdown table in `text` whose first header cell is
    `first_header`, as a list of {header: cell} with code marks removed."""
    lines = text.splitlines()
    for index, line in enumerate(lines):
        cells = _cells(line)
        if cells and cells[0] == first_header:
            rows = []
            for row_line in lines[index + 2:]:
                if not row_line.startswith("|"):
                    break
                rows.append(dict(zip(cells, _cells(row_line))))
            return rows
    raise RuntimeError(f"no table headed {first_header!r}")


def _cells(line):
    if not line.startswith("|"):
        return []
    return [cell.strip().replace("`", "") for cell in line.strip().strip("|").split("|")]


def readme_policies(source):
    """README's "Policies read" table with "same" keys filled in:
    {value: {"Key", "Default", "Range", "Effect"}}."""
    rows = markdown_table(read(source, "README.md"), "Value")
    policies = {}
    key = None
    for row in rows:
        key_cell = row[next(header for header in row if header.startswith("Key"))]
        key = key if key_cell == "same" else key_cell
        policies[row["Value"]] = {"Key": key, "Default": row["Default"],
                                  "Range": row["Range"], "Effect": row["Effect"]}
    return policies
