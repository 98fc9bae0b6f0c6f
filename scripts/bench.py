#!/usr/bin/python3
"""What RAVITOR.exe costs, against its floors, measured in one run.

Native: Google Benchmark runs of the core's hook, tick, policy and catalogue
paths over the recording fake, each against a floor that makes only the
platform calls the path must make by design (benchmarks/).

Under Wine: the real RAVITOR.exe and a bare Win32 program built the same way
(a hidden window, a 30-second timer, the two low-level hooks passing input
on and one reading of the session's last input time per tick:
benchmarks/floor/FloorProgram.cpp), and the same bare program making the
trace switch checks RAVITOR.exe makes by design (--trace-checks), each in a
throw-away prefix with its own Xvfb display and wineserver: executable size,
start-up to the message loop (the programs' starts interleaved), CPU over
fast-forwarded ticks, cost per injected input event with and without the
trace switch key, CPU and wake-ups over real idle time (all three programs
idle together), and memory. CPU is read from /proc for the Linux process that runs the
executable (and for the prefix's wineserver, which does the registry and
message work a Windows kernel would do), since Wine's own counters for
another process are incomplete.

Then the session service's idle cost against a bare service
(scripts/bench_service.py).

Writes build/bench/results.json and build/bench/report.md; with --write-docs
also the figures block of docs/PERFORMANCE.md."""
import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import time
from datetime import datetime

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from winesession import (HKLM, TRACE_KEY, TS_KEY, DriverFailed, PrefixTemplate,  # noqa: E402
                         WineSession, wait_until)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_service import run_service, service_table  # noqa: E402
from linux_process import LinuxProcess, kilobytes, read, status_fields, wineserver_of  # noqa: E402

DOCS = os.path.join(ROOT, "docs", "PERFORMANCE.md")
BEGIN_MARK = "<!-- bench:begin -->"
END_MARK = "<!-- bench:end -->"
EXIT_COMMAND = 105
# All three limits on and far beyond the ticks sent, so no box ever shows:
# one day idle and disconnected, two days connected.
POLICIES = {"MaxIdleTime": 86400000, "MaxConnectionTime": 172800000,
            "MaxDisconnectionTime": 86400000}
HOOK_TARGET = 1.5
IDLE_TARGET = 1.2


# --- One resident program in a prefix of its own ---------------------------------

