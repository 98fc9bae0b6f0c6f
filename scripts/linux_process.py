"""The Linux side of a Wine process: its CPU time, context switches, threads
and memory as /proc shows them, for the benchmarks."""
import glob
import os


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def status_fields(path):
    fields = {}
    for line in read(path).splitlines():
        name, _, value = line.partition(":")
        fields[name.strip()] = value.strip()
    return fields


def kilobytes(text):
    return int(text.split()[0]) if text else 0


class LinuxProcess:
    def __init__(self, pid):
        self.pid = pid

    def alive(self):
        return os.path.exists(f"/proc/{self.pid}")

    def cpu_ns(self):
        """CPU time of the live threads, in nanoseconds (schedstat)."""
        total = 0
        for task in glob.glob(f"/proc/{self.pid}/task/*/schedstat"):
            fields = read(task).split()
            if fields:
                total += int(fields[0])
        return total

    def cpu_ticks_ms(self):
        """utime + stime of the whole process, dead threads included (10 ms steps)."""
        fields = read(f"/proc/{self.pid}/stat").rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])
        return ticks * 1000 / os.sysconf("SC_CLK_TCK")

    def switches(self):
        voluntary = involuntary = 0
        for task in glob.glob(f"/proc/{self.pid}/task/*/status"):
            fields = status_fields(task)
            voluntary += int(fields.get("voluntary_ctxt_switches", 0))
            involuntary += int(fields.get("nonvoluntary_ctxt_switches", 0))
        return voluntary, involuntary

    def threads(self):
        return len(glob.glob(f"/proc/{self.pid}/task/*"))

    def memory(self):
        status = status_fields(f"/proc/{self.pid}/status")
        rollup = status_fields(f"/proc/{self.pid}/smaps_rollup")
        return {"vm_rss_kb": kilobytes(status.get("VmRSS")),
                "rss_anon_kb": kilobytes(status.get("RssAnon")),
                "private_dirty_kb": kilobytes(rollup.get("Private_Dirty")),
                "private_clean_kb": kilobytes(rollup.get("Private_Clean"))}


def wineserver_of(prefix):
    for environ in glob.glob("/proc/[0-9]*/environ"):
        pid = environ.split("/")[2]
        if not read(f"/proc/{pid}/comm").startswith("wineserver"):
            continue
        try:
            with open(environ, "rb") as f:
                variables = f.read().split(b"\0")
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix.encode() in variables:
            return LinuxProcess(int(pid))
    return None
