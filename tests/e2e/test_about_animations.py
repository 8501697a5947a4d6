# The About window's disclaimer and logo animations, on screen under Wine. Each test opens the
# About window afresh (its timers start at load), drives the logo with the real pointer and
# keyboard, and reads the result from screenshots: red disclaimer text in its square, and the
# logo found by its picture wherever it is.

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import numpy as np  # noqa: E402
from test_menus_about import red_pixels  # noqa: E402

DISCLAIMER = (8, 104, 89, 89)
LOGO_HOME = (8, 8)
# Logo rows from here down are clear of the title, which lies over the top.
LOGO_CLEAR_ROW = 28
LOGO_MIDDLE = (47, 60)  # a point of the logo below the title, for presses
YELLOW = np.array((255, 255, 0), np.int16)


class AboutAnimationsTest(harness.ProgramTestCase):

    def open_about(self) -> harness.Window:
        # A freshly loaded About window, chosen from the main window's keyboard menu.
        for old in [w for w in self.program.windows() if w.caption == "About"]:
            self.probe.close(old.hwnd)
            self.probe.wait_gone("About", 5, self.program.win_pid)
        self.to_front()
        self.desktop.key("alt+h")
        self.desktop.key("a")
        about = self.program.wait_window("About", 10)
        self.opened = time.monotonic()
        self.desktop.wait_stable(about.client, timeout=3)
        return about

    def since_open(self) -> float:
        return time.monotonic() - self.opened

    def disclaimer_shown(self, about: harness.Window) -> bool:
        return red_pixels(self.desktop.grab_array(about.client_rect(*DISCLAIMER))) > 300

    def wait_disclaimer(self, about: harness.Window, shown: bool, timeout: float, message: str) -> None:
        try:
            harness.wait_until(lambda: self.disclaimer_shown(about) == shown, timeout, 0.05,
                               "the disclaimer " + ("shown" if shown else "hidden"))
        except harness.HarnessError:
            self.fail(message)

    def client_pixels(self, about: harness.Window) -> np.ndarray:
        return self.desktop.grab_array(about.client).astype(np.int16)

    def logo_template(self, about: harness.Window) -> tuple[np.ndarray, np.ndarray]:
        # The logo's rows below the title as drawn at home, and where it is opaque.
        x, y = LOGO_HOME
        part = self.client_pixels(about)[y + LOGO_CLEAR_ROW:y + 78, x:x + 78]
        return part, np.abs(part - YELLOW).max(-1) > 8

    def logo_at(self, pixels: np.ndarray, template, x: int, y: int) -> bool:
        # Whether the logo's top-left corner is at client (x, y) in pixels.
        part, opaque = template
        here = pixels[y + LOGO_CLEAR_ROW:y + LOGO_CLEAR_ROW + part.shape[0], x:x + part.shape[1]]
        return here.shape == part.shape and int(np.abs(here - part)[opaque].max()) <= 24

    def find_logo(self, pixels: np.ndarray, template, near: tuple[int, int]) -> tuple[int, int]:
        # The logo's top-left corner within 30 pixels of near; (-1, -1) if not there.
        part, opaque = template
        rgba = np.dstack([part, np.where(opaque, 255, 0)]).astype(np.uint8)
        left, top = max(0, near[0] - 30), max(0, near[1] + LOGO_CLEAR_ROW - 30)
        x, y, worst = harness.find_image(pixels[top:top + part.shape[0] + 60,
                                                left:left + part.shape[1] + 60], rgba)
        return (left + x, top + y - LOGO_CLEAR_ROW) if worst <= 24 else (-1, -1)

    def test_disclaimer_hides_itself_after_five_seconds(self) -> None:
        about = self.open_about()
        self.assertTrue(self.disclaimer_shown(about), "no disclaimer at load")
        last_shown = 0.0
        while self.disclaimer_shown(about):
            last_shown = self.since_open()
            self.assertLess(last_shown, 8, "the disclaimer does not hide itself")
            time.sleep(0.2)
        hidden = self.since_open()
        # The probe sees the window a little after its load, so a little early is fine.
        self.assertGreater(last_shown, 3.5, f"hidden already {hidden:.1f} s after opening")
        self.assertLess(hidden, 6.5)
        time.sleep(1)  # proves an absence: it stays hidden
        self.assertFalse(self.disclaimer_shown(about), "the disclaimer came back")

    def test_presses_on_the_logo_toggle_the_disclaimer(self) -> None:
        about = self.open_about()
        template = self.logo_template(about)
        logo = about.client_to_screen(*LOGO_MIDDLE)
        # Within the first five seconds a press hides it at once; the release does nothing.
        self.desktop.move(*logo)
        self.assertLess(self.since_open(), 4, "too slow to press before the disclaimer's tick")
        self.desktop.press()
        try:
            # Seen hidden well before the tick, which would hide it too.
            self.wait_disclaimer(about, False, max(0.3, 4.5 - self.since_open()),
                                 "the press did not hide it")
            # Without Ctrl the logo stays home however the pointer moves.
            self.desktop.glide([(logo[0] + 20 * i, logo[1] + 15 * i) for i in range(1, 6)])
            time.sleep(0.4)  # proves an absence: several logo ticks pass
            self.assertTrue(self.logo_at(self.client_pixels(about), template, *LOGO_HOME),
                            "the logo moved without Ctrl")
        finally:
            self.desktop.release()
        time.sleep(0.3)  # proves an absence: a release that showed it would have by now
        self.assertFalse(self.disclaimer_shown(about), "the release showed it again")
        # The five-second tick leaves a hidden disclaimer hidden: an absence, once it is past.
        time.sleep(max(0.0, 6.0 - self.since_open()))
        self.assertFalse(self.disclaimer_shown(about))
        self.desktop.click(*logo)
        self.wait_disclaimer(about, True, 5, "a click on the logo did not show it")
        self.desktop.click(*logo, button=3)
        self.wait_disclaimer(about, False, 5, "a right click did not hide it")

    def test_ctrl_drag_makes_the_logo_follow_and_release_sends_it_home(self) -> None:
        about = self.open_about()
        template = self.logo_template(about)
        start = about.client_to_screen(*LOGO_MIDDLE)
        # Where the logo's middle should land: client (50, 150), bare yellow.
        target = (about.rect.left + 50, about.rect.top + 150)
        self.desktop.move(*start)
        self.desktop.key_down("ctrl")
        try:
            self.desktop.press()
            self.desktop.glide([(round(start[0] + (target[0] - start[0]) * i / 12),
                                 round(start[1] + (target[1] - start[1]) * i / 12))
                                for i in range(1, 13)])
            cursor = self.probe.cursor()
            # Centred on the cursor's offset from the window's outer corner, taken as client pixels.
            expected = (cursor[0] - about.rect.left - 39, cursor[1] - about.rect.top - 39)
            # It gets there on a tick of its timer, however late a loaded machine runs it.
            deadline = time.monotonic() + 5
            while True:
                shot = self.desktop.screenshot()
                pixels = np.asarray(shot).astype(np.int16)
                pixels = pixels[about.client.top:about.client.bottom, about.client.left:about.client.right]
                found = self.find_logo(pixels, template, expected)
                if max(abs(found[0] - expected[0]), abs(found[1] - expected[1])) <= 1 or \
                        time.monotonic() >= deadline:
                    break
                time.sleep(0.1)
            shot.save(harness.session().log_dir / "logo-following.png")
            self.assertLessEqual(max(abs(found[0] - expected[0]), abs(found[1] - expected[1])), 1,
                                 f"logo at {found}, expected at {expected} for the cursor at {cursor}")
            self.assertFalse(self.logo_at(pixels, template, *LOGO_HOME), "the logo is still home too")
        finally:
            self.desktop.release()
            self.desktop.key_up("ctrl")
        released = time.monotonic()
        harness.wait_until(lambda: self.logo_at(self.client_pixels(about), template, *LOGO_HOME),
                           2, 0.02, "the logo to come home")
        back = time.monotonic() - released
        self.assertLess(back, 0.7, f"the logo came home only after {back:.2f} s")
        self.assertFalse(self.logo_at(self.client_pixels(about), template, *expected),
                         "a copy of the logo is left where it was dropped")


if __name__ == "__main__":
    harness.main()
