"""The main window as a person sees it right after start, and what its frame allows.

Runs the real program under Wine and looks at the X screen: caption, frame,
client size, the scene picture against the art it embeds, the empty info
strip, the menu bar, and that the window can be neither enlarged nor made to
show the icon pictures that lie beyond its client area.
"""

import os
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

ART = Path(os.environ.get("LUMENO_ART") or harness.REPO_ROOT / "art")

CLIENT_W, CLIENT_H = 433, 368
# Picture1 at (3, 4), 2-pixel sunken border, so the picture starts at (5, 6).
PICTURE_OUTER = Rect.of_size(3, 4, 429, 335)
SCENE = Rect.of_size(5, 6, 425, 331)
# The info strip's sunken backdrop, lblBack.
STRIP = Rect.of_size(3, 344, 427, 20)
# The opaque background of the applet icons: it must never be on screen at start.
ICON_BACKGROUND = (191, 184, 191)


def colour_mask(pixels: np.ndarray, colour, tolerance: int = 2) -> np.ndarray:
    return (np.abs(pixels.astype(np.int16) - np.array(colour, dtype=np.int16)) <= tolerance).all(-1)


def text_clusters(dark_columns: np.ndarray, min_gap: int = 6) -> list[tuple[int, int]]:
    """Runs of columns holding text, split where min_gap empty columns pass."""
    clusters: list[tuple[int, int]] = []
    start = last = None
    for x in np.flatnonzero(dark_columns):
        if start is None:
            start = last = int(x)
        elif x - last > min_gap:
            clusters.append((start, last))
            start = last = int(x)
        else:
            last = int(x)
    if start is not None:
        clusters.append((start, last))
    return clusters


