"""What the session service costs while idle, against a bare service that
only waits for its stop request (benchmarks/floor/FloorService.cpp), both
built alike and running side by side in one throw-away Wine prefix.

The session service idles as on a server: it has started RAVITOR.exe in the
session and waits on that copy and on the two policy keys. CPU is read from
/proc for the Linux process that runs each service, as in bench.py."""
import glob
import os
import time

from linux_process import LinuxProcess
from winesession import HKLM, TS_KEY, WineSession, wait_until, windows_path

SERVICES = (("Service", "RAVITOR-service.exe", "TolvexPellanSessionTimers"),
            ("FloorService", "FloorService.exe", "RavitorFloorService"))
IDLE_TARGET = 1.2


def linux_pid_of(image):
    """The Linux process whose command line names the Windows executable."""
    for cmdline in glob.glob("/proc/[0-9]*/cmdline"):
        try:
            with open(cmdline, "rb") as f:
                if image.encode() in f.read():
                    return int(cmdline.split("/")[2])
        except OSError:
            continue
    return None


def run_service(options, results):
    session = WineSession()
    try:
        session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 86400000}})
        pids = {}
        for name, exe, service in SERVICES:
            path = windows_path(os.path.join(options.windows_build, exe))
            for command in (["sc", "create", service, "binPath=", path],
                            ["sc", "start", service]):
                if session._run(["wine", *command]) != 0:
                    raise RuntimeError(f"wine {' '.join(command)} failed")
            pids[name] = wait_until(lambda image=exe: linux_pid_of(image), timeout=30)
            if pids[name] is None:
                raise RuntimeError(f"{exe} is not running")
        driver = os.path.join(options.windows_build, "SessionDriver.exe")
        if wait_until(lambda: session.driver(driver, "find")[0], lambda code: code == 0) != 0:
            raise RuntimeError("the session service did not start RAVITOR.exe")
        time.sleep(2)  # start-up done
        periods = []
        for _ in range(options.service_idle_periods):
            processes = {name: LinuxProcess(pid) for name, pid in pids.items()}
            before = {name: process.cpu_ns() for name, process in processes.items()}
            time.sleep(options.service_idle_seconds)
            periods.append({name: (process.cpu_ns() - before[name]) / 1e6
                            for name, process in processes.items()})
        for name, pid in pids.items():
            results[name] = {"idle_cpu_ms": [round(period[name], 3) for period in periods],
                             "idle_seconds": options.service_idle_seconds,
                             "vm_rss_kb": LinuxProcess(pid).memory()["vm_rss_kb"],
                             "exe_bytes": os.path.getsize(os.path.join(
                                 options.windows_build, dict((n, e) for n, e, _ in SERVICES)[name]))}
    finally:
        session.close()


def service_table(results):
    service, floor = results["Service"], results["FloorService"]
    total, floor_total = sum(service["idle_cpu_ms"]), sum(floor["idle_cpu_ms"])
    seconds = service["idle_seconds"] * len(service["idle_cpu_ms"])
    per_hour = 3600 / seconds
    if floor_total > 0:
        ratio = total / floor_total
        ratio_text = f"{ratio:.2f} ({'within' if ratio <= IDLE_TARGET else 'above'} {IDLE_TARGET})"
    else:
        ratio_text = f"the floor used no CPU at all: {total * per_hour:.0f} ms an hour more"
    return ["", "| Session service, under Wine | RAVITOR-service.exe | bare service | ratio |",
            "|---|---|---|---|",
            f"| CPU over {seconds} s idle, ms (per period: "
            f"{', '.join(f'{v:.1f}' for v in service['idle_cpu_ms'])} against "
            f"{', '.join(f'{v:.1f}' for v in floor['idle_cpu_ms'])}) | {total:.1f} | "
            f"{floor_total:.1f} | {ratio_text} |",
            f"| resident memory, KiB | {service['vm_rss_kb']} | {floor['vm_rss_kb']} | "
            f"{service['vm_rss_kb'] / max(floor['vm_rss_kb'], 1):.2f} |",
            f"| executable, bytes | {service['exe_bytes']} | {floor['exe_bytes']} | "
            f"{service['exe_bytes'] / floor['exe_bytes']:.2f} |"]
