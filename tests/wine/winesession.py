"""A throw-away Wine prefix with its own Xvfb display, in which RAVITOR.exe,
its trace viewer and the session driver run, and what they leave behind is
read: trace lines, event records and session requests from Wine's debug
channels, warning boxes, exit codes and screenshots."""
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

WAIT_SECONDS = 30
HKLM = "HKEY_LOCAL_MACHINE"
HKCU = "HKEY_CURRENT_USER"
PRODUCT_KEY = r"Software\Policies\Brevane\Tolvex Pellan Session Timers"
TS_KEY = r"SOFTWARE\Policies\Microsoft\Windows NT\Terminal Services"
TRACE_KEY = r"SOFTWARE\Brevane\Tolvex Pellan Session Timers\dbg"
# What Wine prints when it could not start a process at all.
NOT_STARTED = "failed to map the shared user data"
BASE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def wait_until(fetch, accept=bool, timeout=WAIT_SECONDS, interval=0.05):
    """Fetches until `accept` holds for the value (by default: until it is
    true) or time runs out; returns the last value fetched."""
    deadline = time.monotonic() + timeout
    while True:
        value = fetch()
        if accept(value) or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def windows_path(path):
    """The path of a Linux file as a program in the prefix sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class DriverFailed(RuntimeError):
    """A session driver command that exited with anything but 0."""


class PrefixTemplate:
    """One booted prefix; each session gets a copy, far faster than booting."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="ravitor-template-")
        self.path = os.path.join(self.root, "prefix")
        env = dict(os.environ, WINEPREFIX=self.path, **BASE_ENV)
        env.pop("DISPLAY", None)
        with open(os.path.join(self.root, "wineboot.log"), "wb") as log:
            subprocess.run(["wineboot", "-i"], env=env, stdout=log, stderr=log, timeout=180,
                           check=True)
        subprocess.run(["wineserver", "-w"], env=env, timeout=WAIT_SECONDS)

    def copy_to(self, destination):
        # Hard links for the unchanging files; real copies of the registry,
        # which wineserver rewrites.
        subprocess.run(["cp", "-al", self.path, destination], check=True)
        for name in os.listdir(destination):
            if name.endswith(".reg"):
                os.unlink(os.path.join(destination, name))
                shutil.copy2(os.path.join(self.path, name), os.path.join(destination, name))

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def reg_value(name, value):
    """A .reg line: int -> dword, str -> string, bytes -> hex(type) raw,
    (type, bytes) -> hex(type), None -> delete."""
    if value is None:
        return f'"{name}"=-'
    if isinstance(value, int):
        return f'"{name}"=dword:{value:08x}'
    if isinstance(value, str):
        return '"%s"="%s"' % (name, value.replace("\\", "\\\\").replace('"', '\\"'))
    kind, data = value if isinstance(value, tuple) else (3, value)
    return f'"{name}"=hex({kind:x}):' + ",".join(f"{b:02x}" for b in data)