class Resident:
    def __init__(self, name, exe, arguments, build, template):
        self.name = name
        self.exe = exe
        self.arguments = arguments
        self.driver_exe = os.path.join(build, "SessionDriver.exe")
        self.viewer_exe = os.path.join(build, "RAVITOR-trace.exe")
        self.session = WineSession(template)
        self.process = None
        self.linux = None
        self.server = None
        self.answer_file = os.path.join(self.session.root, "answer.out")
        self.driver_server_ns = 0

    def close(self):
        self.session.close()

    def drive(self, *arguments):
        try:
            return self.session.drive(self.driver_exe, *arguments)
        except DriverFailed as failure:
            raise DriverFailed(f"{self.name}: {failure}") from failure

    def prepare(self):
        self.session.write_registry({(HKLM, TS_KEY): POLICIES}, delete_keys=[(HKLM, TRACE_KEY)])
        self.drive("park", 5, 5)
        # The viewer runs throughout; while the key is absent nothing reaches it.
        self.session.start_trace_viewer(self.viewer_exe)
        self.server = wineserver_of(self.session.prefix)
        if self.server is None:
            raise RuntimeError(f"{self.name}: no wineserver for {self.session.prefix}")

    def start_timed(self):
        """Starts the program; seconds from the start until its window answers."""
        if os.path.exists(self.answer_file):
            os.unlink(self.answer_file)
        waiter = self.session.start(self.driver_exe, "answer", "30000", stdout=self.answer_file)
        if not wait_until(lambda: "waiting" in self.session.read(self.answer_file)):
            raise RuntimeError(f"{self.name}: the waiting driver did not start")
        started = time.time()
        self.process = self.session.start(self.exe, *self.arguments)
        if waiter.wait(timeout=60) != 0:
            raise RuntimeError(f"{self.name}: the window never answered")
        answered = json.loads(self.session.read(self.answer_file).splitlines()[-1])[
            "answered_unix_ms"] / 1000
        self.linux = LinuxProcess(self.process.pid)
        if not read(f"/proc/{self.process.pid}/cmdline").split("\0")[0].endswith(
                os.path.basename(self.exe)):
            raise RuntimeError(f"{self.name}: process {self.process.pid} is not the program")
        return answered - started

    def stop(self):
        self.drive("command", EXIT_COMMAND)
        if self.process.wait(timeout=30) != 0:
            raise RuntimeError(f"{self.name}: exit code {self.process.returncode}")

    def check_running(self):
        if self.process.poll() is not None:
            raise RuntimeError(f"{self.name}: ended with {self.process.returncode}")

    def snapshot(self):
        voluntary, involuntary = self.linux.switches()
        return {"cpu_ns": self.linux.cpu_ns(), "cpu_ticks_ms": self.linux.cpu_ticks_ms(),
                "server_ns": self.server.cpu_ns(), "voluntary": voluntary,
                "involuntary": involuntary, "time": time.monotonic()}

    @staticmethod
    def delta(before, after):
        return {key: after[key] - before[key] for key in before}

    def driven(self, *arguments):
        """Runs one driver command; the CPU it cost the program and the wineserver."""
        before = self.snapshot()
        out = self.drive(*arguments)
        change = self.delta(before, self.snapshot())
        self.check_running()
        return change, out

    def set_trace_switch(self, present):
        if present:
            self.session.write_registry({(HKLM, TRACE_KEY): {}})
        else:
            self.session.write_registry({}, delete_keys=[(HKLM, TRACE_KEY)])


def median(values):
    return statistics.median(values) if values else None


def measure_startups(residents, starts, results):
    """Starts each program `starts` times, the programs taking turns, so that
    drift of the machine's load falls on all of them alike; the last start
    stays resident."""
    startups = {r.name: [] for r in residents}
    for attempt in range(starts):
        for resident in residents:
            startups[resident.name].append(resident.start_timed())
            if attempt + 1 < starts:
                resident.stop()
    for resident in residents:
        figures = results.setdefault(resident.name, {})
        figures["exe_bytes"] = os.path.getsize(resident.exe)
        figures["startup_ms"] = [round(s * 1000, 1) for s in startups[resident.name]]
        figures["startup_ms_median"] = round(median(startups[resident.name]) * 1000, 1)


def measure_after_start(resident, results):
    figures = results[resident.name]
    figures["memory_after_start"] = resident.linux.memory()
    figures["working_set_after_start"] = json.loads(resident.drive("stats"))["working_set"]
    figures["threads"] = resident.linux.threads()
    # What a driver run costs the wineserver by itself, taken off the input
    # and tick figures below.
    empties = [resident.driven("keys", 0)[0]["server_ns"] for _ in range(3)]
    resident.driver_server_ns = median(empties)
    figures["driver_alone_server_ms"] = round(resident.driver_server_ns / 1e6, 2)


