# The program at the display scales of 96, 120, 144 and 192 DPI under Wine. One prefix serves
# every scale: its LogPixels is set before each start, and a program started after the change
# sees the new DPI. The design is in 96-DPI pixels; at each scale:
#   - each window's client area is the design's times dpi/96;
#   - the pointer on each hotspot's middle shows that hotspot's icon, grown as the scale asks,
#     and its title exactly as GDI draws it in the label's font at that DPI;
#   - the main window scaled back to 96 DPI looks like the 96-DPI reference picture;
#   - the About window's texts run into each other no more than they do at 96 DPI.
# A window told by WM_DPICHANGED that it is now on a 192-DPI monitor lays itself out again,
# at the suggested place.
#
# The screen is larger than the other tests' (a 192-DPI main window is some 872 x 816 pixels).
# Screenshots of both windows at each scale are kept in build/e2e-shots.

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

import scene as spots  # noqa: E402

SCALES = (96, 120, 144, 192)
ART = Path(os.environ.get("LUMENO_ART") or harness.REPO_ROOT / "art")
SHOTS = Path(os.environ.get("LUMENO_E2E_SHOTS") or harness.REPO_ROOT / "build" / "e2e-shots")
REFERENCE = Path(__file__).resolve().parent / "data" / "main_window_at_start.png"  # the client area

# The design, in 96-DPI client pixels.
MAIN_CLIENT = (433, 368)
ABOUT_CLIENT = (312, 213)
SCENE = Rect.of_size(5, 6, 425, 331)          # the picture's inside
PICTURE_OUTER = Rect.of_size(3, 4, 429, 335)  # with its 2-pixel sunken border
STRIP = Rect.of_size(3, 344, 427, 20)         # the info strip with its sunken edge
STRIP_INSIDE = Rect.of_size(5, 346, 423, 16)
PREVIEW = (6, 346)                            # the icon's corner; it is shown at its own size
TEXT_LEFT = 29                                # the title label's left edge, level with the preview
STRIP_FONT = ("MS Sans Serif", 8.0)           # the title label's face and points
# This prefix's MS Sans Serif is a bitmap face whose largest size has a 16-pixel em: 8 points at
# 192 DPI (21 pixels) are beyond it, and the scalable sans serif must draw the title instead of
# a face too small for the scale.
STRIP_FACE_AT = {96: "MS Sans Serif", 120: "MS Sans Serif", 144: "MS Sans Serif", 192: "Microsoft Sans Serif"}
# The About window: the logo, its middle, the comments' box, the orange strip with its outline
# and the divider, the disclaimer's square.
LOGO = Rect.of_size(8, 8, 78, 78)
LOGO_MIDDLE = (47, 60)
COMMENTS_BOX = Rect.of_size(104, 48, 217, 121)
ORANGE_STRIP = Rect.of_size(0, 192, 313, 25)
DIVIDER_X = 144
DISCLAIMER = Rect.of_size(8, 104, 89, 89)
YELLOW, ORANGE = (255, 255, 0), (255, 128, 0)
ROLE_LINK, ROLE_STATICTEXT = 30, 41

# Tolerances, from measurement:
# - the preview against the icon grown here (repetition, then Pillow's bilinear filter): 0.0 to
#   0.2 mean difference; any other icon is 55 or more off.
ICON_TOLERANCE = 4
# - the picture scaled back (area average) against the reference: the scene above 96 DPI is
#   drawn from the twice-as-large art, which averaged down differs from the 96-DPI art by 4.5,
#   3.0 and 5.2 per channel on its own; measured 4.5 to 5.9. Its placement is checked apart.
SCENE_TOLERANCE = 7.5
# - the scene on the display against the twice-as-large art filtered to its size there: 0.0 to
#   0.5 measured; the 96-DPI art enlarged instead is 4.5 or more off.
ART_TOLERANCE = 2
# - the empty strip scaled back: its one-pixel edges land between pixels at 120 DPI (3.6
#   measured). The edges' places are checked apart, on the display.
STRIP_TOLERANCE = 6
# - the plain window face around them scales back exactly (0.0 measured).
FACE_TOLERANCE = 1


