# The main window as Windows shows it right after start: caption, frame, menu bar and title-bar
# icon, the client area pixel for pixel as the start picture in tests/e2e/data (taken before
# keyboard support: a mouse user's first picture did not change) and its scene as the art it
# embeds; the menus as read in the program's own process; and that all the program does runs on
# its one thread.

import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import numpy as np  # noqa: E402
import pefile  # noqa: E402
from PIL import Image  # noqa: E402

import scene  # noqa: E402

ART = harness.REPO_ROOT / "art"
# Every way a program can have a thread made for it, and one call the program surely makes, to
# show that the relay reaches its calls at all.
THREAD_STARTS = [f"{dll}.{fn}" for dll in ("kernel32", "kernelbase") for fn in (
    "CreateThread", "CreateRemoteThread", "CreateRemoteThreadEx", "QueueUserWorkItem", "CreateTimerQueueTimer",
    "RegisterWaitForSingleObject", "TrySubmitThreadpoolCallback", "CreateThreadpoolWork", "CreateThreadpoolTimer",
    "CreateThreadpoolWait", "BindIoCompletionCallback")] + [
    "ntdll.RtlCreateUserThread", "ntdll.NtCreateThreadEx", "ntdll.NtCreateThread", "ntdll.RtlQueueWorkItem",
    "msvcrt._beginthread", "msvcrt._beginthreadex", "ucrtbase._beginthread", "ucrtbase._beginthreadex"]
CONTROL_CALLS = ["user32.CreateWindowExA", "user32.CreateWindowExW"]
RELAY_KEY = "HKCU\\Software\\Wine\\Debug"


