#!/usr/bin/python3
"""End-to-end scenarios: the real RAVITOR.exe in a private Wine prefix under
Xvfb, policies written to that prefix's registry as Group Policy leaves them,
the session played by the driver, and everything observed from outside: trace
lines through RAVITOR-trace, event records and session requests through Wine's
debug channels, warning boxes, exit codes and screenshots."""
import json
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
from catalog import formatted, parse_mc  # noqa: E402
from winesession import (HKCU, HKLM, PRODUCT_KEY, TRACE_KEY, TS_KEY, WAIT_SECONDS,  # noqa: E402
                         PrefixTemplate, WineSession, wait_until)

BUILD = os.environ.get("RAVITOR_BUILD", "build/windows")
RAVITOR = os.path.abspath(os.path.join(BUILD, "RAVITOR.exe"))
VIEWER = os.path.abspath(os.path.join(BUILD, "RAVITOR-trace.exe"))
DRIVER = os.path.abspath(os.path.join(BUILD, "SessionDriver.exe"))
ARTIFACTS = os.path.abspath(os.environ.get("RAVITOR_ARTIFACTS", os.path.join(BUILD, "e2e-artifacts")))

TEXTS = parse_mc()
ENGLISH = 0x0409

STARTUP = ["Debugger activated", "Initializing all timers"]
ACTIVE_SET = ["Active timer Set"]
IDLE_SET = ["ActiveButIdle timer set", "Is Active but idle timer, Setting keyboard and mouse hooks..."]
DISCONNECTED_SET = ["Disconnected timer set"]
TERMINATE = "Terminate session when time limit is reached is set"
NEAR_DISCONNECT = "Disconnect timer is Near Expiring"
NEAR_LOGOFF = "Logoff Timer is Near Expiring"
EXPIRED_DISCONNECT = "Time has expired, disconnecting Session now"
EXPIRED_LOGOFF = "Time has expired, setting bLogoffNow to true, session will be terminated."
LOGGING_OFF = ["Destroying all timers", "Logging off now..."]
POLICY_SEEN = "Policy change has been detected."
POLICY_REBUILD = "Session Timer policy change has been detected, stopping timers and re-initializing app"
CONNECT = "WTS Connect Message detected, resetting Idle and Connection timers"
DISCONNECT = "WTS Disconnect message detected, reseting disconnect timer"
ANOTHER_INSTANCE = "Another instance is already running in this session, exiting"

template = None


def setUpModule():
    global template
    template = PrefixTemplate()


def tearDownModule():
    if template:
        template.close()


def box(caption_id, text_id, lang=ENGLISH):
    return {"caption": formatted(TEXTS, caption_id, lang), "text": formatted(TEXTS, text_id, lang)}


class Scenario(unittest.TestCase):
    lang = None

    def setUp(self):
        self.session = WineSession(template, lang=self.lang)
        self.addCleanup(self.session.close)
        self.ravitor = None

    # --- Set-up ------------------------------------------------------------------
    def policies(self, product=None, ts=None, user_product=None, user_ts=None, trace=True):
        keys = {}
        if trace:
            keys[(HKLM, TRACE_KEY)] = {}
        for hive, path, values in ((HKLM, PRODUCT_KEY, product), (HKLM, TS_KEY, ts),
                                   (HKCU, PRODUCT_KEY, user_product), (HKCU, TS_KEY, user_ts)):
            if values:
                keys[(hive, path)] = values
        self.session.write_registry(keys)

    def start(self, expect_window=True):
        self.drive("park", 5, 5)  # a box appearing under the pointer would move the mouse
        self.session.start_trace_viewer(VIEWER)
        self.ravitor = self.session.start_ravitor(RAVITOR)
        if expect_window:
            if not self.session.wait_for_window(self.ravitor, DRIVER):
                self.fail("RAVITOR.exe is not resident with its hidden window:\n"
                          + self.session.diagnosis(self.ravitor, DRIVER))

    # --- Playing the session -------------------------------------------------------
    def drive(self, *arguments):
        return self.session.drive(DRIVER, *arguments)

    def tick(self, count=1, identifier=151):
        self.drive("tick", count, identifier)

    def script(self, *steps):
        return self.session.run_script(DRIVER, steps)

    # --- Observing -----------------------------------------------------------------
    def expect(self, trace, events=(), boxes=None):
        self.assertEqual(self.session.take_trace(len(trace)), list(trace))
        self.assertEqual(self.session.take_events(), list(events))
        if boxes is not None:
            self.assertEqual(self.wait_for_boxes(len(boxes)), list(boxes))

    def wait_for_boxes(self, count):
        """The warning boxes once there are `count`, as {caption, text}. Each
        must belong to the program's own process, where the sweep can reach
        it. (Wine 8 does not make a box of MB_TOPMOST topmost, as Windows
        does, so that is not looked at.)"""
        boxes = wait_until(lambda: self.session.boxes(DRIVER), lambda boxes: len(boxes) == count,
                           timeout=WAIT_SECONDS)
        program = json.loads(self.drive("find"))["pid"] if boxes else None
        for shown in boxes:
            self.assertEqual(shown.pop("pid"), program, shown)
        return boxes

    def screenshot(self, name):
        self.session.screenshot(os.path.join(ARTIFACTS, f"{self.id().split('.')[-1]}-{name}.png"))

    def end_with(self, *driver_command):
        self.drive(*driver_command)
        self.assertEqual(self.ravitor.wait(timeout=WAIT_SECONDS), 0)
        self.assertEqual(self.session.driver(DRIVER, "find")[0], 1, "the window is gone")


