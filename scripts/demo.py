#!/usr/bin/python3
"""Shows RAVITOR.exe doing its job under Wine: a demonstration policy (an idle
limit of one minute, tracing on), the trace viewer's output as it arrives, the
warning box two ticks later (saved as a PNG), then the sweep, the event record
and the disconnect request, and a clean end."""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from winesession import HKLM, TRACE_KEY, TS_KEY, WineSession  # noqa: E402

BUILD = os.path.join(ROOT, "build", "windows")


def say(text):
    print(f"\033[1m== {text}\033[0m" if sys.stdout.isatty() else f"== {text}", flush=True)


class Demo:
    def __init__(self, real_ticks):
        self.real_ticks = real_ticks
        self.session = WineSession()
        self.driver = os.path.join(BUILD, "SessionDriver.exe")
        self.shown_trace = 0
        self.shown_events = 0

    def drive(self, *arguments):
        return self.session.drive(self.driver, *arguments)

    def show_news(self):
        lines = self.session.read(self.session.trace_file).splitlines()
        for line in lines[self.shown_trace:]:
            print("   trace  " + line, flush=True)
        self.shown_trace = len(lines)
        events = self.session.debug_events()
        for event in events[self.shown_events:]:
            kind = "event log" if event.startswith("ReportEvent") else "session request"
            print(f"   {kind}  {event}", flush=True)
        self.shown_events = len(events)
        return events

    def run(self):
        say("Policy: MaxIdleTime 60000 ms (two 30-second ticks), fResetBroken 0, trace switch key on")
        self.session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 60000, "fResetBroken": 0},
                                     (HKLM, TRACE_KEY): {}})
        self.drive("park", 5, 5)
        say("Starting RAVITOR-trace.exe and RAVITOR.exe under Wine "
            f"(display {self.session.env['DISPLAY']})")
        self.session.start_trace_viewer(os.path.join(BUILD, "RAVITOR-trace.exe"))
        ravitor = self.session.start_ravitor(os.path.join(BUILD, "RAVITOR.exe"))
        if not self.session.wait_for_window(ravitor, self.driver):
            raise RuntimeError("RAVITOR.exe did not start:\n"
                               + self.session.diagnosis(ravitor, self.driver))
        time.sleep(0.5)
        self.show_news()
        if self.real_ticks:
            say("Real ticks: RAVITOR's own timer fires every 30 seconds; the warning comes "
                "after about one minute and the disconnect two minutes later.")
        else:
            say("Ticks are fast-forwarded: the driver sends one tick (WM_TIMER 151) per second, "
                "each standing for 30 seconds. Use --real-ticks for real time.")
        warned = False
        deadline = time.monotonic() + (400 if self.real_ticks else 60)
        while time.monotonic() < deadline:
            if not self.real_ticks:
                self.drive("tick")
            time.sleep(1)
            events = self.show_news()
            boxes = self.session.boxes(self.driver)
            if boxes and not warned:
                warned = True
                path = os.path.join(BUILD, "demo-warning.png")
                self.session.screenshot(path)
                say(f"Warning box up: \"{boxes[0]['caption']}\"")
                for line in boxes[0]["text"].splitlines():
                    print("   | " + line, flush=True)
                say(f"Screenshot saved: {path}")
            if "DisconnectSession" in events:
                say("The box was swept, event 119 written and the session disconnect requested "
                    "(Wine's event log and session calls are stubs that report each call).")
                break
        else:
            raise RuntimeError("no disconnect within the expected time")
        say("Ending the program with File, Exit (WM_COMMAND 105)")
        self.drive("command", 105)
        code = ravitor.wait(timeout=30)
        self.show_news()
        say(f"RAVITOR.exe ended with exit code {code}")
        return code

    def close(self):
        self.session.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--real-ticks", action="store_true",
                        help="wait for the program's own 30-second ticks instead of sending them")
    args = parser.parse_args()
    demo = Demo(args.real_ticks)
    try:
        return demo.run()
    finally:
        demo.close()


if __name__ == "__main__":
    sys.exit(main())
