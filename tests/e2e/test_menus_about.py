# The menus, the quick help box and the About window, used as a person would: menus opened with
# the pointer and with their access keys, the quick help box read back through the probe, the
# About window looked at on screen, its links followed into Wine's shell trace, and the
# program's end with each combination of open windows.

import os
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import MAIN_CAPTION  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

QUICK_HELP_LINES = [
    "Place the mouse over parts of the picture",
    "When the mouse is over a hotspot,",
    "a title of the item will be displayed",
    " at the bottom of the window.",
    "If this is the item you want",
    "simple click it once.",
]
YELLOW, ORANGE = (255, 255, 0), (255, 128, 0)
SS_TYPEMASK, SS_ICON = 0x1F, 0x03
# The display hotspot's middle, in main window client pixels.
DISPLAY_HOTSPOT = (5 + (1920 + 2295 // 2) // 15, 6 + (1200 + 2295 // 2) // 15)
STRIP = (3, 344, 427, 20)


# The contact values of the default build; a build given others names them here.
WEB_SITE = os.environ.get("LUMENO_WEB_SITE", "http://example.com/")
CONTACT_EMAIL = os.environ.get("LUMENO_CONTACT_EMAIL", "contact@example.com")


def red_pixels(pixels: np.ndarray) -> int:
    p = pixels.astype(np.int16)
    return int(((p[..., 0] > 200) & (p[..., 1] < 80) & (p[..., 2] < 80)).sum())


class MenuTestCase(harness.ProgramTestCase):
    @classmethod
    def choose_from_help(cls, item: str) -> None:
        # Help in the menu bar, then the item, both with the pointer. "Help" is the second caption, about 34 to 70 pixels in.
        bar_y = cls.window.client.top - cls.probe.screen()["menu_height"] // 2
        cls.desktop.click(cls.window.client.left + 50, bar_y)
        popup = harness.wait_until(
            lambda: next((w for w in cls.program.windows() if w.cls == "#32768"), None),
            5, 0.1, "the Help menu").rect
        # Quick help is the first item, About the last, under a separator.
        y = popup.top + 12 if item == "Quick help" else popup.bottom - 11
        cls.desktop.click(popup.left + 30, y)

    def about_windows(self) -> list[harness.Window]:
        return [w for w in self.program.windows() if w.caption == "About"]

    def open_about(self) -> harness.Window:
        self.choose_from_help("About")
        return self.program.wait_window("About", 10)

    def close_box(self, w: harness.Window) -> tuple[int, int]:
        # The middle of the title bar's close button, its rightmost square.
        metrics = self.probe.screen()
        border, caption = metrics["border_width"], metrics["caption_height"]
        if w.exstyle & harness.WS_EX_TOOLWINDOW:
            caption = w.client.top - w.rect.top - border
        return (w.rect.right - border - caption // 2 - 1, w.rect.top + border + caption // 2)

    def disclaimer_red(self, about: harness.Window) -> int:
        return red_pixels(self.desktop.grab_array(about.client_rect(8, 104, 89, 89)))

    def strip(self):
        return self.desktop.grab_array(self.window.client_rect(*STRIP))


class QuickHelpTest(MenuTestCase):

    def read_quick_help(self) -> harness.Window:
        box = self.probe.wait_window("Quick help", 10, self.program.win_pid)
        kids = self.probe.children(box.hwnd)
        statics = [k for k in kids if k.cls.lower() == "static"]
        self.assertEqual([re.split(r"\r\n|\n", k.text) for k in statics if k.text], [QUICK_HELP_LINES])
        self.assertEqual([k.text for k in kids if k.cls.lower() == "button"], ["OK"])
        icons = [k for k in statics if k.style & SS_TYPEMASK == SS_ICON]
        self.assertEqual(len(icons), 1, "the box shows no icon")
        # The probe cannot name the icon; the information icon is the blue one
        # (warning is yellow, error red).
        drawn = self.desktop.grab_array(icons[0].rect).reshape(-1, 3).astype(int)
        coloured = drawn[np.ptp(drawn, axis=1) > 60]
        self.assertGreater(len(coloured), 50)
        self.assertTrue((coloured[:, 2] > coloured[:, 0] + 40).mean() > 0.6, "icon is not blue")
        return box

    def test_quick_help_by_pointer_is_modal(self) -> None:
        self.choose_from_help("Quick help")
        box = self.read_quick_help()
        self.assertFalse(self.main_window().enabled, "the main window still takes input")
        before = self.strip()
        # Proves an absence: a hover that got through the box would show within the half second.
        self.desktop.move(*self.window.client_to_screen(*DISPLAY_HOTSPOT), settle=0.5)
        self.assertTrue(np.array_equal(before, self.strip()),
                        "the strip reacted to the mouse while the box was open")
        ok = next(k for k in self.probe.children(box.hwnd) if k.text == "OK")
        self.desktop.click(*ok.rect.center)
        self.assertTrue(self.probe.wait_gone("Quick help", 5, self.program.win_pid))
        # With the box gone the same hover shows "Display": the check above was no blind spot.
        self.desktop.move(self.window.client.left + 200, self.window.client.top + 250)
        self.desktop.move(*self.window.client_to_screen(*DISPLAY_HOTSPOT))
        try:
            harness.wait_until(lambda: not np.array_equal(before, self.strip()), 5, 0.2, "the hover")
        except harness.HarnessError:
            self.fail("the hover shows nothing afterwards")
        self.assertEqual(len(self.program.windows()), 1)

    def test_quick_help_holds_an_open_about_window_too(self) -> None:
        about = self.open_about()
        self.addCleanup(lambda: self.probe.close(about.hwnd) and self.probe.wait_gone("About", 10, self.program.win_pid))
        # Beside the main window, so that the main window's menu does not cover it.
        grip = (about.rect.left + 60, about.rect.top + (about.client.top - about.rect.top) // 2)
        self.desktop.drag(*grip, grip[0] + 560, grip[1])
        about = self.probe.info(about.hwnd)
        self.assertGreaterEqual(about.rect.left, self.window.rect.right, "the About window did not move aside")
        link = (about.client.left + 200, about.client.top + 202)  # the e-mail address
        self.choose_from_help("Quick help")
        box = self.read_quick_help()
        self.assertFalse(self.probe.info(about.hwnd).enabled, "the About window still takes input")
        base = len(self.program.process_starts())
        self.desktop.click(*link)
        time.sleep(1)  # proves an absence: the mail program would have started by now
        self.assertEqual(len(self.program.process_starts()), base, "a click reached the About window")
        ok = next(k for k in self.probe.children(box.hwnd) if k.text == "OK")
        self.desktop.click(*ok.rect.center)
        self.assertTrue(self.probe.wait_gone("Quick help", 5, self.program.win_pid))
        self.assertTrue(self.probe.info(about.hwnd).enabled)
        # The same click now opens the mail program: the check above was no blind spot.
        self.desktop.click(*link)
        self.program.wait_process_starts(base + 1, timeout=20)
        self.program.stop_children()

    def test_quick_help_by_keyboard_gives_the_keyboard_back(self) -> None:
        self.to_front()
        self.desktop.key("alt+h")
        self.desktop.key("q")
        self.read_quick_help()
        self.desktop.key("Return")
        self.assertTrue(self.probe.wait_gone("Quick help", 5, self.program.win_pid))
        # The user goes on typing: the main window must be active again.
        try:
            harness.wait_until(lambda: getattr(self.probe.foreground(), "hwnd", None) == self.window.hwnd,
                               2, 0.2, "the main window to be active")
        except harness.HarnessError:
            self.fail("after the quick help box closes no window of the program is active")


class AboutWindowTest(MenuTestCase):
    # One About window, chosen again, closed and reopened, its links followed.

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.choose_from_help("About")
        cls.about = cls.program.wait_window("About", 10)
        cls.desktop.wait_stable(cls.about.rect, timeout=3)
        cls.shot = np.asarray(cls.desktop.screenshot(
            save_as=harness.session().log_dir / "about-at-load.png"))

    def at(self, x: int, y: int) -> tuple:
        return tuple(int(v) for v in self.shot[self.about.client.top + y, self.about.client.left + x])

    def area(self, x: int, y: int, w: int, h: int) -> np.ndarray:
        c = self.about.client
        return self.shot[c.top + y:c.top + y + h, c.left + x:c.left + x + w].astype(np.int16)

    def test_looks_as_designed_at_load(self) -> None:
        a = self.about
        self.assertEqual((a.client.width, a.client.height), (312, 213))
        # Yellow background, also around the logo's sphere; the strip: a dark top edge, orange
        # between and under the link texts, the one-pixel divider at x 144.
        spots = {YELLOW: [(3, 60), (100, 172), (200, 172), (305, 172), (9, 84)],
                 ORANGE: [(150, 200), (145, 200), (305, 200), (200, 212)],
                 harness.system_colour("window_text"): [(60, 192), (144, 194), (144, 200), (144, 210)]}
        self.assertEqual({p: self.at(*p) for ps in spots.values() for p in ps},
                         {p: colour for colour, ps in spots.items() for p in ps})
        blue = lambda px: int(((px[..., 2] > 200) & (px[..., 0] < 60) & (px[..., 1] < 60)).sum())  # noqa: E731
        self.assertGreater(blue(self.area(0, 195, 140, 16)), 40, "no web link text")
        self.assertGreater(blue(self.area(156, 195, 156, 16)), 40, "no e-mail link text")
        # The title is wider than the comments, so it spans the whole window, centred.
        ys, xs = np.nonzero(self.area(0, 0, 312, 34)[..., 0] - self.area(0, 0, 312, 34)[..., 1] > 150)
        self.assertGreater(xs.max() - xs.min(), 198, "title is not that wide")
        self.assertLessEqual(abs((xs.max() + xs.min()) / 2 - a.rect.width / 2), 3,
                             f"title spans {xs.min()}-{xs.max()}, not centred on the window")
        # The logo at (8, 8) stretched to 78 x 78 with the yellow around the sphere;
        # its top rows lie under the title, so they are not compared.
        with Image.open(harness.REPO_ROOT / "art" / "logo.gif") as logo:
            ref = np.asarray(logo.convert("RGBA").resize((78, 78), Image.NEAREST)).astype(np.int16)
        expected = np.where(ref[..., 3:] > 0, ref[..., :3], np.array(YELLOW))[28:]
        errors = {(dx, dy): np.abs(self.area(8 + dx, 36 + dy, 78, 50) - expected).mean()
                  for dx in (-2, -1, 0, 1, 2) for dy in (-2, -1, 0, 1, 2)}
        self.assertEqual(min(errors, key=errors.get), (0, 0), "logo is off its place")
        self.assertLess(errors[(0, 0)], 8, "logo does not look like art/logo.gif")

    def test_chosen_again_stays_one_window(self) -> None:
        self.choose_from_help("About")
        self.probe.wait_foreground("About", 5, self.program.win_pid)
        self.assertEqual([w.hwnd for w in self.about_windows()], [self.about.hwnd])

    def test_links_reach_the_shell(self) -> None:
        about = self.about_windows()[0]

        def browser_starts():
            # Wine's shell opens both kinds of address with winebrowser.
            return [s for s in self.program.process_starts() if s.started and
                    (s.image or "").lower().endswith("\\winebrowser.exe")]

        try:
            seen = len(browser_starts())
            for point, target in (((30, 202), WEB_SITE), ((220, 202), "mailto:" + CONTACT_EMAIL)):
                self.desktop.click(*about.client_to_screen(*point))
                harness.wait_until(lambda: len(browser_starts()) > seen, 15, 0.2,
                                   f"the shell to open {target}")
                time.sleep(0.5)  # a second start from one click would show by now
                starts = browser_starts()
                self.assertEqual(len(starts), seen + 1, [s.cmdline for s in starts])
                m = re.fullmatch(r'"[^"]*" "([^"]*)"', starts[-1].cmdline or "")
                self.assertEqual(m.group(1) if m else starts[-1].cmdline, target)
                seen += 1
            # Nothing of the program's own shows up: no message, no second window.
            self.assertEqual(sorted(w.hwnd for w in self.program.windows()),
                             sorted((about.hwnd, self.window.hwnd)))
        finally:
            self.program.stop_children()

    def test_closed_and_reopened_starts_afresh(self) -> None:
        about = self.about_windows()[0]
        harness.wait_until(lambda: self.disclaimer_red(about) == 0, 8, 0.3,
                           "the disclaimer to hide itself")
        self.desktop.click(*self.close_box(about))
        self.assertTrue(self.probe.wait_gone("About", 5, self.program.win_pid))
        self.assertTrue(self.program.alive())
        self.assertEqual([w.hwnd for w in self.program.windows()], [self.window.hwnd])
        again = self.open_about()
        try:
            harness.wait_until(lambda: self.disclaimer_red(again) > 300, 3, 0.1, "the disclaimer")
        except harness.HarnessError:
            self.fail("disclaimer not shown after reopening")
        self.assertEqual(len(self.about_windows()), 1)


class ClosingMainWindowTest(MenuTestCase):

    def test_about_window_keeps_the_program_alive(self) -> None:
        about = self.open_about()
        self.desktop.click(*self.close_box(self.window))
        self.assertTrue(self.probe.wait_gone(MAIN_CAPTION, 5, self.program.win_pid))
        self.assertTrue(self.program.alive(), "the program ended with its About window open")
        # Still working: the disclaimer hides itself, and a press on the logo shows it.
        harness.wait_until(lambda: self.disclaimer_red(about) == 0, 8, 0.3,
                           "the disclaimer to hide itself")
        self.desktop.click(*about.client_to_screen(47, 60))
        try:
            harness.wait_until(lambda: self.disclaimer_red(about) > 300, 5, 0.1, "the disclaimer")
        except harness.HarnessError:
            self.fail("the logo does not answer")
        self.desktop.click(*self.close_box(about))
        self.assertIsNotNone(self.program.wait_exit(10), "the program outlived its last window")


class ExitWithAboutOpenTest(MenuTestCase):

    def test_file_exit_by_keyboard_ends_everything(self) -> None:
        self.to_front()
        self.desktop.key("alt+h")
        self.desktop.key("a")
        self.program.wait_window("About", 10)
        # Back to the main window, whose menu the keys open.
        self.to_front()
        self.desktop.key("alt+f")
        self.desktop.key("x")
        self.assertIsNotNone(self.program.wait_exit(10), "File > Exit did not end the program")
        self.assertEqual([w for w in self.probe.windows() if w.pid == self.program.win_pid], [])


if __name__ == "__main__":
    harness.main()