class SessionRoads(Scenario):
    def test_road_of_one_idle_session(self):
        self.policies(ts={"MaxIdleTime": 600000, "fResetBroken": 0, "MaxDisconnectionTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET + DISCONNECTED_SET)

        self.tick(19)
        self.expect(["Tick"] * 19, boxes=[])
        self.tick()
        self.expect(["Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.screenshot("idle-warning")
        self.tick(3)
        self.expect(["Tick"] * 3, boxes=[box(114, 116)])
        self.tick()
        self.expect(["Tick", EXPIRED_DISCONNECT], ["ReportEvent 4 1 119", "DisconnectSession"],
                    boxes=[])

        self.drive("session", 4)  # what the platform sends after the disconnect
        self.expect([DISCONNECT])
        self.tick()
        self.expect(["Tick"])
        self.tick()
        self.expect(["Tick", EXPIRED_LOGOFF] + LOGGING_OFF, ["ReportEvent 4 1 118", "LogoffSession"])
        self.tick(5)
        self.expect([], boxes=[])
        self.end_with("command", 105)

    def test_connection_time_logoff(self):
        self.policies(ts={"MaxConnectionTime": 3600000, "fResetBroken": 1})
        self.start()
        self.expect(STARTUP + ACTIVE_SET + [TERMINATE])
        self.tick(119)
        self.expect(["Tick"] * 119, boxes=[])
        self.tick()
        self.expect(["Tick", NEAR_LOGOFF], boxes=[box(111, 112)])
        self.screenshot("connection-warning")
        self.tick(4)
        self.expect(["Tick"] * 4 + [EXPIRED_LOGOFF] + LOGGING_OFF,
                    ["ReportEvent 4 1 118", "LogoffSession"], boxes=[])
        self.end_with("endsession", 1)

    def test_input_resets_only_the_idle_count(self):
        self.policies(ts={"MaxIdleTime": 150000, "MaxConnectionTime": 300000})
        self.start()
        self.expect(STARTUP + ACTIVE_SET + IDLE_SET)
        self.tick(4)
        self.expect(["Tick"] * 8)
        self.drive("key")
        self.expect(["Keyboard timer reset"] * 2)  # key down and key up
        self.tick(4)
        self.expect(["Tick"] * 8, boxes=[])
        self.drive("mouse")
        self.expect(["Mouse timer reset"])
        self.tick(2)
        # The connection count was never reset: 10 ticks reach its limit.
        self.expect(["Tick", "Tick", "Tick", NEAR_DISCONNECT, "Tick"], boxes=[box(111, 113)])
        self.end_with("command", 105)

    def test_two_warnings_in_one_tick(self):
        self.policies(ts={"MaxIdleTime": 60000, "MaxConnectionTime": 60000})
        self.start()
        self.expect(STARTUP + ACTIVE_SET + IDLE_SET)
        self.tick(2)
        self.expect(["Tick", "Tick", "Tick", NEAR_DISCONNECT, "Tick", NEAR_DISCONNECT])
        boxes = self.wait_for_boxes(2)
        self.screenshot("two-warnings")
        self.assertCountEqual(boxes, [box(111, 113), box(114, 116)])
        self.tick(4)
        self.expect(["Tick"] * 7 + [EXPIRED_DISCONNECT, "Tick", EXPIRED_DISCONNECT],
                    ["ReportEvent 4 1 119", "DisconnectSession"] * 2, boxes=[])
        self.end_with("command", 105)

    def test_user_closes_the_box(self):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.tick(2)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.drive("close", formatted(TEXTS, 114, ENGLISH))
        self.assertEqual(self.wait_for_boxes(0), [])
        self.end_with("command", 105)


class PolicyChanges(Scenario):
    def start_idle(self):
        self.policies(ts={"MaxIdleTime": 600000, "MaxDisconnectionTime": 300000})
        self.start()
        self.expect(STARTUP + IDLE_SET + DISCONNECTED_SET)

    def test_change_to_the_same_tick_count_does_not_rebuild(self):
        self.start_idle()
        self.tick(3)
        self.expect(["Tick"] * 3)
        self.session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 610000}})
        self.drive("setting", "Policy")
        self.expect([POLICY_SEEN])
        self.drive("setting", "intl")
        self.drive("setting")
        self.tick(17)
        self.expect(["Tick"] * 17 + [NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("command", 105)

    def test_change_of_tick_count_rebuilds(self):
        self.start_idle()
        self.tick(3)
        self.expect(["Tick"] * 3)
        self.session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 630000}})
        self.drive("setting", "POLICY")
        self.expect([POLICY_SEEN, POLICY_REBUILD, "Destroying all timers"] + STARTUP[1:] + IDLE_SET
                    + DISCONNECTED_SET)
        self.tick(20)
        self.expect(["Tick"] * 20, boxes=[])
        self.tick()
        self.expect(["Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("command", 105)

    def test_rebuild_while_disconnected_counts_only_the_disconnected_timer(self):
        self.start_idle()
        self.drive("session", 2)
        self.tick(3)
        self.expect([DISCONNECT] + ["Tick"] * 3)
        self.session.write_registry({(HKLM, TS_KEY): {"MaxDisconnectionTime": 120000}})
        self.drive("setting", "Policy")
        self.expect([POLICY_SEEN, POLICY_REBUILD, "Destroying all timers"] + STARTUP[1:] + IDLE_SET
                    + DISCONNECTED_SET)
        self.tick(4)
        self.expect(["Tick"] * 4 + [EXPIRED_LOGOFF] + LOGGING_OFF,
                    ["ReportEvent 4 1 118", "LogoffSession"])
        self.end_with("command", 105)

    def test_master_switch_off_at_a_rebuild_leaves_nothing_to_do(self):
        self.start_idle()
        self.session.write_registry({(HKLM, PRODUCT_KEY): {"RunRAVITOR": 0},
                                     (HKLM, TS_KEY): {"MaxIdleTime": 900000}})
        self.drive("setting", "Policy")
        self.expect([POLICY_SEEN, POLICY_REBUILD, "Destroying all timers", "Initializing all timers"])
        self.tick(40)
        self.drive("session", 4)
        self.drive("key")
        self.expect([DISCONNECT], boxes=[])
        self.assertIsNone(self.ravitor.poll(), "the process keeps running")
        self.end_with("command", 105)


class ReEntrancy(Scenario):
    def test_policy_change_sent_during_the_expiry_sweep_waits_for_the_tick(self):
        caption = formatted(TEXTS, 114, ENGLISH)
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.tick(5)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT, "Tick", "Tick", "Tick"],
                    boxes=[box(114, 116)])
        self.session.write_registry({(HKLM, TS_KEY): {"MaxIdleTime": 120000}})
        # The expiry tick's sweep closes the decoy, titled like the idle box;
        # the decoy sends the policy change while the sweep waits for it.
        out = self.script(["decoy", caption, "Policy"], ["tick"])
        self.assertEqual([json.loads(line) for line in out.splitlines() if line.strip()],
                         [{"decoy_closed": caption, "setting": "Policy", "sent": True,
                           "inside_send": True}])
        # Seen on arrival, acted on once the expiring timer is done with.
        self.expect(["Tick", POLICY_SEEN, EXPIRED_DISCONNECT, POLICY_REBUILD,
                     "Destroying all timers"] + STARTUP[1:] + IDLE_SET,
                    ["ReportEvent 4 1 119", "DisconnectSession"], boxes=[])
        # The rebuilt timer counts from 0 to its new limit of 4 ticks.
        self.tick(3)
        self.expect(["Tick"] * 3, boxes=[])
        self.tick()
        self.expect(["Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("command", 105)


class SweepBound(Scenario):
    SWEEP_TIMEOUT_MS = 100  # the sweep's wait for each box it closes

    def test_expiry_with_many_open_boxes_is_answered_within_the_sweeps_bound(self):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        # Each warning is followed by input, so its box stays open; the last
        # one's timer goes on to expire.
        boxes = 13
        self.script(*[["tick", 2], ["key"]] * (boxes - 1), ["tick", 5])
        self.assertEqual(self.wait_for_boxes(boxes), [box(114, 116)] * boxes)
        # Closing a box keeps its thread busy for about 2 s under Xvfb (Wine
        # waits for the window to be withdrawn); the sweep must not wait for
        # that thread beyond its time-out, whatever else it owns.
        out = self.script(["steady"], ["slowest"], ["tick"], ["slowest"])
        slowest = json.loads(out.splitlines()[-1])["slowest_tick_ms"]
        print(f"\nexpiring tick with {boxes} open boxes answered after {slowest:.0f} ms",
              file=sys.stderr)
        # Asking each box thread's hidden IME window for its title took about
        # 2 s here; the sweep's own bound is its time-out for each box.
        self.assertLess(slowest, boxes * self.SWEEP_TIMEOUT_MS)
        warning = ["Tick", "Tick", NEAR_DISCONNECT]
        self.expect(([*warning, "Keyboard timer reset", "Keyboard timer reset"] * (boxes - 1)
                     + warning + ["Tick"] * 3 + ["Tick", EXPIRED_DISCONNECT]),
                    ["ReportEvent 4 1 119", "DisconnectSession"], boxes=[])
        self.end_with("command", 105)


class StartAndEnd(Scenario):
    def test_master_switch_off_at_start_exits_without_a_window(self):
        self.policies(product={"RunRAVITOR": 0}, ts={"MaxIdleTime": 600000})
        self.start(expect_window=False)
        self.assertEqual(self.ravitor.wait(timeout=WAIT_SECONDS), 0)
        self.expect(STARTUP)
        self.assertEqual(self.session.driver(DRIVER, "find")[0], 1)

    def test_no_limit_set_exits(self):
        self.policies(product={"IdleTimerEnable": 1})
        self.start(expect_window=False)
        self.assertEqual(self.ravitor.wait(timeout=WAIT_SECONDS), 0)
        self.expect(STARTUP)

    def test_end_session_false_leaves_the_program_enforcing(self):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.drive("send", 0x11, 0)  # WM_QUERYENDSESSION goes to default processing
        self.assertIsNone(self.ravitor.poll())
        self.drive("endsession", 0)  # the session goes on after all
        # The window is destroyed inside the send, if at all: gone by now.
        self.assertEqual(self.session.driver(DRIVER, "find")[0], 0, "the window stays")
        self.assertIsNone(self.ravitor.poll(), "the process keeps running")
        # Nothing traced or counted in between: the second tick warns.
        self.tick(2)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("endsession", 1)

    def test_second_copy_in_the_session_exits_at_once(self):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        # Both copies write to the same program output files, opened to append.
        second = self.session.start_ravitor(RAVITOR)
        wait_until(lambda: second.poll() is not None)
        self.assertEqual(second.poll(), 0, "the second copy ends at once")
        self.expect([ANOTHER_INSTANCE])
        self.assertIsNone(self.ravitor.poll(), "the first copy keeps running")
        self.assertEqual(self.session.driver(DRIVER, "find")[0], 0)
        self.tick(2)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("command", 105)

        # The first copy's name went with its process.
        self.ravitor = self.session.start_ravitor(RAVITOR)
        if not self.session.wait_for_window(self.ravitor, DRIVER):
            self.fail("a copy started after the first has ended is not resident:\n"
                      + self.session.diagnosis(self.ravitor, DRIVER))
        self.expect(STARTUP + IDLE_SET)
        self.end_with("command", 105)

    def test_file_exit(self):
        self.policies(ts={"MaxIdleTime": 600000})
        self.start()
        self.drive("command", 106)
        self.assertIsNone(self.ravitor.poll(), "other commands go to default processing")
        self.end_with("command", 105)

    def test_session_codes_and_other_timers_change_nothing(self):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        for code in range(5, 10):
            self.drive("session", code)
        self.tick(3, identifier=150)
        self.expect([], boxes=[])
        self.drive("session", 3)
        self.expect([CONNECT])
        self.end_with("command", 105)


class PolicyValues(Scenario):
    def test_value_only_in_the_user_hive_is_used(self):
        self.policies(user_ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.tick(2)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT], boxes=[box(114, 116)])
        self.end_with("command", 105)

    def test_out_of_range_and_wrong_type_values_fall_back(self):
        self.policies(
            # 5 is out of range: the default 1, not the user hive's 0.
            product={"ConnectionTimerEnable": 5, "IdleTimerEnable": "1"},
            user_product={"ConnectionTimerEnable": 0},
            ts={"MaxConnectionTime": 60000, "MaxIdleTime": 60000, "fResetBroken": 2,
                # Eight bytes count as absent: the user hive's value is used.
                "MaxDisconnectionTime": (11, bytes(8))},
            user_ts={"MaxDisconnectionTime": 60000})
        self.start()
        # "1" is a four-byte string, read as 0x31: out of range, so enabled.
        self.expect(STARTUP + ACTIVE_SET + IDLE_SET + DISCONNECTED_SET)
        self.tick(2)
        # fResetBroken 2 is out of range: both boxes warn of a disconnect.
        self.expect(["Tick", "Tick", "Tick", NEAR_DISCONNECT, "Tick", NEAR_DISCONNECT])
        self.assertCountEqual(self.wait_for_boxes(2), [box(111, 113), box(114, 116)])
        self.end_with("command", 105)

    def test_trace_switch_key_created_while_running(self):
        self.policies(ts={"MaxIdleTime": 600000}, trace=False)
        self.start()
        self.tick(2)
        self.expect([])
        self.session.write_registry({(HKLM, TRACE_KEY): {}})
        self.tick()
        self.expect(["Tick"])
        self.session.write_registry({}, delete_keys=[(HKLM, TRACE_KEY)])
        self.tick()
        self.expect([])
        self.end_with("command", 105)


class TraceViewer(Scenario):
    def test_shows_only_the_chosen_image(self):
        self.policies(ts={"MaxIdleTime": 600000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.drive("debug", "another program")
        self.tick()
        self.expect(["Tick"])
        self.end_with("command", 105)

    def test_shows_every_process_with_its_id(self):
        self.session.start_trace_viewer(VIEWER, filters=())
        self.drive("debug", "first line\nsecond line")
        lines = wait_until(lambda: len(self.session.trace_lines()) >= 2 and self.session.read(
            self.session.trace_file).splitlines())
        self.assertRegex(lines[0], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] first line$")
        self.assertEqual(lines[1].split("] ", 1)[1], "second line")


class Languages(Scenario):
    def run_warning(self, lang_id):
        self.policies(ts={"MaxIdleTime": 60000})
        self.start()
        self.expect(STARTUP + IDLE_SET)
        self.tick(2)
        self.expect(["Tick", "Tick", NEAR_DISCONNECT], boxes=[box(114, 116, lang_id)])
        self.screenshot("warning")
        self.tick(4)
        self.expect(["Tick"] * 4 + [EXPIRED_DISCONNECT], ["ReportEvent 4 1 119", "DisconnectSession"],
                    boxes=[])
        self.end_with("command", 105)


def language_case(locale, lang_id):
    class Case(Languages):
        lang = locale

        def test_warning_in_the_sessions_language(self):
            self.run_warning(lang_id)

    Case.__name__ = Case.__qualname__ = "Language_" + locale.split(".")[0]
    return Case


# German (Germany, Austria) and Chinese (PRC, Taiwan): the thread locale is
# reduced to its primary language, except Chinese (PRC); the neutral Chinese
# language finds the PRC texts.
Language_de_DE = language_case("de_DE.UTF-8", 0x0407)
Language_de_AT = language_case("de_AT.UTF-8", 0x0407)
Language_zh_CN = language_case("zh_CN.UTF-8", 0x0804)
Language_zh_TW = language_case("zh_TW.UTF-8", 0x0804)

if __name__ == "__main__":
    unittest.main(verbosity=2)
