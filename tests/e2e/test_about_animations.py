# The About window's disclaimer and logo on screen under Wine, driven by the real pointer and
# keyboard and read from screenshots: red disclaimer text in its square, and the logo found by
# its picture wherever it is.

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import numpy as np  # noqa: E402
from test_menus_about import LOGO_MIDDLE, MenuTestCase  # noqa: E402

LOGO_HOME = (8, 8)  # the logo's top-left corner at rest
LOGO_CLEAR_ROW = 28  # logo rows from here down are clear of the title over its top
YELLOW = np.array((255, 255, 0), np.int16)


class AboutAnimationsTest(MenuTestCase):

    def logo_near(self, about: harness.Window, near: tuple[int, int]):
        # The logo's top-left corner in client pixels within 30 pixels of near, or None.
        pixels = self.desktop.grab_array(about.client).astype(np.int16)
        left, top = max(0, near[0] - 30), max(0, near[1] + LOGO_CLEAR_ROW - 30)
        x, y, worst = harness.find_image(pixels[top:top + self.logo.shape[0] + 60,
                                                left:left + self.logo.shape[1] + 60], self.logo)
        return (left + x, top + y - LOGO_CLEAR_ROW) if worst <= 24 else None

    def test_disclaimer_presses_and_tick_then_the_ctrl_drag_chase(self) -> None:
        self.keys_to_main("alt+h", "a")
        about = self.program.wait_window("About", 10)
        self.desktop.wait_stable(about.client, timeout=3)
        # The logo as drawn at home, opaque where it is not yellow less its 2-pixel rim, which
        # blends with what lies behind.
        part = self.desktop.grab_array(about.client).astype(np.int16)[8 + LOGO_CLEAR_ROW:8 + 78, 8:8 + 78]
        opaque = np.abs(part - YELLOW).max(-1) > 8
        for _ in range(2):
            m = np.pad(opaque, 1)
            opaque = m[1:-1, 1:-1] & m[:-2, 1:-1] & m[2:, 1:-1] & m[1:-1, :-2] & m[1:-1, 2:]
        self.logo = np.dstack([part, np.where(opaque, 255, 0)]).astype(np.uint8)
        logo = about.client_to_screen(*LOGO_MIDDLE)
        # Shown at load; each press on the logo toggles it (the right button's, too, which cannot
        # make a double click of the two); five seconds in, the tick hides it.
        self.assertTrue(self.disclaimer_shown(about), "no disclaimer at load")
        for shown, button in ((False, 1), (True, 3)):
            self.desktop.click(*logo, button=button)
            harness.wait_until(lambda: self.disclaimer_shown(about) == shown, 2, 0.05, f"button {button} to toggle it")
        harness.wait_until(lambda: not self.disclaimer_shown(about), 8, 0.05, "the disclaimer to hide itself")

        # Where the logo's middle should land: client (50, 150), bare yellow.
        target = (about.rect.left + 50, about.rect.top + 150)
        self.desktop.move(*logo)
        self.desktop.key_down("ctrl")
        try:
            self.desktop.press()
            self.desktop.glide([(round(logo[0] + (target[0] - logo[0]) * i / 12),
                                 round(logo[1] + (target[1] - logo[1]) * i / 12)) for i in range(1, 13)])
            cursor = self.probe.cursor()
            # Centred on the cursor's offset from the window's outer corner, taken as client pixels.
            expected = (cursor[0] - about.rect.left - 39, cursor[1] - about.rect.top - 39)

            def landed() -> bool:
                found = self.logo_near(about, expected)
                return found is not None and max(abs(found[0] - expected[0]), abs(found[1] - expected[1])) <= 1

            # It gets there on a tick of its timer, however late a loaded machine runs it.
            harness.wait_until(landed, 5, 0.1, f"the logo at {expected} for the cursor at {cursor}")
            self.assertIsNone(self.logo_near(about, LOGO_HOME), "the logo is still home too")
        finally:
            self.desktop.release()
            self.desktop.key_up("ctrl")
        harness.wait_until(lambda: self.logo_near(about, LOGO_HOME) == LOGO_HOME, 2, 0.05, "the logo to come home")
        self.assertIsNone(self.logo_near(about, expected), "a copy of the logo is left where it was dropped")


if __name__ == "__main__":
    harness.main()
