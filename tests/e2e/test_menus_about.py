# The menus, the quick help box and the About window, used as a person would: menus opened with
# the pointer and with their access keys, the quick help box read back through the probe, the
# About window looked at on screen, its links followed into Wine's shell trace, and the
# program's end with the About window open.

import os
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

QUICK_HELP = ("Place the mouse over parts of the picture\nWhen the mouse is over a hotspot,\n"
              "a title of the item will be displayed\n at the bottom of the window.\n"
              "If this is the item you want\nsimple click it once.")
YELLOW, ORANGE = (255, 255, 0), (255, 128, 0)
LOGO_MIDDLE = (47, 60)  # a point of the logo below the title
# The contact values of the default build; a build given others names them here.
WEB_SITE = os.environ.get("LUMENO_WEB_SITE", "http://example.com/")
CONTACT_EMAIL = os.environ.get("LUMENO_CONTACT_EMAIL", "contact@example.com")


class MenuTestCase(harness.ProgramTestCase):
    def choose_from_help(self, item: str) -> None:
        # Help in the menu bar, the second caption, then the item, both with the pointer.
        self.desktop.click(self.window.client.left + 50,
                           self.window.client.top - self.probe.screen()["menu_height"] // 2)
        popup = harness.wait_until(
            lambda: next((w for w in self.program.windows() if w.cls == "#32768"), None),
            5, 0.1, "the Help menu").rect
        # Quick help is the first item, About the last, under a separator.
        self.desktop.click(popup.left + 30, popup.top + 12 if item == "Quick help" else popup.bottom - 11)

    def keys_to_main(self, *keys: str) -> None:
        self.to_front()
        self.desktop.key(*keys)

    def disclaimer_shown(self, about: harness.Window) -> bool:
        # Red text in its square.
        p = self.desktop.grab_array(about.client_rect(8, 104, 89, 89)).astype(np.int16)
        return int(((p[..., 0] > 200) & (p[..., 1] < 80) & (p[..., 2] < 80)).sum()) > 300


class MenusTest(MenuTestCase):
    # One program: the About window from the pointer's menu, then quick help from the keyboard's.

    def test_about_window_as_drawn_chosen_again_followed_and_reopened(self) -> None:
        self.choose_from_help("About")
        about = self.program.wait_window("About", 10)
        self.desktop.wait_stable(about.rect, timeout=3)
        shot = np.asarray(self.desktop.screenshot(save_as=harness.session().log_dir / "about.png"))
        c = about.client
        area = lambda x, y, w, h: shot[c.top + y:c.top + y + h, c.left + x:c.left + x + w].astype(np.int16)  # noqa: E731
        self.assertEqual((c.width, c.height), (312, 213))
        # Yellow background, also around the logo's sphere; the strip: a dark top edge, orange
        # between and under the link texts, the one-pixel divider at x 144.
        spots = {YELLOW: [(3, 60), (100, 172), (200, 172), (305, 172), (9, 84)],
                 ORANGE: [(150, 200), (145, 200), (305, 200), (200, 212)],
                 harness.system_colour("window_text"): [(60, 192), (144, 194), (144, 200), (144, 210)]}
        self.assertEqual({p: tuple(area(*p, 1, 1)[0, 0]) for ps in spots.values() for p in ps},
                         {p: colour for colour, ps in spots.items() for p in ps})
        blue = [int(((a[..., 2] > 200) & (a[..., 0] < 60) & (a[..., 1] < 60)).sum())
                for a in (area(0, 195, 140, 16), area(156, 195, 156, 16))]
        self.assertGreater(min(blue), 40, f"blue pixels of the web and e-mail link texts: {blue}")
        # The logo at (8, 8) stretched to 78 x 78 with yellow around the sphere, below the title.
        with Image.open(harness.REPO_ROOT / "art" / "logo.gif") as logo:
            ref = np.asarray(logo.convert("RGBA").resize((78, 78), Image.NEAREST)).astype(np.int16)
        expected = np.where(ref[..., 3:] > 0, ref[..., :3], np.array(YELLOW))[28:]
        errors = {(dx, dy): np.abs(area(8 + dx, 36 + dy, 78, 50) - expected).mean()
                  for dx in (-2, -1, 0, 1, 2) for dy in (-2, -1, 0, 1, 2)}
        self.assertEqual(min(errors, key=errors.get), (0, 0), "logo is off its place")
        self.assertLess(errors[(0, 0)], 8, "logo does not look like art/logo.gif")

        # A press on the logo hides the disclaimer: chosen again, the same window comes forward as it
        # was; closed and reopened, a new one shows the disclaimer.
        self.desktop.click(*about.client_to_screen(*LOGO_MIDDLE))
        harness.wait_until(lambda: not self.disclaimer_shown(about), 3, 0.1, "the press to hide the disclaimer")
        self.choose_from_help("About")
        self.probe.wait_foreground("About", 5, self.program.win_pid)
        self.assertEqual([w.hwnd for w in self.program.windows() if w.caption == "About"], [about.hwnd])
        self.assertFalse(self.disclaimer_shown(about), "chosen again, the window was reloaded")

        def browser_starts():
            # Wine's shell opens both kinds of address with winebrowser.
            return [s for s in self.program.process_starts() if s.started and
                    (s.image or "").lower().endswith("\\winebrowser.exe")]

        self.addCleanup(self.program.stop_children)
        for n, (point, target) in enumerate((((30, 202), WEB_SITE), ((220, 202), "mailto:" + CONTACT_EMAIL)), 1):
            self.desktop.click(*about.client_to_screen(*point))
            start = harness.wait_until(lambda: browser_starts()[n - 1:n], 15, 0.2, f"the shell to open {target}")[0]
            self.assertRegex(start.cmdline or "", f'^"[^"]*" "{re.escape(target)}"$')
        time.sleep(0.5)  # proves an absence: a second start or window from one click shows by now
        self.assertEqual(len(browser_starts()), 2)
        self.assertEqual(sorted(w.hwnd for w in self.program.windows()), sorted((about.hwnd, self.window.hwnd)))

        self.probe.close(about.hwnd)
        self.assertTrue(self.probe.wait_gone("About", 5, self.program.win_pid))
        self.keys_to_main("alt+h", "a")
        again = self.program.wait_window("About", 10)
        harness.wait_until(lambda: self.disclaimer_shown(again), 3, 0.1, "the disclaimer after reopening")

    def test_quick_help_by_keyboard_is_modal_then_file_exit_ends_everything(self) -> None:
        self.keys_to_main("alt+h", "a")  # open, or forward if open already
        about = self.program.wait_window("About", 10)
        self.keys_to_main("alt+h", "q")
        box = self.probe.wait_window("Quick help", 10, self.program.win_pid)
        kids = [(k.cls.lower(), k.text.replace("\r\n", "\n"), k.style & 0x1F == 3)  # SS_ICON
                for k in self.probe.children(box.hwnd) if k.cls.lower() in ("static", "button")]
        self.assertEqual(sorted(kids), [("button", "OK", False), ("static", "", True), ("static", QUICK_HELP, False)])
        self.assertEqual((self.main_window().enabled, self.probe.info(about.hwnd).enabled), (False, False),
                         "a window of the program still takes input")
        self.desktop.key("Return")
        self.assertTrue(self.probe.wait_gone("Quick help", 5, self.program.win_pid))
        # The user goes on typing: the main window must be active again, and its keys end it all.
        harness.wait_until(lambda: getattr(self.probe.foreground(), "hwnd", None) == self.window.hwnd,
                           2, 0.2, "the main window to be active after the box")
        self.assertTrue(self.probe.info(about.hwnd).enabled)
        self.desktop.key("alt+f", "x")
        self.assertIsNotNone(self.program.wait_exit(10), "File > Exit did not end the program")
        self.assertEqual([w for w in self.probe.windows() if w.pid == self.program.win_pid], [])


class MainWindowClosedTest(MenuTestCase):
    def test_the_about_window_keeps_the_program_alive_until_it_closes(self) -> None:
        self.keys_to_main("alt+h", "a")
        about = self.program.wait_window("About", 10)
        self.probe.close(self.window.hwnd)
        self.assertTrue(self.probe.wait_gone(harness.MAIN_CAPTION, 5, self.program.win_pid))
        self.assertTrue(self.program.alive(), "the program ended with its About window open")
        # Still working: a press on the logo toggles the disclaimer.
        shown = self.disclaimer_shown(about)
        self.desktop.click(*about.client_to_screen(*LOGO_MIDDLE))
        harness.wait_until(lambda: self.disclaimer_shown(about) != shown, 5, 0.1, "the logo to answer")
        self.probe.close(about.hwnd)
        self.assertIsNotNone(self.program.wait_exit(10), "the program outlived its last window")


if __name__ == "__main__":
    harness.main()
