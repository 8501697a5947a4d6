# Hover feedback of the picture's hotspots, driven with the real pointer. The pointer glides in
# small steps (Wine only reports moves it sees) and the info strip is read from the screen: the
# preview must be exactly the hovered object's icon from art/, the label must hold text, and
# bare picture must leave a plain strip.

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402

from scene import BARE_POINT, HOTSPOTS, ICONS, INDEX, PICTURE_OUTER, POINTS, PREVIEW_X, SCENE, STRIP_INSIDE, TEXT_X, glide_to  # noqa: E402,E501


class HoverTest(harness.ProgramTestCase):
    # One program; each test glides the pointer from wherever the last one left it.
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.face = np.array(harness.system_colour("button_face"), np.int16)
        # Start next to the window, so the first glide is short.
        cls.desktop.move(cls.window.rect.right + 10, cls.window.client.top + 200)

    def grab(self) -> np.ndarray:
        return self.desktop.grab_array(self.window.client_rect(
            STRIP_INSIDE.left, STRIP_INSIDE.top, STRIP_INSIDE.width, STRIP_INSIDE.height)).astype(np.int16)

    def wait_for(self, predicate, timeout: float = 4) -> np.ndarray:
        # The strip once predicate holds for it, or as last seen when time runs out.
        deadline = time.monotonic() + timeout
        while True:
            strip = self.grab()
            if predicate(strip) or time.monotonic() >= deadline:
                return strip
            time.sleep(0.1)

    def icon_off_by(self, strip: np.ndarray, index: int) -> int:
        x = PREVIEW_X - STRIP_INSIDE.left
        return int(np.abs(strip[:, x:x + ICONS[index].shape[1]] - ICONS[index]).max())

    def text_mask(self, strip: np.ndarray) -> np.ndarray:
        return np.abs(strip[:, TEXT_X - STRIP_INSIDE.left:] - self.face).max(-1) > 60

    def is_empty(self, strip: np.ndarray) -> bool:
        return bool((np.abs(strip - self.face).max(-1) <= 1).all())

    def glide_to(self, x: int, y: int, step: int = 5) -> None:
        glide_to(self.desktop, self.window, x, y, step)

    def hover(self, index: int) -> np.ndarray:
        # Glides onto a hotspot; the strip once it shows that hotspot's icon, checked.
        self.glide_to(*POINTS[index])
        strip = self.wait_for(lambda s: self.icon_off_by(s, HOTSPOTS[index].icon) <= 2)
        h = HOTSPOTS[index]
        offs = [self.icon_off_by(strip, i) for i in range(13)]
        self.assertLessEqual(offs[h.icon], 2, f"{h}: preview is not icon {h.icon} "
                                              f"(closest icon {int(np.argmin(offs))}, offs {offs})")
        cols = np.flatnonzero(self.text_mask(strip).any(0))
        self.assertTrue(len(cols), f"{h}: no title text in the strip")
        # Plain 8-point text: 4 to 7 pixels a character, starting at the label's left.
        width = int(cols[-1] - cols[0] + 1)
        self.assertLess(cols[0], 4, f"{h}: text starts {cols[0]} px right of the label")
        self.assertTrue(4 * len(h.title) <= width <= 7 * len(h.title),
                        f"{h}: text {width} px wide for {h.title!r}")
        return strip

    def test_each_object_shows_its_title_and_icon(self) -> None:
        texts = {}
        # In z-order; the hard disk's point lies inside the computer's rectangle too.
        for i, h in enumerate(HOTSPOTS):
            with self.subTest(hotspot=h.control):
                texts[h.title] = self.text_mask(self.hover(i))
        titles = list(texts)
        same = [(a, b) for n, a in enumerate(titles) for b in titles[n + 1:]
                if np.array_equal(texts[a], texts[b])]
        self.assertEqual(same, [], "different titles drew identical text")

    def test_bare_picture_empties_the_strip_and_coming_back_refills_it(self) -> None:
        self.hover(INDEX["imgKeys"])
        self.glide_to(*BARE_POINT)
        self.assertTrue(self.is_empty(self.wait_for(self.is_empty)),
                        "bare picture left text or an icon in the strip")
        self.hover(INDEX["imgKeys"])

    def test_leaving_through_the_right_edge_keeps_the_strip(self) -> None:
        mouse = INDEX["imgMouse"]
        # The mouse reaches the picture's right edge: straight right leaves the picture from it.
        self.assertEqual(SCENE.left + HOTSPOTS[mouse].rect.right, SCENE.right)
        before = self.hover(mouse)
        self.glide_to(self.window.client.width + 25, POINTS[mouse][1], step=2)
        self.assertGreaterEqual(self.desktop.pointer()[0], self.window.client.left + PICTURE_OUTER.right)
        time.sleep(0.5)  # proves an absence: no late move event changes the strip
        self.assertTrue(np.array_equal(before, self.grab()),
                        "leaving the picture through its edge changed the strip")


if __name__ == "__main__":
    harness.main()
