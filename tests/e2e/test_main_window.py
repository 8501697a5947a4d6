# The main window as a person sees it right after start, and what its frame allows: caption,
# frame, client size, the scene against the art it embeds, the empty info strip, the menu bar,
# and that the window can be neither enlarged nor made to show the icon pictures beyond its
# client area.

import os
import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from harness import Rect  # noqa: E402

import numpy as np  # noqa: E402
import pefile  # noqa: E402
from PIL import Image  # noqa: E402

ART = Path(os.environ.get("LUMENO_ART") or harness.REPO_ROOT / "art")

CLIENT_W, CLIENT_H = 433, 368
# Picture1 at (3, 4), 2-pixel sunken border, so the picture starts at (5, 6).
PICTURE_OUTER = Rect.of_size(3, 4, 429, 335)
SCENE = Rect.of_size(5, 6, 425, 331)
STRIP = Rect.of_size(3, 344, 427, 20)  # lblBack, the info strip's sunken backdrop
# The opaque background of the applet icons: it must never be on screen at start.
ICON_BACKGROUND = (191, 184, 191)


def colour_mask(pixels: np.ndarray, colour, tolerance: int = 2) -> np.ndarray:
    return (np.abs(pixels.astype(np.int16) - np.array(colour, dtype=np.int16)) <= tolerance).all(-1)


def edge(r: Rect, ring: int, side: str) -> Rect:
    # The ring-th line inside r on one side, without the corners where edges meet.
    return {"top": Rect(r.left + 3, r.top + ring, r.right - 3, r.top + ring + 1),
            "left": Rect(r.left + ring, r.top + 3, r.left + ring + 1, r.bottom - 3),
            "bottom": Rect(r.left + 3, r.bottom - 1 - ring, r.right - 3, r.bottom - ring),
            "right": Rect(r.right - 1 - ring, r.top + 3, r.right - ring, r.bottom - 3)}[side]