class MainWindowTest(harness.ProgramTestCase):
    # One program under Wine's relay trace of the thread-making calls, photographed before
    # anything touches it.
    trace = "+pid,+loaddll,+relay"

    @classmethod
    def setUpClass(cls) -> None:
        sess = harness.session()
        # In the fresh session, before the program starts: the companion takes the first window
        # of the caption.
        cls.menus = sess.wine_run([str(harness.INPROC), "menus"], timeout=60).stdout.decode(errors="replace")
        sess.wine_run(["reg", "add", RELAY_KEY, "/v", "RelayInclude", "/t", "REG_SZ", "/d",
                       ";".join(THREAD_STARTS + CONTROL_CALLS), "/f"], timeout=60)
        cls.addClassCleanup(sess.wine_run, ["reg", "delete", RELAY_KEY, "/v", "RelayInclude", "/f"],
                            timeout=60, check=False)
        super().setUpClass()
        cls.metrics = cls.probe.screen()
        cls.desktop.wait_stable(cls.window.rect, timeout=10)
        cls.pixels = np.asarray(cls.desktop.screenshot(save_as=sess.log_dir / "main-at-start.png"), np.int16)
        w = cls.window
        cls.client = cls.pixels[w.client.top:w.client.bottom, w.client.left:w.client.right]
        cls.caption_bottom = w.rect.top + cls.metrics["border_width"] + cls.metrics["caption_height"]

    def test_caption_frame_and_the_16_pixel_program_icon_in_the_title_bar(self) -> None:
        w = self.window
        self.assertEqual(w.caption, "Lumeno ControlPanel")
        self.assertEqual((w.client.width, w.client.height), scene.MAIN_CLIENT)
        self.assertTrue(w.visible and not w.iconic and not w.zoomed)
        self.assertTrue(w.has_style(harness.WS_CAPTION | harness.WS_SYSMENU | harness.WS_MINIMIZEBOX), f"{w.style:#x}")
        self.assertFalse(w.style & (harness.WS_THICKFRAME | harness.WS_MAXIMIZEBOX), "resizable or maximisable")
        # In the task bar: unowned and no tool window. The frame right of the client area is as
        # wide as the left one: no room where the icon pictures lie.
        self.assertEqual(w.owner, 0)
        self.assertFalse(w.exstyle & harness.WS_EX_TOOLWINDOW)
        self.assertEqual(w.rect.right - w.client.right, w.client.left - w.rect.left)
        icon = harness.icon_image((ART / "program16.dib").read_bytes())
        bar = self.pixels[w.rect.top:self.caption_bottom, w.rect.left:w.rect.left + 40]
        x, y, worst = harness.find_image(bar, icon)
        # Drawn as is: a scaled-down 32-pixel image would not match.
        self.assertLessEqual(worst, 8, f"no 16x16 program icon in the title bar (best at {x},{y} off by {worst})")

    def test_client_area_is_the_start_picture_and_its_scene_the_art(self) -> None:
        before = np.asarray(Image.open(scene.START_PICTURE).convert("RGB"), np.int16)
        self.assertEqual(self.client.shape, before.shape)
        differ = np.argwhere(np.abs(self.client - before).max(-1) > 0)
        self.assertEqual(len(differ), 0, f"{len(differ)} pixels differ, first at (y, x) {differ[:5].tolist()}")
        s = scene.SCENE
        art = np.asarray(Image.open(ART / "scene.jpg").convert("RGB"), np.int16)
        diff = np.abs(self.client[s.top:s.bottom, s.left:s.right] - art).reshape(-1, 3)
        mean, p99 = diff.mean(0), np.percentile(diff, 99, axis=0)
        # JPEG decoders round differently; a shift or scaling by one pixel does not pass.
        self.assertTrue((mean < 3).all() and (p99 < 24).all(), f"not art/scene.jpg: mean {mean}, 99th {p99}")

    def test_menu_bar_shows_two_captions_and_the_menus_hold_their_items(self) -> None:
        w = self.window
        self.assertTrue(w.has_menu)
        self.assertGreaterEqual(w.client.top - self.caption_bottom, self.metrics["menu_height"] - 1)
        bar = self.pixels[self.caption_bottom:w.client.top, w.client.left:w.client.right]
        text = np.array(self.metrics["colors"]["menu_text"], np.int16)
        cols = np.flatnonzero((np.abs(bar - text) <= 100).all(-1).any(0))
        # Runs of text columns, split where the next one is more than 6 on: "File" and "Help".
        gap = np.diff(cols) > 6
        runs = list(zip(cols[np.r_[True, gap]], cols[np.r_[gap, True]] + 1)) if len(cols) else []
        self.assertTrue(len(runs) == 2 and runs[0][0] < 15 and all(10 <= b - a <= 40 for a, b in runs), runs)
        # Read in the program's own process: another process cannot read menus under Wine.
        self.assertEqual([line.strip() for line in self.menus.splitlines() if line.strip()],
                         ["&File", "E&xit", "&Help", "&Quick help", "-", "&About"])

    def test_the_program_never_creates_a_thread(self) -> None:
        # Every part that runs by itself: hover, the About window's three timers and the chase,
        # quick help. None of the thread-making calls may come from the program's own code.
        d, w, probe, pid = self.desktop, self.window, self.probe, self.program.win_pid
        d.glide([w.client_to_screen(40 + 10 * i, 100 + 8 * i) for i in range(30)])
        self.to_front()
        d.key("alt+h", "a")
        about = self.program.wait_window("About", 20)
        logo = about.client_to_screen(47, 60)
        d.move(*logo)
        d.key_down("ctrl")
        try:
            d.press()
            d.glide([(logo[0] + 4 * i, logo[1] + 3 * i) for i in range(10)], step_delay=0.05)
            d.release()
        finally:
            d.key_up("ctrl")
        time.sleep(5.5)  # past the disclaimer's five-second tick, with the scroll running
        probe.close(about.hwnd)
        probe.wait_gone("About", 10, pid)
        d.key("alt+h", "q")
        probe.close(probe.wait_window("Quick help", 10, pid).hwnd)
        probe.wait_gone("Quick help", 10, pid)

        trace = self.program.trace_text()
        own = f"{pid:04x}"
        loaded = re.search(rf"^{own}:\w+:trace:loaddll:\S+ Loaded L\"[^\"]*{re.escape(harness.EXE.name)}\" at "
                           r"([0-9A-Fa-f]+)", trace, re.M)
        self.assertIsNotNone(loaded, "the trace does not say where the program was loaded")
        base = int(loaded.group(1), 16)
        end = base + pefile.PE(str(harness.EXE), fast_load=True).OPTIONAL_HEADER.SizeOfImage
        calls = re.findall(rf"^{own}:\w+:Call (\w+\.\w+)\(.*\) ret=([0-9a-f]+)$", trace, re.M)
        made = [name.lower() for name, ret in calls if base <= int(ret, 16) < end]
        controls = {c.lower() for c in CONTROL_CALLS}
        self.assertTrue(controls & set(made), "the relay did not reach the program")
        self.assertEqual([n for n in made if n not in controls], [], "the program made a thread")


if __name__ == "__main__":
    harness.main()
