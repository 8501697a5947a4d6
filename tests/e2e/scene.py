# The main window's picture as the user meets it, for every end-to-end test: the hotspot
# catalogue (topmost first), the client rectangles of the picture and the strip, a point on each
# hotspot that no higher one covers, one on bare picture, the icon art, and what a screen reader
# finds in the program's windows.

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

# 96-DPI client pixels.
MAIN_CLIENT = (433, 368)
SCENE = Rect.of_size(5, 6, 425, 331)          # the picture's inside
PICTURE_OUTER = Rect.of_size(3, 4, 429, 335)  # with its 2-pixel sunken border
STRIP = Rect.of_size(3, 344, 427, 20)         # the info strip with its sunken edge
STRIP_INSIDE = Rect.of_size(5, 346, 423, 16)
PREVIEW = (6, 346)                            # the strip's icon, at its own size
TEXT_X = 29                                   # the strip's title label, client x
START_PICTURE = Path(__file__).resolve().parent / "data" / "main_window_at_start.png"  # the client area


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
    owner = OWNERS[y - SCENE.top, x - SCENE.left] if SCENE.contains(x, y) else -1
    return HOTSPOTS[owner].title if owner >= 0 else ""


def deepest_point(mask: np.ndarray) -> tuple[int, int]:
    # The client point of a region farthest from its edge, so no pixel rounding matters.
    core = mask.copy()
    while True:
        # Peeled by one pixel; what the rolls wrap round lands on the border, which goes too.
        inner = core & np.roll(core, 1, 0) & np.roll(core, -1, 0) & np.roll(core, 1, 1) & np.roll(core, -1, 1)
        inner[[0, -1], :] = inner[:, [0, -1]] = False
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


ROLE_LINK, ROLE_STATICTEXT, ROLE_GRAPHIC, ROLE_PUSHBUTTON = 30, 41, 40, 43
STATE_FOCUSABLE, STATE_INVISIBLE = 0x100000, 0x8000
CHILD = re.compile(r'^child (\d+) role (-?\d+) state 0x([0-9a-f]+) loc (-?\d+) (-?\d+) (\d+) (\d+) '
                   r'name "(.*)" action "(.*)"$', re.M)


def read_aloud(window: str, *args: str) -> tuple[dict[int, dict], str]:
    """A screen reader's walk of the "main" or "about" window from another process (Wine marshals
    IAccessible across processes): child id to role, state, screen rectangle, name and action,
    and all `lumeno_inproc msaa` printed (hit tests, default actions)."""
    proc = harness.session().wine_run([str(harness.INPROC), "msaa", "out", window, *args], timeout=60,
                                      check=False, extra_env={"WINEDEBUG": "-all"})
    out = proc.stdout.decode(errors="replace").replace("\r\n", "\n")
    if proc.returncode:
        raise harness.HarnessError(f"the walk of {window} failed: {out}{proc.stderr.decode(errors='replace')[-1500:]}")
    return {int(m[1]): {"role": int(m[2]), "state": int(m[3], 16), "name": m[8], "action": m[9],
                        "rect": Rect.of_size(*map(int, m.group(4, 5, 6, 7)))}
            for m in CHILD.finditer(out) if int(m[1]) > 0}, out