def measure_driven(residents, options, results):
    """Ticks and input events in rounds, the programs taking turns within each
    round; the figures are the sums over all rounds."""
    totals = {r.name: {} for r in residents}

    def add(resident, key, change, out=None):
        total = totals[resident.name].setdefault(
            key, {"cpu_ns": 0, "server_ns": 0, "elapsed_ms": 0.0, "count": 0})
        total["cpu_ns"] += change["cpu_ns"]
        total["server_ns"] += change["server_ns"] - resident.driver_server_ns
        if out:
            total["elapsed_ms"] += json.loads(out)["elapsed_ms"]

    ticks = max(1, options.ticks // options.rounds)
    events = max(1, options.events // options.rounds)
    for _ in range(options.rounds):
        for resident in residents:
            add(resident, "ticks", resident.driven("tick", ticks)[0])
            totals[resident.name]["ticks"]["count"] += ticks
    for trace in (False, True):
        for resident in residents:
            resident.set_trace_switch(trace)
        for _ in range(options.rounds):
            for resident in residents:
                for command in ("keys", "moves"):
                    key = f"{command}_trace_{'on' if trace else 'off'}"
                    add(resident, key, *resident.driven(command, events))
                    totals[resident.name][key]["count"] += events
    for resident in residents:
        resident.set_trace_switch(False)

    for resident in residents:
        figures = results[resident.name]
        for key, total in totals[resident.name].items():
            if key == "ticks":
                figures[key] = {"count": total["count"],
                                "cpu_ms": round(total["cpu_ns"] / 1e6, 2),
                                "server_ms": round(total["server_ns"] / 1e6, 2)}
                continue
            figures[key] = {
                "events": total["count"],
                "cpu_us_per_event": round(total["cpu_ns"] / 1e3 / total["count"], 2),
                "server_us_per_event": round(total["server_ns"] / 1e3 / total["count"], 2),
                "latency_us_per_event": round(total["elapsed_ms"] * 1e3 / total["count"], 2)}
        if resident.name == "RAVITOR":
            # The trace lines prove each event went through the program's hooks.
            lines = resident.session.trace_lines()
            figures["trace_lines_seen"] = {
                "Keyboard timer reset": lines.count("Keyboard timer reset"),
                "Mouse timer reset": lines.count("Mouse timer reset")}


def measure_idle(residents, seconds):
    """One idle period, all programs idle together; the figures per program.
    /proc is sampled every quarter second, so that each time a program was on
    the CPU shows, not only the total."""
    before = {r.name: r.snapshot() for r in residents}
    last = {r.name: r.linux.cpu_ns() for r in residents}
    active = {r.name: [] for r in residents}  # (start, end) seconds into the period
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        time.sleep(0.25)
        now = time.monotonic() - started
        for resident in residents:
            cpu = resident.linux.cpu_ns()
            if cpu != last[resident.name]:
                spans = active[resident.name]
                if spans and now - spans[-1][1] <= 0.5:
                    spans[-1] = (spans[-1][0], now)
                else:
                    spans.append((now - 0.25, now))
            last[resident.name] = cpu
    figures = {}
    for resident in residents:
        resident.check_running()
        change = Resident.delta(before[resident.name], resident.snapshot())
        figures[resident.name] = {
            "seconds": round(change["time"], 1),
            "cpu_ms": round(change["cpu_ns"] / 1e6, 3),
            "cpu_ticks_ms": change["cpu_ticks_ms"],
            "voluntary_switches": change["voluntary"],
            "involuntary_switches": change["involuntary"],
            "server_ms": round(change["server_ns"] / 1e6, 3),
            "wakeups": len(active[resident.name]),
            "wakeups_at_s": [round(start, 1) for start, _ in active[resident.name]]}
    return figures


def measure_idle_periods(residents, seconds, periods, results):
    """Several idle periods back to back. A period of 120 s holds only four
    wake-ups per program, and what one wake-up costs under Wine varies with
    the state of the machine, so one period alone decides little: the table
    shows the period whose RAVITOR.exe / floor ratio is the median, and every
    period's ratio and the totals are reported beside it."""
    runs = [measure_idle(residents, seconds) for _ in range(periods)]
    ratios = [run["RAVITOR"]["cpu_ms"] / run["Floor"]["cpu_ms"] if run["Floor"]["cpu_ms"]
              else float("inf") for run in runs]
    median = sorted(range(periods), key=lambda index: ratios[index])[periods // 2]
    for resident in residents:
        figures = results[resident.name]
        figures["idle"] = dict(runs[median][resident.name], period=median + 1, periods=periods)
        figures["idle_periods_cpu_ms"] = [run[resident.name]["cpu_ms"] for run in runs]
        figures["memory_at_end"] = resident.linux.memory()


RESIDENTS = (("RAVITOR", "RAVITOR.exe", ()), ("Floor", "FloorProgram.exe", ()),
             ("FloorChecks", "FloorProgram.exe", ("--trace-checks",)))


def run_wine(options, results):
    template = PrefixTemplate()
    residents = []
    try:
        for name, exe, arguments in RESIDENTS:
            residents.append(Resident(name, os.path.join(options.windows_build, exe), arguments,
                                      options.windows_build, template))
            residents[-1].prepare()
        print(f"Starting each program {options.starts} times under Wine...", flush=True)
        measure_startups(residents, options.starts, results)
        time.sleep(1)
        for resident in residents:
            measure_after_start(resident, results)
        print(f"{options.ticks} ticks and {options.events} events of each kind in "
              f"{options.rounds} rounds...", flush=True)
        measure_driven(residents, options, results)
        print(f"All programs idle for {options.idle_periods} periods of "
              f"{options.idle_seconds} s...", flush=True)
        measure_idle_periods(residents, options.idle_seconds, options.idle_periods, results)
        for resident in residents:
            resident.stop()
    finally:
        for resident in residents:
            resident.close()
        template.close()


# --- Native benchmarks --------------------------------------------------------------

NATIVE_GROUPS = ("HookPath/Fake/", "HookPath/CoreOnly/", "OnTick/Fake/", "OnTick/CoreOnly/",
                 "LastInputRead/Fake/", "LastInputRead/CoreOnly/", "ReadPolicyDword/",
                 "LoadCatalogText/")


def native_order(name):
    group = next((i for i, prefix in enumerate(NATIVE_GROUPS) if name.startswith(prefix)),
                 len(NATIVE_GROUPS))
    return group, name


def run_native(options, results):
    binary = os.path.join(options.native_build, "benchmarks", "ravitor_benchmarks")
    out = os.path.join(options.output, "native.json")
    print("Running the native benchmarks...", flush=True)
    subprocess.run([binary, f"--benchmark_out={out}", "--benchmark_out_format=json",
                    f"--benchmark_repetitions={options.repetitions}",
                    "--benchmark_enable_random_interleaving=true",
                    "--benchmark_report_aggregates_only=true",
                    f"--benchmark_min_time={options.min_time}"], check=True)
    with open(out) as f:
        data = json.load(f)
    medians = {b["run_name"]: b["cpu_time"] for b in data["benchmarks"]
               if b.get("aggregate_name") == "median" and not b.get("error_occurred")}
    rows = []
    for name, program in sorted(medians.items(), key=lambda item: native_order(item[0])):
        if not name.endswith("/Program"):
            continue
        path = name[:-len("/Program")]
        floor = medians.get(path + "/Floor")
        if floor:
            rows.append({"path": path, "program_ns": round(program, 1),
                         "floor_ns": round(floor, 1), "ratio": round(program / floor, 3)})
    results["native"] = {"rows": rows, "context": data.get("context", {}),
                         "repetitions": options.repetitions}


# --- Report -------------------------------------------------------------------------

def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in read("/proc/cpuinfo").splitlines()
                if line.startswith("model name")), "unknown")
    memory = kilobytes(status_fields("/proc/meminfo").get("MemTotal"))
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          env=dict(os.environ, WINEDEBUG="-all")).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": cpu, "memory_gib": round(memory / 1048576, 1),
            "kernel": platform.release(), "wine": wine,
            "date": datetime.now().strftime("%Y-%m-%d %H:%M")}