class MainWindowAtStartTest(harness.ProgramTestCase):
    """One look at the window as it first appears, the pointer far away."""

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        w = cls.window
        cls.metrics = cls.probe.screen()
        cls.colours = {k: tuple(v) for k, v in cls.metrics["colors"].items()}
        # Wait for painting to settle, then keep one screenshot for every check.
        cls.desktop.wait_stable(w.rect, timeout=10)
        cls.shot = cls.desktop.screenshot(save_as=harness.session().log_dir / "main-at-start.png")
        cls.pixels = np.asarray(cls.shot)

    def client_pixels(self, r: Rect) -> np.ndarray:
        s = r.offset(self.window.client.left, self.window.client.top)
        return self.pixels[s.top:s.bottom, s.left:s.right]

    def assert_colour(self, pixels: np.ndarray, colour, what: str, tolerance: int = 3) -> None:
        bad = ~colour_mask(pixels, colour, tolerance)
        if bad.any():
            ys, xs = np.nonzero(bad)
            self.fail(f"{what}: {int(bad.sum())} of {bad.size} pixels are not {colour}, "
                      f"first at ({xs[0]}, {ys[0]}) = {tuple(pixels[ys[0], xs[0]])}")

    def test_caption_and_frame(self) -> None:
        w = self.window
        self.assertEqual(w.caption, "Lumeno ControlPanel")
        self.assertTrue(w.visible and not w.iconic and not w.zoomed)
        for name, bit in (("WS_CAPTION", harness.WS_CAPTION), ("WS_SYSMENU", harness.WS_SYSMENU),
                          ("WS_MINIMIZEBOX", harness.WS_MINIMIZEBOX)):
            self.assertTrue(w.has_style(bit), f"{name} missing (style {w.style:#x})")
        self.assertFalse(w.style & harness.WS_THICKFRAME, "the frame can be dragged to resize")
        self.assertFalse(w.style & harness.WS_MAXIMIZEBOX, "the window offers maximise")
        # Shown in the task bar: an unowned window that is no tool window.
        self.assertEqual(w.owner, 0)
        self.assertFalse(w.exstyle & harness.WS_EX_TOOLWINDOW)

    def test_client_area_is_433_by_368(self) -> None:
        self.assertEqual((self.window.client.width, self.window.client.height),
                         (CLIENT_W, CLIENT_H))

    def test_scene_picture_is_shown_at_natural_size(self) -> None:
        reference = Image.open(ART / "scene.jpg")
        self.assertEqual(reference.size, (SCENE.width, SCENE.height))
        shown = self.client_pixels(SCENE).astype(np.int16)
        expected = np.asarray(reference.convert("RGB"), dtype=np.int16)
        diff = np.abs(shown - expected).reshape(-1, 3)
        mean = diff.mean(axis=0)
        p99 = np.percentile(diff, 99, axis=0)
        # JPEG decoders round differently; a shift or scaling by one pixel does not pass.
        self.assertTrue((mean < 3).all() and (p99 < 24).all(),
                        f"scene differs from art/scene.jpg: mean {mean.round(2)}, 99th {p99}")

    def test_picture_has_a_sunken_two_pixel_border(self) -> None:
        c = self.colours
        o = PICTURE_OUTER
        # Lines sampled away from the corners, where the edges meet.
        lines = {
            "outer top": (Rect(o.left + 2, o.top, o.right - 2, o.top + 1), c["button_shadow"]),
            "outer left": (Rect(o.left, o.top + 2, o.left + 1, o.bottom - 2), c["button_shadow"]),
            "inner top": (Rect(o.left + 2, o.top + 1, o.right - 3, o.top + 2), c["dark_shadow"]),
            "inner left": (Rect(o.left + 1, o.top + 2, o.left + 2, o.bottom - 3), c["dark_shadow"]),
            "outer bottom": (Rect(o.left + 2, o.bottom - 1, o.right - 2, o.bottom),
                             c["button_highlight"]),
            "outer right": (Rect(o.right - 1, o.top + 2, o.right, o.bottom - 2),
                            c["button_highlight"]),
            "inner bottom": (Rect(o.left + 3, o.bottom - 2, o.right - 3, o.bottom - 1), c["light"]),
            "inner right": (Rect(o.right - 2, o.top + 3, o.right - 1, o.bottom - 3), c["light"]),
        }
        for what, (rect, colour) in lines.items():
            self.assert_colour(self.client_pixels(rect), colour, f"picture border, {what}")

    def test_info_strip_is_sunken_and_empty_at_start(self) -> None:
        c = self.colours
        s = STRIP
        self.assert_colour(self.client_pixels(Rect(s.left + 2, s.top, s.right - 2, s.top + 1)),
                           c["button_shadow"], "strip top edge")
        self.assert_colour(self.client_pixels(Rect(s.left, s.top + 2, s.left + 1, s.bottom - 2)),
                           c["button_shadow"], "strip left edge")
        self.assert_colour(self.client_pixels(Rect(s.left + 2, s.bottom - 1, s.right - 2, s.bottom)),
                           c["button_highlight"], "strip bottom edge")
        # No "...", no caption, no icon: the inside is plain button face.
        inside = Rect(s.left + 2, s.top + 2, s.right - 2, s.bottom - 2)
        self.assert_colour(self.client_pixels(inside), c["button_face"], "strip interior",
                           tolerance=1)

    def test_nothing_else_is_drawn_around_picture_and_strip(self) -> None:
        face = self.colours["button_face"]
        margins = {
            "above the picture": Rect(0, 0, CLIENT_W, PICTURE_OUTER.top),
            "left of the picture": Rect(0, 0, PICTURE_OUTER.left, CLIENT_H),
            "right of the picture": Rect(PICTURE_OUTER.right, 0, CLIENT_W, STRIP.top),
            "between picture and strip": Rect(0, PICTURE_OUTER.bottom, CLIENT_W, STRIP.top),
            "right of the strip": Rect(STRIP.right, STRIP.top, CLIENT_W, CLIENT_H),
            "below the strip": Rect(0, STRIP.bottom, CLIENT_W, CLIENT_H),
        }
        for what, rect in margins.items():
            self.assert_colour(self.client_pixels(rect), face, f"window background {what}",
                               tolerance=1)

    def test_menu_bar_shows_two_captions(self) -> None:
        w = self.window
        self.assertTrue(w.has_menu, "the window has no menu bar")
        top = w.rect.top + self.metrics["border_width"] + self.metrics["caption_height"]
        self.assertGreaterEqual(w.client.top - top, self.metrics["menu_height"] - 1,
                                "no room for a menu bar between caption and client area")
        bar = self.pixels[top:w.client.top, w.client.left:w.client.right]
        text = colour_mask(bar, self.colours["menu_text"], tolerance=100)
        clusters = text_clusters(text.any(axis=0))
        # "File" and "Help", starting at the left edge.
        self.assertEqual(len(clusters), 2, f"menu bar text runs at columns {clusters}")
        self.assertLess(clusters[0][0], 15)
        for start, end in clusters:
            self.assertTrue(10 <= end - start + 1 <= 40, f"caption {start}-{end} is no word")

    def test_title_bar_shows_the_16_pixel_program_icon(self) -> None:
        w = self.window
        icon = harness.icon_image((ART / "program16.dib").read_bytes())
        bar_bottom = w.rect.top + self.metrics["border_width"] + self.metrics["caption_height"]
        corner = self.pixels[w.rect.top:bar_bottom, w.rect.left:w.rect.left + 40]
        x, y, worst = harness.find_image(corner, icon)
        # Drawn as is: a scaled-down 32-pixel image would not match.
        self.assertLessEqual(worst, 8, f"no 16x16 program icon in the title bar "
                                       f"(best at {x},{y} off by {worst})")

    def test_icon_pictures_are_nowhere_on_screen(self) -> None:
        w = self.window
        # The frame right of the client area is no wider than the one on the
        # left: there is no room where the icon images lie.
        self.assertEqual(w.rect.right - w.client.right, w.client.left - w.rect.left)
        window = self.pixels[w.rect.top:w.rect.bottom, w.rect.left:w.rect.right].copy()
        scene = SCENE.offset(w.client.left - w.rect.left, w.client.top - w.rect.top)
        # The scene itself may hold that grey; everything else may not.
        window[scene.top:scene.bottom, scene.left:scene.right] = 0
        found = colour_mask(window, ICON_BACKGROUND, tolerance=1)
        self.assertFalse(found.any(), f"{int(found.sum())} pixels of icon background on screen")