class MainWindowAtStartTest(harness.ProgramTestCase):
    # One look at the window as it first appears, the pointer far away.
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.metrics = cls.probe.screen()
        cls.colours = {k: tuple(v) for k, v in cls.metrics["colors"].items()}
        cls.desktop.wait_stable(cls.window.rect, timeout=10)
        cls.pixels = np.asarray(cls.desktop.screenshot(
            save_as=harness.session().log_dir / "main-at-start.png"))

    def client_pixels(self, r: Rect) -> np.ndarray:
        s = r.offset(self.window.client.left, self.window.client.top)
        return self.pixels[s.top:s.bottom, s.left:s.right]

    def assert_colour(self, pixels: np.ndarray, colour, what: str, tolerance: int = 3) -> None:
        bad = ~colour_mask(pixels, colour, tolerance)
        self.assertFalse(bad.any(), f"{what}: {int(bad.sum())} of {bad.size} pixels are not "
                                    f"{colour}, e.g. {tuple(pixels[bad][0]) if bad.any() else ''}")

    def test_caption_frame_and_client_size(self) -> None:
        w = self.window
        self.assertEqual(w.caption, "Lumeno ControlPanel")
        self.assertEqual((w.client.width, w.client.height), (CLIENT_W, CLIENT_H))
        self.assertTrue(w.visible and not w.iconic and not w.zoomed)
        self.assertTrue(w.has_style(harness.WS_CAPTION | harness.WS_SYSMENU | harness.WS_MINIMIZEBOX),
                        f"style {w.style:#x}")
        self.assertFalse(w.style & (harness.WS_THICKFRAME | harness.WS_MAXIMIZEBOX),
                         "the window can be resized or maximised")
        # Shown in the task bar: an unowned window that is no tool window.
        self.assertEqual(w.owner, 0)
        self.assertFalse(w.exstyle & harness.WS_EX_TOOLWINDOW)

    def test_scene_picture_is_shown_at_natural_size(self) -> None:
        reference = Image.open(ART / "scene.jpg")
        self.assertEqual(reference.size, (SCENE.width, SCENE.height))
        shown = self.client_pixels(SCENE).astype(np.int16)
        diff = np.abs(shown - np.asarray(reference.convert("RGB"), dtype=np.int16)).reshape(-1, 3)
        mean, p99 = diff.mean(axis=0), np.percentile(diff, 99, axis=0)
        # JPEG decoders round differently; a shift or scaling by one pixel does not pass.
        self.assertTrue((mean < 3).all() and (p99 < 24).all(),
                        f"scene differs from art/scene.jpg: mean {mean.round(2)}, 99th {p99}")

    def test_picture_and_strip_are_sunken_and_all_else_is_plain(self) -> None:
        c = self.colours
        shadow, light = c["button_shadow"], c["button_highlight"]
        for what, rect, ring, lines in (
                ("picture", PICTURE_OUTER, 0, {"top": shadow, "left": shadow, "bottom": light, "right": light}),
                ("picture", PICTURE_OUTER, 1, {"top": c["dark_shadow"], "left": c["dark_shadow"],
                                               "bottom": c["light"], "right": c["light"]}),
                ("strip", STRIP, 0, {"top": shadow, "left": shadow, "bottom": light})):
            for side, colour in lines.items():
                self.assert_colour(self.client_pixels(edge(rect, ring, side)), colour,
                                   f"{what} border, ring {ring}, {side}")
        # Around picture and strip, and inside the strip (no "...", caption or icon): button face.
        plain = np.ones((CLIENT_H, CLIENT_W), bool)
        for r in (PICTURE_OUTER, STRIP):
            plain[r.top:r.bottom, r.left:r.right] = False
        plain[STRIP.top + 2:STRIP.bottom - 2, STRIP.left + 2:STRIP.right - 2] = True
        client = self.client_pixels(Rect(0, 0, CLIENT_W, CLIENT_H))
        self.assert_colour(client[plain], c["button_face"], "window background and strip", 1)

    def test_menu_bar_shows_two_captions(self) -> None:
        w = self.window
        self.assertTrue(w.has_menu, "the window has no menu bar")
        top = w.rect.top + self.metrics["border_width"] + self.metrics["caption_height"]
        self.assertGreaterEqual(w.client.top - top, self.metrics["menu_height"] - 1,
                                "no room for a menu bar between caption and client area")
        bar = self.pixels[top:w.client.top, w.client.left:w.client.right]
        cols = np.flatnonzero(colour_mask(bar, self.colours["menu_text"], tolerance=100).any(axis=0))
        # Runs of text columns, split where the next one is more than 6 on: "File" and "Help".
        breaks = np.flatnonzero(np.diff(cols) > 6)
        runs = list(zip(cols[np.r_[0, breaks + 1]], cols[np.r_[breaks, -1]])) if len(cols) else []
        self.assertEqual(len(runs), 2, f"menu bar text runs at columns {runs}")
        self.assertLess(runs[0][0], 15)
        for start, end in runs:
            self.assertTrue(10 <= end - start + 1 <= 40, f"caption {start}-{end} is no word")

    def test_title_bar_shows_the_16_pixel_program_icon(self) -> None:
        w = self.window
        icon = harness.icon_image((ART / "program16.dib").read_bytes())
        bar_bottom = w.rect.top + self.metrics["border_width"] + self.metrics["caption_height"]
        x, y, worst = harness.find_image(self.pixels[w.rect.top:bar_bottom, w.rect.left:w.rect.left + 40],
                                         icon)
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

    def test_cannot_be_enlarged(self) -> None:
        size = (self.window.rect.width, self.window.rect.height)
        d = self.desktop
        for what, attempt in (
                ("double-clicking the caption", lambda r, bar: d.double_click(r.center[0], r.top + bar // 4)),
                ("dragging the right edge",
                 lambda r, bar: d.drag(r.right - 1, r.center[1], r.right + 120, r.center[1])),
                ("dragging the bottom-right corner",
                 lambda r, bar: d.drag(r.right - 1, r.bottom - 1, r.right + 120, r.bottom + 120))):
            w = self.main_window()
            attempt(w.rect, w.client.top - w.rect.top)
            time.sleep(0.5)  # proves an absence: a resize would have happened by now
            now = self.main_window()
            self.assertFalse(now.zoomed, f"{what} maximised the window")
            self.assertEqual((now.client.width, now.client.height, now.rect.width, now.rect.height),
                             (CLIENT_W, CLIENT_H, *size), f"{what} changed the size")
        self.assertTrue(self.program.alive())


class InProcessTest(unittest.TestCase):
    # Read inside the program's own process: another process cannot read menus under Wine.

    def test_menu_captions_in_order(self) -> None:
        if not harness.INPROC.is_file():
            self.skipTest(f"in-process tool not built: {harness.INPROC}")
        out = harness.session().wine_run([str(harness.INPROC), "menus"], timeout=60)
        lines = [line.strip() for line in out.stdout.decode(errors="replace").splitlines()]
        self.assertEqual([line for line in lines if line],
                         ["&File", "E&xit", "&Help", "&Quick help", "-", "&About"])


# Every way a program can have a thread made for it, and one call the program surely makes, to
# show that the relay reaches its calls at all.
THREAD_STARTS = [f"{dll}.{fn}" for dll in ("kernel32", "kernelbase") for fn in (
    "CreateThread", "CreateRemoteThread", "CreateRemoteThreadEx", "QueueUserWorkItem",
    "CreateTimerQueueTimer", "RegisterWaitForSingleObject", "TrySubmitThreadpoolCallback",
    "CreateThreadpoolWork", "CreateThreadpoolTimer", "CreateThreadpoolWait", "BindIoCompletionCallback")]
THREAD_STARTS += ["ntdll.RtlCreateUserThread", "ntdll.NtCreateThreadEx", "ntdll.NtCreateThread",
                  "ntdll.RtlQueueWorkItem", "msvcrt._beginthread", "msvcrt._beginthreadex",
                  "ucrtbase._beginthread", "ucrtbase._beginthreadex"]
CONTROL_CALLS = ["user32.CreateWindowExA", "user32.CreateWindowExW"]
RELAY_KEY = "HKCU\\Software\\Wine\\Debug"


class OneThreadTest(unittest.TestCase):
    # Wine's relay trace of the thread-making calls, during a start and a use of every part
    # that runs by itself (hover, the About window's three timers and the chase, quick help):
    # none of them may come from the program's own code.

    def test_the_program_never_creates_a_thread(self) -> None:
        sess = harness.session()
        desktop, probe = harness.Desktop(sess), sess.probe()
        if probe.windows():
            sess.kill_all_wine()
        sess.wine_run(["reg", "add", RELAY_KEY, "/v", "RelayInclude", "/t", "REG_SZ", "/d",
                       ";".join(THREAD_STARTS + CONTROL_CALLS), "/f"], timeout=60)
        self.addCleanup(sess.wine_run, ["reg", "delete", RELAY_KEY, "/v", "RelayInclude", "/f"],
                        timeout=60, check=False)
        program = harness.Program(sess=sess, trace="+pid,+loaddll,+relay").start()
        self.addCleanup(program.stop)
        w = program.wait_main_window()
        desktop.glide([w.client_to_screen(40 + 10 * i, 100 + 8 * i) for i in range(30)])
        desktop.click(w.rect.left + 200, w.rect.top + 8)
        probe.wait_foreground(harness.MAIN_CAPTION, 10, program.win_pid)
        desktop.key("alt+h", "a")
        about = program.wait_window("About", 20)
        logo = about.client_to_screen(47, 60)
        desktop.move(*logo)
        desktop.key_down("ctrl")
        try:
            desktop.press()
            desktop.glide([(logo[0] + 4 * i, logo[1] + 3 * i) for i in range(10)], step_delay=0.05)
            desktop.release()
        finally:
            desktop.key_up("ctrl")
        time.sleep(5.5)  # past the disclaimer's five-second tick, with the scroll running
        probe.close(about.hwnd)
        probe.wait_gone("About", 10, program.win_pid)
        desktop.key("alt+h", "q")
        box = probe.wait_window("Quick help", 10, program.win_pid)
        probe.close(box.hwnd)
        probe.wait_gone("Quick help", 10, program.win_pid)

        trace = program.trace_text()
        pid = f"{program.win_pid:04x}"
        loaded = re.search(r"^" + pid + r":\w+:trace:loaddll:\S+ Loaded L\"[^\"]*" + re.escape(harness.EXE.name)
                           + r"\" at ([0-9A-Fa-f]+)", trace, re.M)
        self.assertIsNotNone(loaded, "the trace does not say where the program was loaded")
        base = int(loaded.group(1), 16)
        end = base + pefile.PE(str(harness.EXE), fast_load=True).OPTIONAL_HEADER.SizeOfImage
        calls = re.findall(r"^" + pid + r":\w+:Call (\w+\.\w+)\(.*\) ret=([0-9a-f]+)$", trace, re.M)
        own = [name for name, ret in calls if base <= int(ret, 16) < end]
        controls = {c.lower() for c in CONTROL_CALLS}
        self.assertTrue(any(n.lower() in controls for n in own), "the relay did not reach the program")
        self.assertEqual([n for n in own if n.lower() not in controls], [], "the program made a thread")


if __name__ == "__main__":
    harness.main()