def ratio(program, floor):
    return f"{program / floor:.2f}" if floor else "n/a"


def verdict(value, limit):
    return f"≤ {limit}: " + ("met" if value <= limit else "**missed**")


def native_table(native):
    lines = ["**Core paths, native Release build** (CPU time per call, median of "
             f"{native['repetitions']} interleaved repetitions; *Fake* rows go through the "
             "recording fake with its journal off, *CoreOnly* rows through a platform that "
             "returns at once)", "",
             "| Path | Program ns | Floor ns | Ratio | Target |", "|---|---:|---:|---:|---|"]
    for row in native["rows"]:
        target = verdict(row["ratio"], HOOK_TARGET) if row["path"].startswith(
            "HookPath/Fake/") else ""
        lines.append(f"| `{row['path']}` | {row['program_ns']} | {row['floor_ns']} | "
                     f"{row['ratio']:.2f} | {target} |")
    return lines + [""]


def wine_rows(r, f, c):
    """(label, RAVITOR, bare floor, floor with trace checks, target) per figure."""
    rows = [("Executable size, bytes", r["exe_bytes"], f["exe_bytes"], c["exe_bytes"], None),
            (f"Start-up to the message loop, ms (median of {len(r['startup_ms'])})",
             r["startup_ms_median"], f["startup_ms_median"], c["startup_ms_median"], None),
            (f"CPU over {r['ticks']['count']} ticks, ms: process", r["ticks"]["cpu_ms"],
             f["ticks"]["cpu_ms"], c["ticks"]["cpu_ms"], None),
            ("… and wineserver, ms", r["ticks"]["server_ms"], f["ticks"]["server_ms"],
             c["ticks"]["server_ms"], None)]
    for trace in ("off", "on"):
        for command, what in (("keys", "key event"), ("moves", "mouse move")):
            key = f"{command}_trace_{trace}"
            label = f"Per {what}, switch key {'present' if trace == 'on' else 'absent'}"
            for field, unit in (("cpu_us_per_event", "CPU µs: process"),
                                ("server_us_per_event", "CPU µs: wineserver"),
                                ("latency_us_per_event", "SendInput latency µs")):
                rows.append((f"{label}, {unit}", r[key][field], f[key][field], c[key][field],
                             None))
    rows += [(f"CPU over {r['idle']['seconds']:.0f} s idle, ms: process (median of "
              f"{r['idle']['periods']} periods)", r["idle"]["cpu_ms"],
              f["idle"]["cpu_ms"], c["idle"]["cpu_ms"], IDLE_TARGET),
             ("… times on the CPU (sampled every 0.25 s)", r["idle"]["wakeups"],
              f["idle"]["wakeups"], c["idle"]["wakeups"], None),
             ("… voluntary context switches", r["idle"]["voluntary_switches"],
              f["idle"]["voluntary_switches"], c["idle"]["voluntary_switches"], None),
             ("… wineserver of the prefix, ms", r["idle"]["server_ms"], f["idle"]["server_ms"],
              c["idle"]["server_ms"], None)]
    for when, key in (("after start-up", "memory_after_start"), ("at the end", "memory_at_end")):
        for label, field in (("working set (VmRSS)", "vm_rss_kb"),
                             ("private (RssAnon)", "rss_anon_kb"),
                             ("private (Private_Dirty)", "private_dirty_kb")):
            rows.append((f"Memory {when}, {label}, KiB", r[key][field], f[key][field],
                         c[key][field], None))
    rows.append(("Threads", r["threads"], f["threads"], c["threads"], None))
    return rows


