# The program without a mouse and as a screen reader finds it, under Wine. Keys typed on the X
# keyboard: one Tab puts a dotted ring on the first hotspot in reading order and nothing else
# changes but the strip; Enter starts the focused hotspot's applet, as the process trace shows;
# a held Enter starts it once. A reader's walk from another process finds the thirteen hotspots
# as buttons with their titles and places, hits what the mouse would hover, reads the strip's
# title as text and starts with the default action what a click starts; the About window's
# children keep their ids when the disclaimer hides, and its logo is a graphic. oleacc is loaded
# at the first question, not before.

import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import numpy as np  # noqa: E402

import scene  # noqa: E402
from scene import read_aloud  # noqa: E402

# The two hotspots whose classic Control Panel file Wine ships: their own lines start.
INTERNET = "rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0"
PROGRAMS = "rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1"


class HeldEnterTest(unittest.TestCase):
    # Xvfb repeats no held key, so the companion sends the program's window the messages of
    # Home, five Tabs and a held Enter (repeat bit set) in its own process: Internet options,
    # sixth in reading order, starts once.
    def test_a_held_enter_starts_once(self) -> None:
        # First in a fresh session: the companion takes the first window of the caption.
        program = harness.Program(harness.INPROC, args=["keys"]).start()
        self.addCleanup(program.stop_children)
        self.addCleanup(program.stop)
        self.assertEqual(program.wait_exit(30), 0)
        time.sleep(0.5)  # a second start, were there one, would be in the trace by now
        self.assertEqual([s.cmdline for s in program.process_starts()], [INTERNET])


class KeysAndReaderTest(harness.ProgramTestCase):
    # One traced program, its main window in front; the tests run in the order of their names.
    trace = "+pid,+process,+file,+loaddll"

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        # Keys go to Windows' foreground window: the probe asks Windows, not X.
        cls.probe.wait_foreground(harness.MAIN_CAPTION, 15, cls.program.win_pid)

    def client(self) -> np.ndarray:
        w = self.window
        shot = np.asarray(self.desktop.wait_stable(w.rect), np.int16)
        return shot[w.client.top - w.rect.top:w.client.bottom - w.rect.top,
                    w.client.left - w.rect.left:w.client.right - w.rect.left]

    def wait_starts(self, count: int) -> list[str]:
        self.program.wait_process_starts(count, timeout=10)
        time.sleep(0.5)  # a further start, were there one, would be in the trace by now
        return [s.cmdline for s in self.program.process_starts()]

    def oleacc_loaded(self) -> bool:
        # By the program's own process, not by the applets it started.
        own = f"{self.program.win_pid:04x}:"
        return any(line.startswith(own) and ":loaddll:" in line and "\\oleacc.dll" in line.lower()
                   for line in self.program.trace_text().splitlines())

    def test_1_a_tab_rings_the_first_hotspot_and_enter_starts_the_focused_one(self) -> None:
        time.sleep(0.5)
        self.assertFalse(self.oleacc_loaded(), "oleacc loaded before any question")
        before = self.client()
        self.desktop.key("Tab")
        changed = np.abs(self.client() - before).max(-1) > 0
        self.desktop.screenshot(save_as=harness.session().log_dir / "focus-cue.png")
        r = scene.BY_TITLE["Regional Settings"].client
        ring = np.zeros_like(changed)
        ring[r.top:r.bottom, r.left:r.right] = True
        ring[r.top + 1:r.bottom - 1, r.left + 1:r.right - 1] = False
        strip = np.zeros_like(changed)
        strip[scene.STRIP.top:, :] = True  # the strip shows the focused hotspot's title
        self.assertFalse((changed & ~ring & ~strip).any(), "changes outside the ring and the strip")
        self.assertTrue(0.3 < changed[ring].mean() < 0.7, f"not dotted: {changed[ring].mean():.2f} of the ring changed")
        self.assertTrue(changed[strip].any(), "the strip does not show the focused hotspot")
        self.assertEqual(self.program.process_starts(), [])
        # Regional Settings, down to Sounds, down to Internet options.
        self.desktop.key("Down", "Down", "Return")
        self.assertEqual(self.wait_starts(1), [INTERNET])

    def test_2_a_screen_reader_walks_both_windows_and_acts(self) -> None:
        # The applet started takes the foreground; the window comes back by a click on its
        # caption, which changes nothing inside.
        self.program.stop_children()
        harness.wait_until(lambda: all(w.pid == self.program.win_pid for w in self.probe.windows()), 10, 0.2,
                           "applets to end")
        self.to_front()
        self.desktop.key("alt+h", "a")
        self.probe.wait_foreground("About", 15, self.program.win_pid)
        opened = time.monotonic()
        about_before, text = read_aloud("about")
        self.assertLess(time.monotonic() - opened, 4.5, "too slow to read the window before the disclaimer hides")
        self.assertTrue(self.oleacc_loaded(), "oleacc not loaded for the question")

        # Add/New Programs is eighth in reading order.
        points = scene.POINTS + [scene.BARE_POINT, (4, 100)]  # and the picture's border
        main, text = read_aloud("main", *[f"at={x},{y}" for x, y in points], "act=8")
        self.assertEqual(len(main), 14, text)  # the thirteen, then the strip's title as text
        self.assertEqual(main[8]["name"], "Add/New Programs")
        self.assertEqual((main[14]["role"], main[14]["name"]), (scene.ROLE_STATICTEXT, "Internet options"))
        self.assertEqual(sorted(c["name"] for i, c in main.items() if i < 14), sorted(scene.BY_TITLE))
        for i in range(1, 14):
            c, h = main[i], scene.BY_TITLE[main[i]["name"]]
            with self.subTest(child=c["name"]):
                self.assertEqual((c["role"], c["action"]), (scene.ROLE_PUSHBUTTON, "Open"))
                self.assertTrue(c["state"] & scene.STATE_FOCUSABLE)
                left, top = self.window.client_to_screen(h.client.left, h.client.top)
                self.assertEqual(c["rect"], harness.Rect.of_size(left, top, h.client.width, h.client.height))
        hits = {(int(x), int(y)): (int(vt), int(child))
                for x, y, vt, child in re.findall(r"^hit (-?\d+),(-?\d+) (\d+) (-?\d+)$", text, re.M)}
        self.assertEqual({p: main[child]["name"] if child else "" for p, (vt, child) in hits.items()},
                         {p: scene.spot_at(*p) for p in points})
        self.assertEqual({vt for vt, _ in hits.values()}, {3})  # VT_I4
        self.assertRegex(text, r"(?m)^act 8 0x00000000$")
        self.assertEqual(self.wait_starts(2), [INTERNET, PROGRAMS])

        time.sleep(max(0.0, 6.0 - (time.monotonic() - opened)))  # the disclaimer hides at five seconds
        about_after, text = read_aloud("about")
        self.assertEqual({i: (c["name"], c["role"]) for i, c in about_after.items()},
                         {i: (c["name"], c["role"]) for i, c in about_before.items()})
        hidden = [c["name"] for c in about_after.values() if c["state"] & scene.STATE_INVISIBLE]
        self.assertEqual(len(hidden), 1, text)
        self.assertFalse(any(c["state"] & scene.STATE_INVISIBLE for c in about_before.values()))
        self.assertEqual([c["role"] for c in about_after.values()].count(scene.ROLE_LINK), 2, text)
        self.assertEqual([c["name"] for c in about_after.values() if c["role"] == scene.ROLE_GRAPHIC], ["Logo"])


if __name__ == "__main__":
    harness.main()
