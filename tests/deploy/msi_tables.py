"""Reads a Windows Installer package's tables and summary with msiinfo
(Debian package msitools)."""
import subprocess


class MsiPackage:
    def __init__(self, path, msiinfo="msiinfo"):
        self.path = path
        self.msiinfo = msiinfo

    def _msiinfo(self, command, *arguments):
        result = subprocess.run([self.msiinfo, command, self.path, *arguments],
                                capture_output=True, timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"msiinfo {command} {' '.join(arguments)} failed: "
                               f"{result.stderr.decode(errors='replace')}")
        return result.stdout.decode("utf-8", errors="replace")

    def table_names(self):
        return set(self._msiinfo("tables").split())

    def rows(self, table):
        """The rows of `table` as dictionaries from column name to text; a
        null field is an empty string."""
        lines = self._msiinfo("export", table).split("\r\n")
        # Exported as IDT: column names, column types, table name and keys.
        columns = lines[0].split("\t")
        rows = []
        for line in lines[3:]:
            if not line:
                continue
            fields = line.split("\t")
            if len(fields) != len(columns):
                raise RuntimeError(f"{table}: {len(fields)} fields for {len(columns)} columns")
            rows.append(dict(zip(columns, fields)))
        return rows

    def properties(self):
        return {row["Property"]: row["Value"] for row in self.rows("Property")}

    def summary(self):
        summary = {}
        for line in self._msiinfo("suminfo").splitlines():
            name, _, value = line.partition(":")
            summary[name.strip()] = value.strip()
        return summary


def long_name(default_dir_or_file_name):
    """The long part of a "SHORT~1|Long name" field."""
    return default_dir_or_file_name.split("|")[-1]