class WineSession:
    def __init__(self, template=None, lang=None):
        self.root = tempfile.mkdtemp(prefix="ravitor-wine-")
        self.prefix = os.path.join(self.root, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, **BASE_ENV)
        if lang:
            self.env["LANG"] = lang
            self.env["LC_ALL"] = lang
        self.xvfb = None
        self.processes = []
        self.files = []
        self.trace_file = os.path.join(self.root, "trace.txt")
        self.debug_file = os.path.join(self.root, "ravitor-debug.txt")
        self.driver_errors = ""
        self.trace_taken = 0
        self.events_taken = 0
        try:
            self._start_display()
            if template:
                template.copy_to(self.prefix)
            else:
                self._run(["wineboot", "-i"], timeout=180)
                self._run(["wineserver", "-w"])
            # One wineserver for the whole session. Debian's starts it with
            # -p0: whenever no program of ours runs, such as between writing
            # the policies and starting the driver, it spends about two
            # seconds shutting the session's desktop and services down, and
            # a program that starts meanwhile was seen to fail at random.
            self._run(["wineserver", "-p"])
        except Exception:
            self.close()
            raise

    # --- Processes -------------------------------------------------------------
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

    def _run(self, command, timeout=WAIT_SECONDS, output=None, errors=None, env=None):
        # Output goes to files: Wine's helper processes keep pipes open.
        with open(output or os.path.join(self.root, "wine.log"), "ab") as log, \
                open(errors or os.devnull, "ab") as error_log:
            return subprocess.run(command, env=env or self.env, stdout=log,
                                  stderr=error_log if errors else subprocess.STDOUT,
                                  timeout=timeout).returncode

    def _run_started(self, command, errors, output=None, timeout=WAIT_SECONDS, env=None):
        """Runs a Wine command with its standard error in `errors`; returns
        its exit code. Wine now and then fails to lay out a new process's
        address space before any of its code runs: it prints NOT_STARTED and
        exits with 1. The command did nothing, so it is run again, twice at
        most. Any other failure is the command's own answer."""
        for _ in range(3):
            for path in (output, errors):
                if path and os.path.exists(path):
                    os.unlink(path)
            code = self._run(command, timeout=timeout, output=output, errors=errors, env=env)
            started = not (NOT_STARTED in self.read(errors) and not (output and self.read(output)))
            if code == 0 or started:
                break
        return code

    def start(self, program, *arguments, stdout=None, stderr=None, winedebug=None):
        env = dict(self.env)
        if winedebug:
            env["WINEDEBUG"] = winedebug
        out = open(stdout or os.path.join(self.root, "program.log"), "ab")
        err = open(stderr, "ab") if stderr else out
        self.files += [out, err]
        process = subprocess.Popen(["wine", program, *arguments], env=env, stdout=out, stderr=err)
        self.processes.append(process)
        return process

    def start_trace_viewer(self, viewer, filters=("--image", "RAVITOR.exe")):
        ready = os.path.join(self.root, "trace-viewer.err")
        process = self.start(viewer, *filters, stdout=self.trace_file, stderr=ready)
        if not wait_until(lambda: "receiving debug output" in self.read(ready)):
            raise RuntimeError("the trace viewer did not start: " + self.read(ready))
        return process

    def start_ravitor(self, ravitor):
        # Wine's event log and Terminal Services calls are stubs that report
        # each call on these channels.
        return self.start(ravitor, stdout=os.path.join(self.root, "ravitor.out"),
                          stderr=self.debug_file, winedebug="-all,fixme+advapi,fixme+wtsapi")

    def driver(self, driver, *arguments, timeout=WAIT_SECONDS):
        """Runs the session driver; returns (exit code, stdout), for commands
        whose exit code is the answer (find). Its standard error, with Wine's
        own errors of the run, is kept in driver_errors."""
        out, err = (os.path.join(self.root, name) for name in ("driver.out", "driver.err"))
        code = self._run_started(["wine", driver, *[str(a) for a in arguments]], err, output=out,
                                 timeout=timeout, env=dict(self.env, WINEDEBUG="-all,err+all"))
        self.driver_errors = self.read(err)
        return code, self.read(out)

    def drive(self, driver, *arguments, timeout=WAIT_SECONDS):
        """Runs one driver command that must succeed; returns its output."""
        code, out = self.driver(driver, *arguments, timeout=timeout)
        if code != 0:
            raise DriverFailed(f"driver {' '.join(str(a) for a in arguments)} exited with {code}\n"
                               f"output: {out[-3000:]}\n"
                               f"errors (the driver's and Wine's): {self.driver_errors[-3000:]}")
        return out

    def run_script(self, driver, steps, timeout=WAIT_SECONDS):
        """Runs the steps, each a driver command as a list of arguments, in one
        driver process: far faster than a process per step, and what one step
        leaves (a decoy window) is still there for the next. Returns the
        output; the driver stops at the first step that fails."""
        path = os.path.join(self.root, "script.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join("\t".join(str(a) for a in step) for step in steps) + "\n")
        return self.drive(driver, "script", windows_path(path), timeout=timeout)

    # --- Registry ------------------------------------------------------------
    def write_registry(self, keys, delete_keys=()):
        """keys: {(hive, path): {name: value}}; see reg_value for the values."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for hive, path in delete_keys:
            lines += [f"[-{hive}\\{path}]", ""]
        for (hive, path), values in keys.items():
            lines.append(f"[{hive}\\{path}]")
            lines += [reg_value(name, value) for name, value in values.items()]
            lines.append("")
        reg = os.path.join(self.root, "policies.reg")
        with open(reg, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        errors = os.path.join(self.root, "regedit.err")
        code = self._run_started(["wine", "regedit", "/S", reg], errors)
        if code != 0:
            raise RuntimeError(f"regedit failed with {code}: {self.read(errors)[-3000:]}")

    # --- Observations ----------------------------------------------------------
    @staticmethod
    def read(path):
        """A file the programs or Wine wrote, as text; empty while it does not exist."""
        try:
            with open(path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def trace_lines(self):
        # "2026-12-09 23:40:09.115 [268] text"
        return [line.split("] ", 1)[1] for line in self.read(self.trace_file).splitlines()
                if "] " in line]

    def debug_events(self):
        events = []
        for line in self.read(self.debug_file).splitlines():
            report = re.search(r"ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x([0-9a-f]{4}),"
                               r"0x([0-9a-f]{8})", line)
            if report:
                events.append("ReportEvent %d %d %d" % tuple(int(g, 16) for g in report.groups()))
            elif "WTSDisconnectSession" in line:
                events.append("DisconnectSession")
            elif "WTSLogoffSession" in line:
                events.append("LogoffSession")
        return events

    def take_trace(self, expected_count, settle=0.3):
        """Trace lines since the last take, once at least `expected_count` are in."""
        wait_until(lambda: len(self.trace_lines()) - self.trace_taken >= expected_count,
                   timeout=WAIT_SECONDS)
        time.sleep(settle)
        lines = self.trace_lines()[self.trace_taken:]
        self.trace_taken += len(lines)
        return lines

    def take_events(self):
        events = self.debug_events()[self.events_taken:]
        self.events_taken += len(events)
        return events

    def boxes(self, driver):
        return [json.loads(line) for line in self.drive(driver, "boxes").splitlines()
                if line.strip()]

    def wait_for_window(self, process, driver):
        """Whether the program came up resident with its hidden window; stops
        waiting as soon as it has exited."""
        found = wait_until(lambda: process.poll() is not None or
                           self.driver(driver, "find")[0] == 0, interval=0.3)
        return bool(found) and process.poll() is None

    def diagnosis(self, process, driver):
        """What a failed start leaves behind, for the test's failure message."""
        def tail(path, lines=12):
            return "\n".join(self.read(path).splitlines()[-lines:])
        code, found = self.driver(driver, "find")
        return "\n".join([
            f"exit code: {process.poll()}; driver find: {code} {found.strip()}",
            "Wine's errors in the driver:", self.driver_errors[-2000:],
            f"trace lines: {self.trace_lines()}",
            "program's Wine output:", tail(self.debug_file),
            "Wine log:", tail(os.path.join(self.root, "wine.log")),
            "Wine and X processes:"] + [
                line for line in subprocess.run(["ps", "-eo", "pid,ppid,stat,etimes,args"],
                                                capture_output=True, text=True).stdout.splitlines()
                if "wine" in line or ".exe" in line or "Xvfb" in line])

    def screenshot(self, path):
        raw = subprocess.run(["xwd", "-root", "-silent", "-display", self.env["DISPLAY"]],
                             capture_output=True, timeout=WAIT_SECONDS, check=True).stdout
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(xwd_to_png(raw))

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
        if os.path.isdir(self.prefix):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=WAIT_SECONDS)
        for process in self.processes:
            try:
                process.wait(timeout=WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        for file in self.files:
            file.close()
        shutil.rmtree(self.root, ignore_errors=True)


def xwd_to_png(data):
    """A 24/32-bit TrueColor X window dump as PNG bytes."""
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    if bits_per_pixel not in (24, 32):
        raise ValueError(f"unsupported dump: {bits_per_pixel} bits per pixel")
    # xwd may give the depth as bits per pixel; the line length tells.
    size = 4 if bytes_per_line >= 4 * width else 3
    pixels = data[header_size + 12 * ncolors:]
    # Each colour channel is one byte of the pixel.
    offsets = [((m & -m).bit_length() - 1) // 8 for m in masks]
    if byte_order != 0:
        offsets = [size - 1 - o for o in offsets]
    rows = bytearray()
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + size * width]
        rgb = bytearray(3 * width)
        for channel, offset in enumerate(offsets):
            rgb[channel::3] = line[offset::size]
        rows += b"\0" + rgb

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))