def idle_periods_note(r, f, c):
    ravitor, floor, checks = (figures["idle_periods_cpu_ms"] for figures in (r, f, c))
    seconds = r["idle"]["seconds"] * len(ravitor)
    return ("Idle CPU of every period, ms, RAVITOR.exe / floor / floor + checks: "
            + "; ".join(f"{program} / {bare} / {checked} ({ratio(program, bare)})"
                        for program, bare, checked in zip(ravitor, floor, checks))
            + f"; over all {seconds:.0f} s: {sum(ravitor):.3f} / {sum(floor):.3f} / "
            f"{sum(checks):.3f} ({ratio(sum(ravitor), sum(floor))} of the floor, "
            f"{ratio(sum(ravitor), sum(checks))} of the floor with the checks)")


def wine_table(results):
    r, f, c = results["RAVITOR"], results["Floor"], results["FloorChecks"]
    lines = ["**Resident figures under Wine** (all three built with MinGW-w64, static, "
             "MinSizeRel; *floor*: the bare program; *floor + checks*: the bare program making "
             "the trace switch checks RAVITOR.exe makes by design)", "",
             "| Figure | RAVITOR.exe | Floor | Ratio | Floor + checks | Ratio | Target |",
             "|---|---:|---:|---:|---:|---:|---|"]
    for label, program, floor, checks, limit in wine_rows(r, f, c):
        target = verdict(program / floor, limit) if limit and floor else ""
        lines.append(f"| {label} | {program} | {floor} | {ratio(program, floor)} | {checks} | "
                     f"{ratio(program, checks)} | {target} |")
    lines += ["", "Start-ups, ms: " + "; ".join(
        f"{name} {results[name]['startup_ms']}" for name in ("RAVITOR", "Floor", "FloorChecks"))
        + ". A driver run by itself costs each prefix's wineserver "
        + ", ".join(f"{results[name]['driver_alone_server_ms']} ms"
                    for name in ("RAVITOR", "Floor", "FloorChecks"))
        + "; that is taken off the wineserver figures of the tick and input rows. "
        + "Seconds into the median idle period at which each program was on the CPU: "
        + "; ".join(f"{name} {results[name]['idle']['wakeups_at_s']}"
                    for name in ("RAVITOR", "Floor", "FloorChecks"))
        + ". " + idle_periods_note(r, f, c)
        + ". Trace lines "
        f"RAVITOR-trace received from RAVITOR.exe while the key was present: "
        f"{r.get('trace_lines_seen')}.", ""]
    return lines