def device(v: float, dpi: int) -> int:
    """A 96-DPI edge on a display of that DPI: the nearest pixel, halves up."""
    return int(np.floor((v * dpi + 48) / 96))


def device_rect(r: Rect, dpi: int) -> Rect:
    return Rect(device(r.left, dpi), device(r.top, dpi), device(r.right, dpi), device(r.bottom, dpi))


def expected_icon(index: int, dpi: int) -> np.ndarray:
    """An applet icon as the preview should show it: each pixel repeated as many whole times as
    the scale holds, then filtered to the icon's size on the display."""
    icon = spots.ICONS[index].astype(np.uint8)
    whole = max(1, dpi // 96)
    grown = icon.repeat(whole, 0).repeat(whole, 1)
    h, w = icon.shape[:2]
    size = (device(PREVIEW[0] + w, dpi) - device(PREVIEW[0], dpi),
            device(PREVIEW[1] + h, dpi) - device(PREVIEW[1], dpi))
    if (grown.shape[1], grown.shape[0]) != size:
        grown = np.asarray(Image.fromarray(grown).resize(size, Image.BILINEAR))
    return grown.astype(np.int16)


def hotspot_middle(index: int, dpi: int) -> tuple[int, int]:
    """The middle of a hotspot's rectangle in client pixels at that scale (no higher hotspot
    covers any of the thirteen middles)."""
    r = spots.HOTSPOTS[index].rect
    return (device(SCENE.left + (r.left + r.right) / 2, dpi), device(SCENE.top + (r.top + r.bottom) / 2, dpi))


def scaled_back(client: np.ndarray) -> np.ndarray:
    """A client area at any scale as a 96-DPI picture: each design pixel the average of what
    covers it."""
    return np.asarray(Image.fromarray(client.astype(np.uint8)).resize(MAIN_CLIENT, Image.BOX), np.int16)


def bounding(mask: np.ndarray) -> tuple[int, int, np.ndarray]:
    """Where a mask's set pixels start (x, y) and the smallest part that holds them."""
    ys, xs = np.nonzero(mask)
    if not len(ys):
        return 0, 0, mask[:0, :0]
    return int(xs.min()), int(ys.min()), mask[ys.min():ys.max() + 1, xs.min():xs.max() + 1]


def components(mask: np.ndarray) -> list[np.ndarray]:
    """The 8-connected parts of a mask, each as an array of (y, x)."""
    seen = np.zeros(mask.shape, bool)
    h, w = mask.shape
    parts = []
    for y0, x0 in np.argwhere(mask):
        if seen[y0, x0]:
            continue
        seen[y0, x0] = True
        stack, part = [(y0, x0)], []
        while stack:
            y, x = stack.pop()
            part.append((y, x))
            for ny in (y - 1, y, y + 1):
                for nx in (x - 1, x, x + 1):
                    if 0 <= ny < h and 0 <= nx < w and mask[ny, nx] and not seen[ny, nx]:
                        seen[ny, nx] = True
                        stack.append((ny, nx))
        parts.append(np.array(part))
    return parts


class Walk:
    """The About window's texts as a screen reader finds them: name to client rectangle."""

    CHILD = re.compile(r'^child (\d+) role (-?\d+) state 0x([0-9a-f]+) loc (-?\d+) (-?\d+) (\d+) (\d+) '
                       r'name "(.*)" action "(.*)"$')
    INVISIBLE = 0x8000

    def __init__(self, text: str, client: Rect) -> None:
        self.texts: dict[str, Rect] = {}
        for line in text.splitlines():
            m = self.CHILD.match(line)
            if (m and int(m[1]) > 0 and int(m[2]) in (ROLE_LINK, ROLE_STATICTEXT)
                    and not int(m[3], 16) & self.INVISIBLE):
                x, y, w, h = (int(v) for v in m.group(4, 5, 6, 7))
                self.texts[m[8]] = Rect.of_size(x - client.left, y - client.top, w, h)


def text_ink(client: np.ndarray, dpi: int) -> np.ndarray:
    """The About window's pixels that are text: clearly neither of its two fills, and not the
    logo, the strip's outline or the divider."""
    def far(colour):
        return np.abs(client - np.array(colour, np.int16)).max(-1) > 80

    ink = far(YELLOW) & far(ORANGE)
    logo = device_rect(LOGO, dpi)
    ink[logo.top:logo.bottom, logo.left:logo.right] = False
    strip = device_rect(ORANGE_STRIP, dpi)
    k = dpi // 96 + 1  # the lines' width at this scale, and a pixel of rounding
    for y in (strip.top, strip.bottom - 1):
        ink[max(0, y - k):y + k + 1, :] = False
    for x in (strip.left, strip.right - 1, device(DIVIDER_X, dpi)):
        ink[strip.top - k:, max(0, x - k):x + k + 1] = False
    return ink


def collisions(ink: np.ndarray, texts: dict[str, Rect]) -> tuple[dict, dict[str, int]]:
    """Where the texts' ink runs into each other.

    A connected piece of ink is held by each text whose rectangle holds at least half of it.
    Held by two texts, it counts against both (their texts lie over each other there); held by
    one, its pixels outside that text's rectangle count against the text whose rectangle they
    are in, or against none; held by none, it counts as ink outside the texts. A glyph that
    only reaches into the corner two rectangles share is held by its own text alone and touches
    nothing of the other: no collision. Returns ({(text, other text or ""): pixels},
    {text: pixels of ink it holds}).
    """
    h, w = ink.shape
    boxes = {name: np.zeros((h, w), bool) for name in texts}
    for name, r in texts.items():
        boxes[name][max(0, r.top):max(0, r.bottom), max(0, r.left):max(0, r.right)] = True
    hits: dict = {}
    held = {name: 0 for name in texts}

    def count(pair: tuple[str, str], n: int) -> None:
        hits[pair] = hits.get(pair, 0) + n

    for part in components(ink):
        ys, xs = part[:, 0], part[:, 1]
        holders = [name for name, box in boxes.items() if 2 * int(box[ys, xs].sum()) >= len(part)]
        for name in holders:
            held[name] += len(part)
        if len(holders) > 1:
            for i, a in enumerate(holders):
                for b in holders[i + 1:]:
                    count((a, b), len(part))
        elif not holders:
            count(("", ""), len(part))
        else:
            for y, x in part[~boxes[holders[0]][ys, xs]]:
                for other in [name for name, box in boxes.items() if box[y, x]] or [""]:
                    count((holders[0], other), 1)
    return hits, held


class Scale:
    """What one run of the program at one DPI showed."""

    def __init__(self, dpi: int) -> None:
        self.dpi = dpi
        self.skipped = ""
        self.main: harness.Window
        self.about: harness.Window
        self.main_client: np.ndarray               # the main window's client area at start
        self.strips: dict[int, np.ndarray] = {}    # hotspot: the strip's inside while hovered
        self.titles: dict[int, np.ndarray] = {}    # hotspot: its title as GDI draws it here
        self.about_client: np.ndarray
        self.about_texts: dict[str, Rect] = {}


class DisplayScaleTest(unittest.TestCase):
    runs: dict[int, Scale] = {}

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.sess = harness.session()
        cls.desktop = harness.Desktop(cls.sess)
        cls.probe = cls.sess.probe()
        SHOTS.mkdir(parents=True, exist_ok=True)
        try:
            for dpi in SCALES:
                cls.runs[dpi] = cls.observe(dpi)
        except Exception:
            cls.sess.failed = True
            raise
        finally:
            cls.sess.set_dpi(96)  # the prefix is the other tests' too

    # -- running the program at one scale ---------------------------------

    @classmethod
    def start(cls, dpi: int) -> tuple[harness.Program, harness.Window]:
        if cls.probe.windows():
            cls.sess.kill_all_wine()
        cls.sess.set_dpi(dpi)
        seen = cls.probe.screen()["dpi"]  # the probe is a program started after the change
        if seen != dpi:
            raise harness.HarnessError(f"a program started after setting {dpi} DPI sees {seen} DPI")
        cls.park()
        program = harness.Program(sess=cls.sess).start()
        try:
            return program, program.wait_main_window()
        except Exception:
            program.stop()
            raise

    @classmethod
    def park(cls) -> None:
        # The pointer in a corner that no window covers.
        w, h = cls.sess.screen_size
        cls.desktop.move(w - 2, h - 2, settle=0.05)

    @classmethod
    def fits(cls, window: harness.Window) -> bool:
        w, h = cls.sess.screen_size
        return window.rect.left >= 0 and window.rect.top >= 0 and window.rect.right <= w and window.rect.bottom <= h

    @classmethod
    def observe(cls, dpi: int) -> Scale:
        run = Scale(dpi)
        program, run.main = cls.start(dpi)
        try:
            if not cls.fits(run.main):
                run.skipped = f"the {dpi}-DPI main window {run.main.rect} is off the {cls.sess.screen_size} screen"
                return run
            cls.desktop.wait_stable(run.main.rect, timeout=10)
            shot = cls.desktop.screenshot()
            shot.crop(run.main.rect.box()).save(SHOTS / f"dpi-{dpi}-main.png")
            run.main_client = np.asarray(shot.crop(run.main.client.box()), np.int16)
            run.strips = cls.hover_all(run.main, dpi)
            cls.desktop.screenshot().crop(run.main.rect.box()).save(SHOTS / f"dpi-{dpi}-main-hover.png")
            run.titles = cls.draw_titles(dpi)
            cls.observe_about(run, program)
        finally:
            program.stop()
        return run

    @classmethod
    def strip_inside(cls, window: harness.Window, dpi: int) -> np.ndarray:
        inside = device_rect(STRIP_INSIDE, dpi).offset(window.client.left, window.client.top)
        return cls.desktop.grab_array(inside).astype(np.int16)

    @classmethod
    def hover_all(cls, window: harness.Window, dpi: int) -> dict[int, np.ndarray]:
        """The strip's inside with the pointer on each hotspot's middle, once its preview shows
        that hotspot's icon and the strip has settled (or as it is after four seconds)."""
        strips = {}
        for i, h in enumerate(spots.HOTSPOTS):
            x, y = window.client_to_screen(*hotspot_middle(i, dpi))
            cls.desktop.move(x - 3, y, settle=0.02)  # Wine reports a move only from elsewhere
            cls.desktop.move(x, y, settle=0.05)
            deadline = time.monotonic() + 4
            strip = cls.strip_inside(window, dpi)
            while time.monotonic() < deadline:
                time.sleep(0.1)
                last, strip = strip, cls.strip_inside(window, dpi)
                if icon_error(strip, h.icon, dpi) < ICON_TOLERANCE and np.array_equal(last, strip):
                    break
            strips[i] = strip
        return strips

    @classmethod
    def draw_titles(cls, dpi: int) -> dict[int, np.ndarray]:
        # Drawn by GDI in this prefix at this DPI: the same fonts the program gets.
        points = STRIP_FONT[1]
        face = STRIP_FACE_AT[dpi]
        height = -int(points * dpi / 72 + 0.5)
        with harness.ProbeServer(cls.sess) as probe:
            return {i: probe.text(face, height, h.title) for i, h in enumerate(spots.HOTSPOTS)}

    @classmethod
    def observe_about(cls, run: Scale, program: harness.Program) -> None:
        cls.park()
        cls.desktop.click(run.main.rect.left + 200, run.main.rect.top + 6)
        cls.probe.wait_foreground(harness.MAIN_CAPTION, 10, program.win_pid)
        cls.desktop.key("alt+h")
        cls.desktop.key("a")
        run.about = program.wait_window("About", 10)
        cls.park()
        for _ in range(2):
            time.sleep(0.3)
            # Walked before and after the screenshot: a text that scrolls may lie anywhere
            # between its two places, inside its box.
            before = Walk(cls.walk_about(), run.about.client).texts
            shot = cls.desktop.screenshot()
            after = Walk(cls.walk_about(), run.about.client).texts
            run.about_client = np.asarray(shot.crop(run.about.client.box()), np.int16)
            if disclaimer_shown(run.about_client, run.dpi):
                break
            # It hides itself five seconds after the window opens; a press on the logo shows it
            # again, for good.
            cls.desktop.click(*run.about.client_to_screen(device(LOGO_MIDDLE[0], run.dpi),
                                                          device(LOGO_MIDDLE[1], run.dpi)))
            cls.park()
        box = device_rect(COMMENTS_BOX, run.dpi)
        for name, r in after.items():
            was = before.get(name, r)
            if was != r:
                r = Rect(max(min(was.left, r.left), box.left), max(min(was.top, r.top), box.top),
                         min(max(was.right, r.right), box.right), min(max(was.bottom, r.bottom), box.bottom))
            run.about_texts[name] = r
        shot.crop(run.about.rect.box()).save(SHOTS / f"dpi-{run.dpi}-about.png")

    @classmethod
    def walk_about(cls) -> str:
        proc = cls.sess.wine_run([str(harness.INPROC), "msaa", "out", "about"], timeout=60, check=False,
                                 extra_env={"WINEDEBUG": "-all"})
        out = proc.stdout.decode(errors="replace")
        if proc.returncode != 0:
            raise harness.HarnessError("the About window's walk failed: " + out +
                                       proc.stderr.decode(errors="replace")[-1500:])
        return out

    def run_at(self, dpi: int) -> Scale:
        # Inside a subTest: a scale the screen cannot hold is skipped alone.
        run = self.runs[dpi]
        if run.skipped:
            self.skipTest(run.skipped)
        return run

    # -- the checks ---------------------------------------------------------

    def assert_size(self, window: harness.Window, design: tuple[int, int], dpi: int, what: str) -> None:
        want = (design[0] * dpi / 96, design[1] * dpi / 96)
        got = (window.client.width, window.client.height)
        self.assertTrue(abs(got[0] - want[0]) <= 1 and abs(got[1] - want[1]) <= 1,
                        f"{what} client area at {dpi} DPI is {got}, not {want} within a pixel")

    def test_1_client_areas_are_the_design_times_the_scale(self) -> None:
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                run = self.run_at(dpi)
                self.assert_size(run.main, MAIN_CLIENT, dpi, "main window")
                self.assert_size(run.about, ABOUT_CLIENT, dpi, "About window")

    def check_hover(self, strips: dict[int, np.ndarray], titles: dict[int, np.ndarray], dpi: int) -> None:
        face = np.array(harness.system_colour("button_face"), np.int16)
        inside = device_rect(STRIP_INSIDE, dpi)
        label_x = device(TEXT_LEFT, dpi) - inside.left
        for i, h in enumerate(spots.HOTSPOTS):
            strip = strips[i]
            errors = [icon_error(strip, k, dpi) for k in range(13)]
            self.assertLess(errors[h.icon], ICON_TOLERANCE,
                            f"{dpi} DPI, {h.title}: the preview is not icon {h.icon} (the nearest is "
                            f"{int(np.argmin(errors))}; mean differences {np.round(errors, 1).tolist()})")
            # The title's ink against the same text drawn by GDI, both where their ink starts; the
            # label's own corner must put it where the drawing does, within a pixel.
            shown_x, shown_y, shown = bounding(np.abs(strip[:, label_x:] - face).max(-1) > 60)
            drawn_x, drawn_y, drawn = bounding(titles[i] > 62)  # the same 60 against the face
            self.assertTrue(shown.shape == drawn.shape and np.array_equal(shown, drawn),
                            f"{dpi} DPI, {h.title}: the strip's text ({shown.shape[1]} x {shown.shape[0]}) "
                            f"is not the title as drawn here ({drawn.shape[1]} x {drawn.shape[0]})")
            self.assertLessEqual(max(abs(shown_x - drawn_x), abs(shown_y - drawn_y)), 1,
                                 f"{dpi} DPI, {h.title}: the text is {shown_x - drawn_x}, {shown_y - drawn_y} "
                                 "pixels off the label's corner")

    def test_2_each_hotspot_shows_its_icon_and_title(self) -> None:
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                run = self.run_at(dpi)
                self.check_hover(run.strips, run.titles, dpi)

    def check_against_reference(self, client: np.ndarray, dpi: int) -> None:
        reference = np.asarray(Image.open(REFERENCE).convert("RGB"), np.int16)
        back = scaled_back(client)
        diff = np.abs(back - reference)
        s = SCENE
        scene = diff[s.top:s.bottom, s.left:s.right].reshape(-1, 3).mean(0)
        self.assertTrue((scene < SCENE_TOLERANCE).all(),
                        f"{dpi} DPI: the picture differs from the 96-DPI one by {scene.round(2)} per channel")
        # Placed and sized right: each quarter of it fits the reference best where it is, not
        # moved by a pixel or two (a scale off by one percent moves the far quarters).
        hw, hh = s.width // 2, s.height // 2
        for qx in (0, hw):
            for qy in (0, hh):
                left, top = s.left + qx + 2, s.top + qy + 2
                want = reference[top:top + hh - 4, left:left + hw - 4]
                errors = {(dx, dy): np.abs(back[top + dy:top + dy + hh - 4, left + dx:left + dx + hw - 4] - want).mean()
                          for dx in range(-2, 3) for dy in range(-2, 3)}
                best = min(errors, key=errors.get)
                self.assertEqual(best, (0, 0), f"{dpi} DPI: the picture's quarter at {qx}, {qy} is off by {best}")
        if dpi > 96:
            d = device_rect(SCENE, dpi)
            with Image.open(ART / "scene@2x.jpg") as art:
                art = np.asarray(art.convert("RGB").resize((d.width, d.height), Image.BILINEAR), np.int16)
            shown = np.abs(client[d.top:d.bottom, d.left:d.right] - art).reshape(-1, 3).mean(0)
            self.assertTrue((shown < ART_TOLERANCE).all(),
                            f"{dpi} DPI: the picture is not art/scene@2x.jpg filtered to its size "
                            f"(off by {shown.round(2)} per channel)")
        self.check_edges(client, dpi)
        st = STRIP
        strip = diff[st.top:st.bottom, st.left:st.right].reshape(-1, 3).mean(0)
        self.assertTrue((strip < STRIP_TOLERANCE).all(),
                        f"{dpi} DPI: the empty strip differs from the 96-DPI one by {strip.round(2)} per channel")
        plain = np.ones(MAIN_CLIENT[::-1], bool)
        for r in (PICTURE_OUTER, STRIP):
            plain[r.top - 1:r.bottom + 1, r.left - 1:r.right + 1] = False
        face = diff[plain].mean(0)
        self.assertTrue((face < FACE_TOLERANCE).all(),
                        f"{dpi} DPI: the window's face differs from the 96-DPI one by {face.round(2)} per channel")

    def check_edges(self, client: np.ndarray, dpi: int) -> None:
        # The picture's and the strip's sunken edges start on their design edges mapped to the
        # display: plain face just outside, edge colour on the edge, at three places a side.
        face = np.array(harness.system_colour("button_face"), np.int16)
        for what, r in (("picture", PICTURE_OUTER), ("strip", STRIP)):
            d = device_rect(r, dpi)
            for part in (0.25, 0.5, 0.75):
                x, y = d.left + int(d.width * part), d.top + int(d.height * part)
                sides = {"top": client[d.top - 1:d.top + 1, x], "left": client[y, d.left - 1:d.left + 1],
                         "bottom": client[d.bottom - 1:d.bottom + 1, x][::-1],
                         "right": client[y, d.right - 1:d.right + 1][::-1]}
                for side, line in sides.items():
                    plain = (np.abs(line - face).max(-1) <= 2).tolist()
                    self.assertEqual(plain, [True, False], f"{dpi} DPI: the {what}'s {side} edge is not on "
                                                           f"its place ({d}) at {part} of its length")

    def test_3_main_window_scaled_back_matches_the_96_dpi_picture(self) -> None:
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                self.check_against_reference(self.run_at(dpi).main_client, dpi)

    def test_4_about_texts_collide_no_more_than_at_96_dpi(self) -> None:
        base = self.runs[96]
        base_hits, _ = collisions(text_ink(base.about_client, 96), base.about_texts)
        for dpi in SCALES:
            with self.subTest(dpi=dpi):
                run = self.run_at(dpi)
                self.assertEqual(sorted(run.about_texts), sorted(base.about_texts),
                                 f"{dpi} DPI: the About window's texts are not those at 96 DPI")
                hits, held = collisions(text_ink(run.about_client, dpi), run.about_texts)
                bare = [name for name, n in held.items() if n < 10]
                self.assertEqual(bare, [], f"{dpi} DPI: texts without ink")
                # No more than at 96 DPI over the same area, and some pixels of rounding.
                area = (dpi / 96) ** 2
                grown = {pair: n for pair, n in hits.items() if n > base_hits.get(pair, 0) * area * 1.5 + 4}
                self.assertEqual(grown, {}, f"{dpi} DPI: ink of one text in another's place, or in none "
                                            f"(owner, other: pixels); at 96 DPI {base_hits}")

    def test_5_dpi_change_lays_the_window_out_again_where_suggested(self) -> None:
        program, window = self.start(96)
        try:
            r = window.rect
            suggested = Rect(r.left, r.top, r.left + 2 * r.width, r.top + 2 * r.height)
            after = self.probe.dpi_changed(window.hwnd, 192, suggested)
            self.assertIsNotNone(after, "the window did not answer WM_DPICHANGED")
            self.assertTrue(program.alive())
            self.assertEqual((after.rect.left, after.rect.top), (suggested.left, suggested.top),
                             f"not at the suggested place: {after.rect}")
            self.assert_size(after, MAIN_CLIENT, 192, "main window after the change")
            if not self.fits(after):
                self.skipTest(f"the window {after.rect} is off the {self.sess.screen_size} screen")
            self.desktop.wait_stable(after.rect, timeout=10)
            shot = self.desktop.screenshot()
            shot.crop(after.rect.box()).save(SHOTS / "dpi-changed-192-main.png")
            self.check_against_reference(np.asarray(shot.crop(after.client.box()), np.int16), 192)
            # The pointer is read at the new scale too; the title is drawn in a font for it.
            self.check_hover(self.hover_all(after, 192), self.draw_titles(192), 192)
        finally:
            program.stop()

    def test_6_asked_ahead_the_window_names_the_size_it_will_want_at_another_scale(self) -> None:
        # WM_GETDPISCALEDSIZE, as the system asks before a move to a monitor of that DPI: the
        # frame for that DPI around the design's client area at that scale.
        for dpi in (120, 144, 192):
            with self.subTest(dpi=dpi):
                out = self.sess.wine_run([str(harness.INPROC), "scaled-size", str(dpi)], timeout=60,
                                         extra_env={"WINEDEBUG": "-all"}).stdout.decode()
                m = re.search(r"answer (\d+) size (\d+) (\d+) frame (\d+) (\d+)", out)
                self.assertIsNotNone(m, out)
                answer, w, h, fw, fh = map(int, m.groups())
                self.assertEqual(answer, 1, "the question went unanswered")
                self.assertEqual((w - fw, h - fh), (device(MAIN_CLIENT[0], dpi), device(MAIN_CLIENT[1], dpi)))


def icon_error(strip: np.ndarray, index: int, dpi: int) -> float:
    """Mean difference between the strip's preview and an icon as it should show at that scale."""
    icon = expected_icon(index, dpi)
    inside = device_rect(STRIP_INSIDE, dpi)
    x, y = device(PREVIEW[0], dpi) - inside.left, device(PREVIEW[1], dpi) - inside.top
    shown = strip[y:y + icon.shape[0], x:x + icon.shape[1]]
    return float(np.abs(shown - icon).mean()) if shown.shape == icon.shape else 255.0


def disclaimer_shown(client: np.ndarray, dpi: int) -> bool:
    box = device_rect(DISCLAIMER, dpi)
    p = client[box.top:box.bottom, box.left:box.right]
    red = (p[..., 0] > 200) & (p[..., 1] < 80) & (p[..., 2] < 80)
    return int(red.sum()) > 300  # some 1200 to 1900 when shown, none when hidden


if __name__ == "__main__":
    harness.main()
