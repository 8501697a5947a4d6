# The program at the display scales of 96, 144 and 192 DPI under Wine. One prefix serves every
# scale: its LogPixels is set before each start, and a program started after the change sees
# the new DPI. The design is in 96-DPI pixels; at each scale:
#   - each window's client area is the design's times dpi/96;
#   - the pointer on each hotspot shows that hotspot's icon, grown as the scale asks, and its
#     title exactly as GDI draws it in the label's font at that DPI;
#   - above 96 DPI the main window scaled back to 96 DPI looks like the 96-DPI start picture,
#     and its scene is the twice-as-large art;
#   - the About window's texts run into each other no more than they do at 96 DPI.
# The 96-DPI window, told by WM_DPICHANGED that it is now on a 192-DPI monitor, lays itself out
# again at the suggested place; asked WM_GETDPISCALEDSIZE, it names the size it will want.
#
# The screen is larger than the other tests' (a 192-DPI main window is some 872 x 816 pixels).
# Screenshots of both windows at each scale are kept in build/e2e-shots.

import functools
import os
import re
import sys
import time
import unittest
from pathlib import Path

# Read by the harness when it starts Xvfb, and so the size of Wine's desktop.
os.environ.setdefault("LUMENO_SCREEN", "1280x1024x24")

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import scene  # noqa: E402

SCALES = (192, 144, 96)  # 192 first: its titles serve the window moved to 192 DPI at the end
SHOTS = Path(os.environ.get("LUMENO_E2E_SHOTS") or harness.REPO_ROOT / "build" / "e2e-shots")
ABOUT_CLIENT = (312, 213)
# This prefix's MS Sans Serif is a bitmap face whose largest size has a 16-pixel em: 8 points at
# 192 DPI (21 pixels) are beyond it, and the scalable sans serif must draw the title instead.
STRIP_FACE_AT = {96: "MS Sans Serif", 144: "MS Sans Serif", 192: "Microsoft Sans Serif"}
# The About window: the logo and its middle, the orange strip with its outline and the divider,
# the disclaimer's square.
LOGO, LOGO_MIDDLE = Rect.of_size(8, 8, 78, 78), (47, 60)
ORANGE_STRIP, DIVIDER_X = Rect.of_size(0, 192, 313, 25), 144
DISCLAIMER = Rect.of_size(8, 104, 89, 89)
YELLOW, ORANGE = (255, 255, 0), (255, 128, 0)
# Tolerances, from measurement:
# - the preview against the icon grown here (repetition, then Pillow's bilinear filter): 0.0 to
#   0.2 mean difference; any other icon is 55 or more off.
ICON_TOLERANCE = 4
# - the picture scaled back (area average) against the reference: drawn from the twice-as-large
#   art, which averaged down differs from the 96-DPI art by 3.0 to 5.2 per channel on its own;
#   measured 4.5 to 5.9. Its placement is checked apart.
SCENE_TOLERANCE = 7.5
# - the scene on the display against the twice-as-large art filtered to its size there: 0.0 to
#   0.5 measured; the 96-DPI art enlarged instead is 4.5 or more off.
ART_TOLERANCE = 2
# - the empty strip and the plain face around it, scaled back: 3.6 and 0.0 measured.
STRIP_TOLERANCE, FACE_TOLERANCE = 6, 1


face = functools.lru_cache(None)(lambda: np.array(harness.system_colour("button_face"), np.int16))


def device(v: float, dpi: int) -> int:
    """A 96-DPI edge on a display of that DPI: the nearest pixel, halves up."""
    return int(np.floor((v * dpi + 48) / 96))


def device_rect(r: Rect, dpi: int) -> Rect:
    return Rect(device(r.left, dpi), device(r.top, dpi), device(r.right, dpi), device(r.bottom, dpi))