def report(results):
    m = results["machine"]
    lines = [f"Measured {m['date']} on {m['nproc']} CPUs ({m['cpu']}), {m['memory_gib']} GiB, "
             f"Linux {m['kernel']}, {m['wine']}.", ""]
    if "native" in results:
        lines += native_table(results["native"])
    if all(name in results for name in ("RAVITOR", "Floor", "FloorChecks")):
        lines += wine_table(results)
    if all(name in results for name in ("Service", "FloorService")):
        lines += service_table(results)
    return "\n".join(lines)


def write_docs(text):
    with open(DOCS, encoding="utf-8") as f:
        doc = f.read()
    begin, end = doc.index(BEGIN_MARK) + len(BEGIN_MARK), doc.index(END_MARK)
    with open(DOCS, "w", encoding="utf-8") as f:
        f.write(doc[:begin] + "\n" + text + "\n" + doc[end:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--native-build", default=os.path.join(ROOT, "build", "bench-native"))
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--output", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--repetitions", type=int, default=9)
    parser.add_argument("--min-time", type=float, default=0.2)
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--ticks", type=int, default=1000)
    parser.add_argument("--events", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--idle-seconds", type=int, default=120)
    parser.add_argument("--idle-periods", type=int, default=3)
    parser.add_argument("--skip-native", action="store_true")
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--skip-service", action="store_true")
    parser.add_argument("--service-idle-seconds", type=int, default=60)
    parser.add_argument("--service-idle-periods", type=int, default=3)
    parser.add_argument("--write-docs", action="store_true",
                        help="replace the figures block of docs/PERFORMANCE.md")
    options = parser.parse_args()
    if options.idle_periods < 1:
        parser.error("--idle-periods must be at least 1")
    os.makedirs(options.output, exist_ok=True)

    results = {"machine": machine()}
    if not options.skip_native:
        run_native(options, results)
    if not options.skip_wine:
        run_wine(options, results)
    if not options.skip_service:
        print(f"The session service and a bare service idle for "
              f"{options.service_idle_periods} periods of {options.service_idle_seconds} s...",
              flush=True)
        run_service(options, results)
    with open(os.path.join(options.output, "results.json"), "w") as f:
        json.dump(results, f, indent=2, ensure_ascii=False)
    text = report(results)
    with open(os.path.join(options.output, "report.md"), "w", encoding="utf-8") as f:
        f.write(text + "\n")
    print(text)
    if options.write_docs:
        write_docs(text)
        print(f"Updated {DOCS}")


if __name__ == "__main__":
    main()
