# The main window's picture as the user meets it, for every end-to-end test: the hotspot
# catalogue (topmost first), the client rectangles of the picture and the strip, a point on each
# hotspot that no higher one covers, one on bare picture, and the icon art.

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

SCENE = Rect.of_size(5, 6, 425, 331)          # client pixels of the picture's inside
PICTURE_OUTER = Rect.of_size(3, 4, 429, 335)  # with its 2-pixel sunken border
STRIP_INSIDE = Rect.of_size(5, 346, 423, 16)  # the strip inside its sunken edge
PREVIEW_X, TEXT_X = 6, 29                     # the strip's icon and title, client x


class Hotspot:
    def __init__(self, control, title, icon, applet, left, top, width, height):
        self.control, self.title, self.icon, self.applet = control, title, icon, applet
        self.rect = Rect.of_size(left // 15, top // 15, width // 15, height // 15)  # scene pixels
        self.client = self.rect.offset(SCENE.left, SCENE.top)

    def __repr__(self):
        return self.control


# Control, hover title, icon index, applet number and the rectangle in twips from the picture's
# inner top-left corner.
HOTSPOTS = [Hotspot(*row) for row in (
    ("imgMouse",        "Mouse",              2,  8, 5760, 4200,  615,  375),
    ("imgClock",        "Date/Time",          9,  2, 5520,  600,  735, 2055),
    ("imgKeys",         "Passwords",          6, 11,  240, 4440,  855,  495),
    ("imgGlobe",        "Internet options",  12,  4,  180, 2760,  675, 1230),
    ("imgKeyboard",     "Keyboard",           5,  6, 1440, 4200, 3885,  480),
    ("imgHardDisk",     "Add/New Hardware",   4,  0, 4395, 3765,  675,  435),
    ("imgComputer",     "System Properites", 10, 14,  990, 3720, 4065,  555),
    ("imgDisplay",      "Display",           11,  3, 1920, 1200, 2295, 2295),
    ("imgRightSpeaker", "Multimedia",         3,  9, 4200, 1440,  780, 1830),
    ("imgModem",        "Modems",             1,  7, 4200, 3240,  735,  495),
    ("imgCDs",          "Add/New Programs",   8,  1, 4920, 3240,  735,  615),
    ("imgLeftSpeaker",  "Sounds",             7, 13, 1080, 1560,  735, 1695),
    ("imgMap",          "Regional Settings",  0, 12,  360,  240, 2535, 1575),
)]
INDEX = {h.control: i for i, h in enumerate(HOTSPOTS)}
BY_TITLE = {h.title: h for h in HOTSPOTS}
# Per scene pixel, the index of the topmost hotspot there, -1 for bare picture.
OWNERS = np.full((SCENE.height, SCENE.width), -1, int)
for _i in reversed(range(len(HOTSPOTS))):
    _r = HOTSPOTS[_i].rect
    OWNERS[_r.top:_r.bottom, _r.left:_r.right] = _i


def spot_at(x: int, y: int) -> str:
    """The title of the topmost hotspot at a client point, "" for none."""
    if not SCENE.contains(x, y):
        return ""
    owner = OWNERS[y - SCENE.top, x - SCENE.left]
    return HOTSPOTS[owner].title if owner >= 0 else ""


def deepest_point(mask: np.ndarray) -> tuple[int, int]:
    # The client point of a region farthest from its edge, so no pixel rounding matters.
    core = mask.copy()
    while True:
        inner = core.copy()
        inner[1:, :] &= core[:-1, :]
        inner[:-1, :] &= core[1:, :]
        inner[:, 1:] &= core[:, :-1]
        inner[:, :-1] &= core[:, 1:]
        inner[[0, -1], :] = False
        inner[:, [0, -1]] = False
        if not inner.any():
            break
        core = inner
    ys, xs = np.nonzero(core)
    k = int(np.argmin((xs - xs.mean()) ** 2 + (ys - ys.mean()) ** 2))
    return SCENE.left + int(xs[k]), SCENE.top + int(ys[k])


POINTS = [deepest_point(OWNERS == i) for i in range(len(HOTSPOTS))]
BARE_POINT = deepest_point(OWNERS == -1)
ICONS = [np.asarray(Image.open(harness.REPO_ROOT / "art" / f"icon{i:02d}.bmp").convert("RGB"), np.int16)
         for i in range(13)]


def glide_to(desktop: harness.Desktop, window: harness.Window, x: int, y: int, step: int = 5) -> None:
    # From the pointer's place to client (x, y) of the window in small steps: Wine reports only
    # the moves it sees.
    sx, sy = window.client_to_screen(x, y)
    px, py = desktop.pointer()
    n = max(2, int(max(abs(sx - px), abs(sy - py)) / step))
    desktop.glide([(px + (sx - px) * i / n, py + (sy - py) * i / n) for i in range(1, n + 1)], step_delay=0.02)