@functools.lru_cache(None)
def expected_icon(index: int, dpi: int) -> np.ndarray:
    """An applet icon as the preview should show it: each pixel repeated as many whole times as
    the scale holds, then filtered to the icon's size on the display."""
    icon = scene.ICONS[index].astype(np.uint8)
    whole = max(1, dpi // 96)
    grown = icon.repeat(whole, 0).repeat(whole, 1)
    x, y = scene.PREVIEW
    size = (device(x + icon.shape[1], dpi) - device(x, dpi), device(y + icon.shape[0], dpi) - device(y, dpi))
    return np.asarray(Image.fromarray(grown).resize(size, Image.BILINEAR), np.int16)  # a copy at the same size


def bounding(mask: np.ndarray) -> tuple[int, int, np.ndarray]:
    """Where a mask's set pixels start (x, y) and the smallest part that holds them."""
    ys, xs = np.nonzero(mask)
    if not len(ys):
        return 0, 0, mask[:0, :0]
    return int(xs.min()), int(ys.min()), mask[ys.min():ys.max() + 1, xs.min():xs.max() + 1]


def hover_fault(strip: np.ndarray, index: int, dpi: int, title: np.ndarray) -> str:
    """What is wrong with the strip's inside while a hotspot is hovered, "" for nothing."""
    inside = device_rect(scene.STRIP_INSIDE, dpi)
    x, y = device(scene.PREVIEW[0], dpi) - inside.left, device(scene.PREVIEW[1], dpi) - inside.top
    errors = [float(np.abs(strip[y:y + i.shape[0], x:x + i.shape[1]] - i).mean())
              for i in (expected_icon(k, dpi) for k in range(13))]
    h = scene.HOTSPOTS[index]
    if errors[h.icon] >= ICON_TOLERANCE:
        return f"not icon {h.icon} (the nearest is {int(np.argmin(errors))}; {np.round(errors, 1).tolist()})"
    # The title's ink against the same text drawn by GDI, both where their ink starts; the label's
    # own corner must put it where the drawing does, within a pixel.
    label = strip[:, device(scene.TEXT_X, dpi) - inside.left:]
    (shown_x, shown_y, shown), (drawn_x, drawn_y, drawn) = bounding(np.abs(label - face()).max(-1) > 60), \
        bounding(title > 62)  # the same 60 against the face
    if shown.shape != drawn.shape or not np.array_equal(shown, drawn):
        return f"the text ({shown.shape[::-1]}) is not the title as drawn ({drawn.shape[::-1]})"
    if max(abs(shown_x - drawn_x), abs(shown_y - drawn_y)) > 1:
        return f"the text is {shown_x - drawn_x}, {shown_y - drawn_y} pixels off the label's corner"
    return ""


def components(mask: np.ndarray) -> list[tuple[np.ndarray, np.ndarray]]:
    """The 8-connected parts of a mask, each as its (ys, xs)."""
    seen, parts = np.pad(~mask, 1, constant_values=True), []  # a border of seen pixels
    for start in zip(*np.nonzero(~seen)):
        stack, part = [start], []
        while stack:
            p = stack.pop()
            if not seen[p]:
                seen[p] = True
                part.append(p)
                stack += [(p[0] + dy, p[1] + dx) for dy in (-1, 0, 1) for dx in (-1, 0, 1)]
        if part:
            parts.append(tuple(np.array(part).T - 1))
    return parts


def collisions(client: np.ndarray, dpi: int, texts: dict[str, Rect]) -> tuple[dict, dict[str, int]]:
    """Where the About window's texts run into each other, and how much ink each holds.

    Ink is what is clearly neither of its two fills, nor the logo, the strip's outline or the
    divider. A connected piece of ink is held by each text whose rectangle holds at least half
    of it: held by two, it counts against both; by none, against ("", ""); by one, its pixels
    outside that text's rectangle count against (text, "").
    """
    ink = np.all([np.abs(client - np.array(fill, np.int16)).max(-1) > 80 for fill in (YELLOW, ORANGE)], 0)
    logo, strip, k = device_rect(LOGO, dpi), device_rect(ORANGE_STRIP, dpi), dpi // 96 + 1  # lines and rounding
    ink[logo.top:logo.bottom, logo.left:logo.right] = False
    for y in (strip.top, strip.bottom - 1):
        ink[max(0, y - k):y + k + 1, :] = False
    for x in (strip.left, strip.right - 1, device(DIVIDER_X, dpi)):
        ink[strip.top - k:, max(0, x - k):x + k + 1] = False
    boxes = {name: np.zeros(ink.shape, bool) for name in texts}
    for name, r in texts.items():
        boxes[name][max(0, r.top):max(0, r.bottom), max(0, r.left):max(0, r.right)] = True
    hits, held = {}, dict.fromkeys(texts, 0)
    for ys, xs in components(ink):
        holders = [name for name, box in boxes.items() if 2 * int(box[ys, xs].sum()) >= len(ys)]
        for name in holders:
            held[name] += len(ys)
        if len(holders) == 1:
            pair, n = (holders[0], ""), int((~boxes[holders[0]][ys, xs]).sum())
        else:
            pair, n = (tuple(holders[:2]) if holders else ("", "")), len(ys)
        hits[pair] = hits.get(pair, 0) + n
    return hits, held


class DisplayScaleTest(unittest.TestCase):
    runs: dict[int, dict] = {}

    @classmethod
    def setUpClass(cls) -> None:
        cls.sess = harness.session()
        cls.desktop, cls.probe = harness.Desktop(cls.sess), cls.sess.probe()
        SHOTS.mkdir(parents=True, exist_ok=True)
        try:
            for dpi in SCALES:
                cls.runs[dpi] = cls.observe(dpi)
        finally:
            cls.sess.set_dpi(96)  # the prefix is the other tests' too

    @classmethod
    def park(cls) -> None:
        # The pointer in a corner that no window covers.
        cls.desktop.move(cls.sess.screen_size[0] - 2, cls.sess.screen_size[1] - 2, settle=0.05)

    @classmethod
    def shoot(cls, window: harness.Window, name: str) -> np.ndarray:
        # The window's client area once painting has settled; the whole window kept as a picture.
        cls.desktop.wait_stable(window.rect, timeout=10)
        shot = cls.desktop.screenshot()
        shot.crop(window.rect.box()).save(SHOTS / f"{name}.png")
        return np.asarray(shot.crop(window.client.box()), np.int16)

    @classmethod
    def observe(cls, dpi: int) -> dict:
        if cls.probe.windows():
            cls.sess.kill_all_wine()
        cls.sess.set_dpi(dpi)
        cls.park()
        program = harness.Program(sess=cls.sess).start()
        try:
            run = {"main": (main := program.wait_main_window())}
            run["client"] = cls.shoot(main, f"dpi-{dpi}-main")
            with harness.ProbeServer(cls.sess) as probe:  # GDI in this prefix: the fonts the program gets
                run["titles"] = [probe.text(STRIP_FACE_AT[dpi], -int(8 * dpi / 72 + 0.5), h.title)
                                 for h in scene.HOTSPOTS]
            run["hover"] = cls.hover(main, dpi, run["titles"], range(13))
            cls.desktop.screenshot().crop(main.rect.box()).save(SHOTS / f"dpi-{dpi}-main-hover.png")
            cls.observe_about(run, program, dpi)
            if dpi == 96:
                cls.move_to_192(run, program)
        finally:
            program.stop()
        return run

    @classmethod
    def hover(cls, window: harness.Window, dpi: int, titles: list, spots) -> dict[str, str]:
        """With the pointer on each hotspot, what is wrong with the strip once it is right or
        after four seconds."""
        faults = {}
        inside = device_rect(scene.STRIP_INSIDE, dpi).offset(window.client.left, window.client.top)
        for i in spots:
            cls.point_at(window, *(device(v, dpi) for v in scene.POINTS[i]))
            deadline = time.monotonic() + 4
            while (fault := hover_fault(cls.desktop.grab_array(inside).astype(np.int16), i, dpi, titles[i])) and \
                    time.monotonic() < deadline:
                time.sleep(0.1)
            faults[scene.HOTSPOTS[i].title] = fault
        return faults

    @classmethod
    def point_at(cls, window: harness.Window, x: int, y: int) -> None:
        x, y = window.client_to_screen(x, y)
        cls.desktop.move(x - 3, y, settle=0.02)  # Wine reports a move only from elsewhere
        cls.desktop.move(x, y, settle=0.05)

    @classmethod
    def observe_about(cls, run: dict, program: harness.Program, dpi: int) -> None:
        cls.park()
        main = run["main"]
        cls.desktop.click(main.rect.left + 200, main.rect.top + 6)
        cls.probe.wait_foreground(harness.MAIN_CAPTION, 10, program.win_pid)
        cls.desktop.key("alt+h", "a")
        run["about"] = about = program.wait_window("About", 10)
        cls.park()

        def read() -> dict[str, Rect]:
            return {c["name"]: c["rect"].offset(-about.client.left, -about.client.top)
                    for c in scene.read_aloud("about")[0].values()
                    if c["role"] in (scene.ROLE_LINK, scene.ROLE_STATICTEXT)
                    and not c["state"] & scene.STATE_INVISIBLE}
        for _ in range(2):
            time.sleep(0.3)
            # Read just before the screenshot: the comments are short and stand still.
            texts, shot = read(), cls.desktop.screenshot()
            run["about_client"] = client = np.asarray(shot.crop(about.client.box()), np.int16)
            box = device_rect(DISCLAIMER, dpi)
            p = client[box.top:box.bottom, box.left:box.right]
            if int(((p[..., 0] > 200) & (p[..., 1] < 80) & (p[..., 2] < 80)).sum()) > 300:
                break  # the disclaimer shows: some 1200 to 1900 red pixels, none when hidden
            # It hides itself five seconds after the window opens; a press on the logo shows it
            # again, for good.
            cls.desktop.click(*about.client_to_screen(device(LOGO_MIDDLE[0], dpi), device(LOGO_MIDDLE[1], dpi)))
            cls.park()
        run["texts"] = texts
        shot.crop(about.rect.box()).save(SHOTS / f"dpi-{dpi}-about.png")
        cls.probe.close(about.hwnd)
        cls.probe.wait_gone("About", 10, program.win_pid)

    @classmethod
    def move_to_192(cls, run: dict, program: harness.Program) -> None:
        main = run["main"]
        cls.point_at(main, *scene.BARE_POINT)  # bare picture empties the strip
        inside = scene.STRIP_INSIDE.offset(main.client.left, main.client.top)
        harness.wait_until(lambda: np.abs(cls.desktop.grab_array(inside) - face()).max() <= 1, 4, 0.1, "an empty strip")
        cls.park()
        # Somewhere else on the screen, twice the size.
        run["suggested"] = Rect.of_size(16, 12, 2 * main.rect.width, 2 * main.rect.height)
        run["moved"] = moved = cls.probe.dpi_changed(run["main"].hwnd, 192, run["suggested"])
        if moved:
            run["moved_client"] = cls.shoot(moved, "dpi-changed-192-main")
            # The pointer is read at the new scale too; the title is drawn in a font for it.
            run["moved_hover"] = cls.hover(moved, 192, cls.runs[192]["titles"], (0, 12))

    def assert_size(self, window: harness.Window, design: tuple[int, int], dpi: int) -> None:
        got, want = (window.client.width, window.client.height), (design[0] * dpi / 96, design[1] * dpi / 96)
        self.assertTrue(abs(got[0] - want[0]) <= 1 and abs(got[1] - want[1]) <= 1, f"{got}, not {want} within a pixel")

    def test_1_client_areas_and_each_hotspots_icon_and_title_at_each_scale(self) -> None:
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                run = self.runs[dpi]
                self.assert_size(run["main"], scene.MAIN_CLIENT, dpi)
                self.assert_size(run["about"], ABOUT_CLIENT, dpi)
                self.assertEqual({t: f for t, f in run["hover"].items() if f}, {})

    def check_against_reference(self, client: np.ndarray, dpi: int) -> None:
        reference = np.asarray(Image.open(scene.START_PICTURE).convert("RGB"), np.int16)
        back = np.asarray(Image.fromarray(client.astype(np.uint8)).resize(scene.MAIN_CLIENT, Image.BOX), np.int16)
        diff, s, st = np.abs(back - reference), scene.SCENE, scene.STRIP
        parts = np.zeros((3, *diff.shape[:2]), bool)  # the picture, the empty strip, the plain face around
        parts[0, s.top:s.bottom, s.left:s.right] = parts[1, st.top:st.bottom, st.left:st.right] = parts[2] = True
        for r in (scene.PICTURE_OUTER, st):
            parts[2, r.top - 1:r.bottom + 1, r.left - 1:r.right + 1] = False
        for what, part, tolerance in zip(("picture", "empty strip", "face"), parts,
                                         (SCENE_TOLERANCE, STRIP_TOLERANCE, FACE_TOLERANCE)):
            off = diff[part].mean(0)
            self.assertTrue((off < tolerance).all(), f"the {what} differs from the 96-DPI one by {off.round(2)}")
        # Placed and sized right: drawn a pixel off, or one percent too small, it is no longer
        # the art filtered to its place on the display.
        d = device_rect(s, dpi)
        with Image.open(harness.REPO_ROOT / "art" / "scene@2x.jpg") as art:
            art = np.asarray(art.convert("RGB").resize((d.width, d.height), Image.BILINEAR), np.int16)
        off = np.abs(client[d.top:d.bottom, d.left:d.right] - art).reshape(-1, 3).mean(0)
        self.assertTrue((off < ART_TOLERANCE).all(), f"the picture is not art/scene@2x.jpg at its size: {off.round(2)}")

    def test_2_main_window_scaled_back_matches_the_96_dpi_picture(self) -> None:
        for dpi in SCALES[:-1]:
            with self.subTest(dpi=dpi):
                self.check_against_reference(self.runs[dpi]["client"], dpi)

    def test_3_about_texts_collide_no_more_than_at_96_dpi(self) -> None:
        base = self.runs[96]
        base_hits, _ = collisions(base["about_client"], 96, base["texts"])
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                run = self.runs[dpi]
                self.assertEqual(sorted(run["texts"]), sorted(base["texts"]), "not the texts at 96 DPI")
                hits, held = collisions(run["about_client"], dpi, run["texts"])
                self.assertEqual([name for name, n in held.items() if n < 10], [], "texts without ink")
                # No more than at 96 DPI over the same area, and some pixels of rounding.
                grown = {pair: n for pair, n in hits.items() if n > base_hits.get(pair, 0) * (dpi / 96) ** 2 * 1.5 + 4}
                self.assertEqual(grown, {}, f"ink of one text in another's place, or in none; at 96 DPI {base_hits}")

    def test_4_moved_to_192_dpi_the_window_lays_itself_out_again_where_suggested(self) -> None:
        run = self.runs[96]
        self.assertIsNotNone(run["moved"], "the window did not answer WM_DPICHANGED")
        self.assertEqual(run["moved"].rect.box()[:2], run["suggested"].box()[:2])
        self.assert_size(run["moved"], scene.MAIN_CLIENT, 192)
        self.check_against_reference(run["moved_client"], 192)
        self.assertEqual({t: f for t, f in run["moved_hover"].items() if f}, {})

    def test_5_asked_ahead_the_window_names_the_size_it_will_want_at_another_scale(self) -> None:
        # WM_GETDPISCALEDSIZE, as the system asks before a move to a monitor of that DPI: the
        # frame for that DPI around the design's client area at that scale.
        for dpi in (144, 192):
            with self.subTest(dpi=dpi):
                out = self.sess.wine_run([str(harness.INPROC), "scaled-size", str(dpi)], timeout=60,
                                         extra_env={"WINEDEBUG": "-all"}).stdout.decode()
                m = re.search(r"answer (\d+) size (\d+) (\d+) frame (\d+) (\d+)", out)
                answer, w, h, fw, fh = map(int, m.groups())
                # Answered (1), with the frame round the design's client area at that scale.
                self.assertEqual((answer, w - fw, h - fh), (1, *(device(v, dpi) for v in scene.MAIN_CLIENT)))


if __name__ == "__main__":
    harness.main()
