# The program without a mouse, under Wine: keys typed on the X keyboard move the focus over the
# hotspots and start the focused one's applet, as the process trace shows; a mouse user's first
# picture is the same as before keyboard support, pixel for pixel; the focus cue is a dotted ring
# on the focused hotspot alone. A screen reader's walk (MSAA, from another process: Wine
# marshals IAccessible across processes) finds the thirteen hotspots with their names, roles and
# places, hits what the mouse would hover, and starts what a click starts; the About window's
# links are reached both ways. oleacc is loaded at the first question, not before.
#
# The start picture in tests/e2e/data (the client area) was taken from the program before
# keyboard support:
#   LUMENO_EXE=<that program> LUMENO_SAVE_START_PICTURE=tests/e2e/data/main_window_at_start.png \
#     /usr/bin/python3 tests/e2e/test_keyboard_access.py StartPictureTest

import os
import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

START_PICTURE = Path(__file__).resolve().parent / "data" / "main_window_at_start.png"
TRACE = os.environ.get("LUMENO_A11Y_TRACE", "+pid,+process,+file,+loaddll")

# The hotspots as the user meets them, topmost first: title, twips in the picture's inside.
SPOTS = [
    ("Mouse", 5760, 4200, 615, 375), ("Date/Time", 5520, 600, 735, 2055),
    ("Passwords", 240, 4440, 855, 495), ("Internet options", 180, 2760, 675, 1230),
    ("Keyboard", 1440, 4200, 3885, 480), ("Add/New Hardware", 4395, 3765, 675, 435),
    ("System Properites", 990, 3720, 4065, 555), ("Display", 1920, 1200, 2295, 2295),
    ("Multimedia", 4200, 1440, 780, 1830), ("Modems", 4200, 3240, 735, 495),
    ("Add/New Programs", 4920, 3240, 735, 615), ("Sounds", 1080, 1560, 735, 1695),
    ("Regional Settings", 360, 240, 2535, 1575),
]
# Client pixels: the picture's inside starts at (5, 6).
RECTS = {t: Rect(5 + l // 15, 6 + tp // 15, 5 + (l + w) // 15, 6 + (tp + h) // 15) for t, l, tp, w, h in SPOTS}
READING_ORDER = ["Regional Settings", "Date/Time", "Display", "Multimedia", "Sounds", "Internet options",
                 "Modems", "Add/New Programs", "System Properites", "Add/New Hardware", "Keyboard", "Mouse",
                 "Passwords"]
# The two hotspots whose classic Control Panel file Wine ships: their own lines start.
INTERNET = "rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0"
PROGRAMS = "rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1"
ROLE_PUSHBUTTON, ROLE_LINK, ROLE_STATICTEXT, ROLE_GRAPHIC = 43, 30, 41, 40
STATE_FOCUSED, STATE_FOCUSABLE, STATE_INVISIBLE = 0x4, 0x100000, 0x8000
VT_I4 = 3


def spot_at(x: int, y: int) -> str:
    """The topmost hotspot at a client point, "" for none."""
    for title, *_ in SPOTS:
        if RECTS[title].contains(x, y):
            return title
    return ""


class Walk:
    """What `lumeno_inproc msaa` printed about one window."""

    CHILD = re.compile(r'^child (\d+) role (-?\d+) state 0x([0-9a-f]+) loc (-?\d+) (-?\d+) (\d+) (\d+) '
                       r'name "(.*)" action "(.*)"$')

    def __init__(self, text: str) -> None:
        self.text = text
        self.children: dict[int, dict] = {}
        self.hits: dict[tuple[int, int], tuple[int, int]] = {}
        self.acts: dict[int, int] = {}
        self.focus = (0, 0)
        self.count = -1
        for line in text.splitlines():
            if m := self.CHILD.match(line):
                self.children[int(m[1])] = {"role": int(m[2]), "state": int(m[3], 16),
                                            "loc": tuple(map(int, m.group(4, 5, 6, 7))), "name": m[8],
                                            "action": m[9]}
            elif m := re.match(r"^hit (-?\d+),(-?\d+) (\d+) (-?\d+)$", line):
                self.hits[(int(m[1]), int(m[2]))] = (int(m[3]), int(m[4]))
            elif m := re.match(r"^act (\d+) 0x([0-9a-f]+)$", line):
                self.acts[int(m[1])] = int(m[2], 16)
            elif m := re.match(r"^focus (\d+) (-?\d+)$", line):
                self.focus = (int(m[1]), int(m[2]))
            elif m := re.match(r"^count (\d+)$", line):
                self.count = int(m[1])

    def named(self, name: str) -> int:
        ids = [i for i, c in self.children.items() if i > 0 and c["name"] == name]
        return ids[0] if len(ids) == 1 else -1


class AccessTestCase(harness.ProgramTestCase):
    """One traced program per class, its main window in front."""

    trace = TRACE

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        try:
            cls.wait_front(harness.MAIN_CAPTION)
        except Exception:
            harness.session().failed = True
            cls.program.stop()
            raise

    @classmethod
    def wait_front(cls, caption: str) -> harness.Window:
        # Keys go to Windows' foreground window: the probe asks Windows, not X.
        return cls.probe.wait_foreground(caption, 15, cls.program.win_pid)

    def grab_window(self) -> np.ndarray:
        return np.asarray(self.desktop.wait_stable(self.window.rect), np.int16)

    def starts(self) -> list[str]:
        return [s.cmdline for s in self.program.process_starts()]

    def wait_starts(self, count: int) -> list[str]:
        self.program.wait_process_starts(count, timeout=10)
        time.sleep(0.5)  # a second start, were there one, would be in the trace by now
        return self.starts()

    def loaded(self, dll: str) -> bool:
        # By the program's own process, not by the applets it started.
        trace = self.program.trace_text()
        own = f"{harness.first_trace_pid(trace):04x}:"
        return any(line.startswith(own) and ":loaddll:" in line and f"\\{dll}.dll" in line.lower()
                   for line in trace.splitlines())

    def back_to_front(self, caption: str = harness.MAIN_CAPTION) -> None:
        # An applet or browser started takes the foreground. It is ended, and the window brought
        # back by a click on its caption bar, which changes nothing inside: Windows may already
        # call it foreground while the X keyboard focus stayed with the ended one.
        self.program.stop_children()
        own = self.program.win_pid
        harness.wait_until(lambda: all(w.pid == own for w in self.probe.windows()), 10, 0.2, "applets to end")
        window = self.probe.find(caption)[0]
        self.desktop.click(window.rect.left + 60, window.rect.top + 8)
        self.wait_front(caption)

    def walk(self, window: str, *args: str) -> Walk:
        # MSAA from another process, as a screen reader asks.
        proc = harness.session().wine_run([str(harness.INPROC), "msaa", "out", window, *args], timeout=60,
                                          check=False, extra_env={"WINEDEBUG": "-all"})
        out = proc.stdout.decode(errors="replace")
        self.assertEqual(proc.returncode, 0, out + proc.stderr.decode(errors="replace")[-1500:])
        return Walk(out)


class StartPictureTest(AccessTestCase):
    def test_a_mouse_users_first_picture_is_unchanged(self) -> None:
        # The client area only: the frame and the menu bar are drawn by Wine, each Wine its own.
        shot = np.asarray(self.desktop.wait_stable(self.window.client), np.int16)
        if target := os.environ.get("LUMENO_SAVE_START_PICTURE"):
            Image.fromarray(shot.astype(np.uint8)).save(target)
            self.skipTest(f"saved to {target}")
        before = np.asarray(Image.open(START_PICTURE).convert("RGB"), np.int16)
        self.assertEqual(shot.shape, before.shape)
        differ = np.argwhere(np.abs(shot - before).max(-1) > 0)
        self.assertEqual(len(differ), 0, f"{len(differ)} pixels differ, first at (y, x) {differ[:5].tolist()}")
        self.assertFalse(self.loaded("oleacc"), "oleacc loaded at start")


class KeyboardTest(AccessTestCase):
    # One program driven by keys only, in the order of the test names.

    def client(self, shot: np.ndarray) -> np.ndarray:
        ox, oy = self.window.client.left - self.window.rect.left, self.window.client.top - self.window.rect.top
        return shot[oy:oy + self.window.client.height, ox:ox + self.window.client.width]

    def test_1_tab_shows_a_dotted_ring_on_the_first_hotspot_only(self) -> None:
        before = self.client(self.grab_window())
        self.desktop.key("Tab")
        after = self.client(self.grab_window())
        changed = np.abs(after - before).max(-1) > 0
        ring = np.zeros_like(changed)
        r = RECTS["Regional Settings"]
        ring[r.top:r.bottom, r.left:r.right] = True
        ring[r.top + 1:r.bottom - 1, r.left + 1:r.right - 1] = False
        strip = np.zeros_like(changed)
        strip[340:, :] = True  # the strip under the picture shows the title
        self.assertFalse((changed & ~ring & ~strip).any(), "changes outside the ring and the strip")
        on_ring = changed[ring].mean()
        self.assertTrue(0.3 < on_ring < 0.7, f"dotted: {on_ring:.2f} of the ring changed")
        self.assertTrue(changed[strip].any(), "the strip shows the focused hotspot")
        self.desktop.screenshot(save_as=harness.session().log_dir / "focus-cue.png")
        self.assertEqual(self.starts(), [])

    def test_2_arrows_and_enter_start_the_focused_hotspot(self) -> None:
        # Regional Settings, down to Sounds, down to Internet options.
        self.desktop.key("Down", "Down")
        self.desktop.key("Return")
        self.assertEqual(self.wait_starts(1), [INTERNET])

    def test_3_tab_round_and_space_start_another_once(self) -> None:
        # Home, then seven tabs: the eighth in reading order. Shift+Tab thirteen times comes back.
        self.back_to_front()
        self.desktop.key("Home", *["Tab"] * 7, *["shift+Tab"] * 13)
        self.desktop.key("space")
        self.assertEqual(self.wait_starts(2), [INTERNET, PROGRAMS])

    def test_4_the_screen_reader_names_the_focused_hotspot(self) -> None:
        self.back_to_front()
        walk = self.walk("main")
        focused = [i for i, c in walk.children.items() if i > 0 and c["state"] & STATE_FOCUSED]
        self.assertEqual([walk.children[i]["name"] for i in focused], ["Add/New Programs"])
        self.assertEqual(walk.focus, (VT_I4, focused[0]))
        self.assertEqual(len(self.starts()), 2, "the walk starts nothing")


class HeldKeyTest(unittest.TestCase):
    # Xvfb repeats no held key, so the companion sends the program's window the messages of a
    # held Enter (repeat bit set) as a repeating keyboard makes them, in its own process.
    def test_a_held_enter_starts_once(self) -> None:
        sess = harness.session()
        program = harness.Program(harness.INPROC, args=["keys"], sess=sess).start()
        try:
            self.assertEqual(program.wait_exit(30), 0)
            time.sleep(0.5)
            self.assertEqual([s.cmdline for s in program.process_starts()], [INTERNET])
        finally:
            program.stop()
            program.stop_children()


class ScreenReaderTest(AccessTestCase):
    def test_1_oleacc_waits_for_the_first_question(self) -> None:
        time.sleep(0.5)
        self.assertFalse(self.loaded("oleacc"))

    def test_2_thirteen_buttons_in_reading_order_with_their_places_and_hits(self) -> None:
        points = []
        for r in RECTS.values():
            cx, cy = (r.left + r.right) // 2, (r.top + r.bottom) // 2
            points += [(cx, cy), (r.left, cy), (r.right - 1, cy), (r.right, cy), (cx, r.top), (cx, r.top - 1),
                       (cx, r.bottom - 1), (cx, r.bottom)]
        points += [(4, 100), (200, 3), (200, 355)]  # the picture's border, the window's edge, the strip
        walk = self.walk("main", *[f"at={x},{y}" for x, y in points])
        self.assertTrue(self.loaded("oleacc"), "oleacc loaded for the question")
        self.assertEqual(walk.count, 14)  # the thirteen, then the strip's title as text
        self.assertEqual([walk.children[i]["name"] for i in range(1, 14)], READING_ORDER)
        self.assertEqual(walk.children[14]["role"], ROLE_STATICTEXT)
        for i in range(1, 14):
            child = walk.children[i]
            with self.subTest(child=child["name"]):
                self.assertEqual(child["role"], ROLE_PUSHBUTTON)
                self.assertEqual(child["action"], "Open")
                self.assertEqual(child["state"], STATE_FOCUSABLE, "focusable, not focused before a key")
                r = RECTS[child["name"]]
                left, top = self.window.client_to_screen(r.left, r.top)
                self.assertEqual(child["loc"], (left, top, r.width, r.height))
        for (x, y), (vt, child) in walk.hits.items():
            expected = spot_at(x, y) if 5 <= x < 430 and 6 <= y < 337 else ""
            with self.subTest(point=(x, y)):
                self.assertEqual(vt, VT_I4)
                self.assertEqual(walk.children[child]["name"] if child else "", expected)

    def test_3_the_default_action_starts_what_a_click_starts(self) -> None:
        walk = self.walk("main", f"act={READING_ORDER.index('Internet options') + 1}")
        self.assertEqual(set(walk.acts.values()), {0})
        self.assertEqual(self.wait_starts(1), [INTERNET])


class AboutLinksTest(AccessTestCase):
    def open_about(self) -> None:
        self.desktop.key("alt+h")
        self.desktop.key("a")
        self.wait_front("About")

    def browser_targets(self) -> list[str]:
        # Wine's shell opens both kinds of address with winebrowser, the address last.
        out = []
        for s in self.program.process_starts():
            if s.started and (s.image or "").lower().endswith("\\winebrowser.exe"):
                m = re.fullmatch(r'"[^"]*" "([^"]*)"', s.cmdline or "")
                out.append(m.group(1) if m else s.cmdline)
        return out

    def wait_targets(self, count: int) -> list[str]:
        harness.wait_until(lambda: len(self.browser_targets()) >= count, 15, 0.2, f"{count} browser start(s)")
        time.sleep(0.5)
        return self.browser_targets()

    def test_child_ids_name_the_same_controls_after_the_disclaimer_hides(self) -> None:
        self.open_about()
        opened = time.monotonic()
        before = self.walk("about")
        self.assertLess(time.monotonic() - opened, 4.5, "too slow to read the window before the disclaimer hides")
        time.sleep(max(0.0, 6.0 - (time.monotonic() - opened)))
        after = self.walk("about")
        named = lambda w: {i: (c["name"], c["role"]) for i, c in w.children.items() if i > 0}  # noqa: E731
        self.assertEqual(named(after), named(before))
        hidden = [c["name"] for i, c in after.children.items() if i > 0 and c["state"] & STATE_INVISIBLE]
        self.assertEqual(len(hidden), 1, after.text)
        self.assertFalse(any(c["state"] & STATE_INVISIBLE for i, c in before.children.items() if i > 0))
        self.back_to_front("Lumeno ControlPanel")

    def test_links_through_the_screen_reader_and_the_keyboard(self) -> None:
        self.open_about()
        walk = self.walk("about")
        links = [i for i, c in walk.children.items() if i > 0 and c["role"] == ROLE_LINK]
        self.assertEqual(len(links), 2, walk.text)
        web, mail = sorted(links, key=lambda i: "@" in walk.children[i]["name"])
        web_name, mail_name = walk.children[web]["name"], walk.children[mail]["name"]
        self.assertIn("@", mail_name)
        texts = [c["name"] for i, c in walk.children.items() if i > 0 and c["role"] == ROLE_STATICTEXT]
        self.assertIn("Lumeno Control Panel", texts)
        graphics = [c["name"] for i, c in walk.children.items() if i > 0 and c["role"] == ROLE_GRAPHIC]
        self.assertEqual(graphics, ["Logo"])
        self.assertEqual(len(texts), walk.count - 3, walk.text)

        self.walk("about", f"act={web}", f"act={mail}")
        self.assertEqual(self.wait_targets(2), [web_name, "mailto:" + mail_name])

        # Tab reaches the web link first (left on their shared line), then the e-mail link.
        for _ in range(2):
            self.back_to_front("About")
            self.desktop.key("Tab", "Return")
        self.assertEqual(self.wait_targets(4), [web_name, "mailto:" + mail_name] * 2)


if __name__ == "__main__":
    harness.main()