class MainWindowFrameTest(harness.ProgramTestCase):
    """What a person can do to the frame: it does not grow."""

    def assert_unchanged(self, what: str) -> None:
        now = self.main_window()
        self.assertFalse(now.zoomed, f"{what} maximised the window")
        self.assertEqual((now.client.width, now.client.height), (CLIENT_W, CLIENT_H),
                         f"{what} changed the client size")
        self.assertEqual((now.rect.width, now.rect.height),
                         (self.window.rect.width, self.window.rect.height),
                         f"{what} changed the window size")

    def test_cannot_be_enlarged(self) -> None:
        w = self.main_window()
        caption_y = w.rect.top + (w.client.top - w.rect.top) // 4
        self.desktop.double_click(w.rect.left + w.rect.width // 2, caption_y)
        time.sleep(0.5)
        self.assert_unchanged("double-clicking the caption")
        w = self.main_window()
        mid_y = w.rect.top + w.rect.height // 2
        self.desktop.drag(w.rect.right - 1, mid_y, w.rect.right + 120, mid_y)
        time.sleep(0.3)
        self.assert_unchanged("dragging the right edge")
        w = self.main_window()
        self.desktop.drag(w.rect.right - 1, w.rect.bottom - 1, w.rect.right + 120,
                          w.rect.bottom + 120)
        time.sleep(0.3)
        self.assert_unchanged("dragging the bottom-right corner")
        self.assertTrue(self.program.alive())

    def test_menus_open_from_the_keyboard(self) -> None:
        def popup():
            menus = [x for x in self.program.windows() if x.cls == "#32768"]
            return menus[0] if menus else None

        heights = {}
        for key in ("alt+f", "alt+h"):
            self.desktop.key(key)
            menu = harness.wait_until(popup, 5, 0.2, f"a menu after {key}")
            heights[key] = menu.rect.height
            self.assertLess(abs(menu.rect.top - self.main_window().client.top), 4,
                            "the menu does not drop from the menu bar")
            self.desktop.key("Escape", "Escape")
            harness.wait_until(lambda: popup() is None, 5, 0.2, "the menu to close")
        # File holds one item; Help two items and a separator.
        self.assertGreater(heights["alt+h"], heights["alt+f"] * 1.5)
        self.assertTrue(self.program.alive())


class MenuCaptionsTest(unittest.TestCase):
    """The menu captions with their access keys, read inside the program's
    own process by the in-process tool (another process cannot read menus
    under Wine)."""

    def test_menu_captions_in_order(self) -> None:
        if not harness.INPROC.is_file():
            self.skipTest(f"in-process tool not built: {harness.INPROC}")
        sess = harness.session()
        out = sess.wine_run([str(harness.INPROC), "menus"], timeout=60)
        lines = [line.strip() for line in out.stdout.decode(errors="replace").splitlines()]
        self.assertEqual([line for line in lines if line],
                         ["&File", "E&xit", "&Help", "&Quick help", "-", "&About"])


if __name__ == "__main__":
    harness.main()
