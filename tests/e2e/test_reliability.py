# The real program under abuse: hundreds of About windows, a storm of pointer moves, rapid
# clicks, and a system without rundll32. After each, the program is alive, hovering still
# updates the strip, and its memory is back where it started.
#
# Memory is the resident size of the program's Wine process. GDI and USER objects cannot be
# counted from outside under Wine (GetGuiResources is a stub there), so lumeno_inproc runs the
# same windows over the same backend, drives the same cycles with the messages input makes,
# and counts its own handles before and after.
#
# Every classic .cpl file is put into the system directory for these runs, so each click
# starts its classic line (Wine ships few of them, and the Control Panel that would start
# instead opens a window), and the started applets get their .cpl files disabled through
# WINEDLLOVERRIDES, which they inherit: each rundll32 then really starts and ends at once,
# without a window that would take the next clicks.

import json
import os
import re
import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402

import scene as spots  # noqa: E402
from test_launching import CLASSIC_FILES, COMMANDS, SystemFiles  # noqa: E402

HOTSPOTS, TARGETS, BLANK = spots.HOTSPOTS, spots.POINTS, spots.BARE_POINT
NO_APPLETS = ",".join(CLASSIC_FILES) + "=d"


def add_classic_files(files: SystemFiles) -> SystemFiles:
    for name in CLASSIC_FILES:
        if not (files.dir / name).exists():
            files.add(name)
    return files


def rss_kb(pid: int) -> int:
    status = Path(f"/proc/{pid}/status").read_text()
    return int(re.search(r"VmRSS:\s+(\d+) kB", status).group(1))


def xdo(*args: object, check: bool = False) -> str:
    return harness.run(["xdotool", *map(str, args)], timeout=60, check=check,
                       env=harness.session().x_env()).stdout.decode()


def with_overrides(sess: harness.Session, extra: str, start):
    # Runs start() with extra DLL overrides in the environment Wine processes get.
    saved = sess.env["WINEDLLOVERRIDES"]
    sess.env["WINEDLLOVERRIDES"] = saved + ";" + extra
    try:
        return start()
    finally:
        sess.env["WINEDLLOVERRIDES"] = saved


class Checks:
    def strip_ink(self, w: harness.Window) -> int:
        # Dark pixels where lblInfo draws its text.
        pixels = self.desktop.grab_array(w.client_rect(29, 346, 400, 16)).astype(int)
        return int((pixels.sum(-1) < 200).sum())

    def assert_responsive(self, program: harness.Program, w: harness.Window) -> None:
        self.assertTrue(program.alive(), f"the program ended (code {program.exit_code()})")
        x, y = w.client_to_screen(*TARGETS[-1])  # the map
        self.desktop.glide([(x, y), (x + 2, y + 1)])
        harness.wait_until(lambda: self.strip_ink(w) > 20, 10, 0.2, "a title in the strip")
        self.desktop.glide([w.client_to_screen(*BLANK), w.client_to_screen(BLANK[0] + 2, BLANK[1])])
        harness.wait_until(lambda: self.strip_ink(w) == 0, 10, 0.2, "the strip to clear")

    def assert_memory_back(self, pid: int, before_kb: int, what: str) -> None:
        after_kb = rss_kb(pid)
        print(f"\n  {what}: resident {before_kb} kB -> {after_kb} kB", file=sys.stderr)
        self.assertLess(after_kb - before_kb, 2048, f"{what}: memory grew by "
                        f"{after_kb - before_kb} kB")


class RealProgramTest(Checks, harness.ProgramTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.addClassCleanup(add_classic_files(SystemFiles(harness.session().prefix)).remove)
        with_overrides(harness.session(), NO_APPLETS, super().setUpClass)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.program.stop()
        harness.session().kill_all_wine()  # and the applets it started, at once

    def about_cycle(self, probe: harness.Probe) -> None:
        # Help > About by keys once the main window has the keyboard, then Alt+F4 once About
        # has it. Windows says who has it: X's focus stays on Wine's desktop window.
        pid = self.program.win_pid
        probe.wait_foreground(harness.MAIN_CAPTION, 10, pid)
        xdo("key", "--delay", 20, "alt+h", "a", check=True)
        probe.wait_foreground("About", 10, pid)
        xdo("key", "alt+F4", check=True)
        self.assertTrue(probe.wait_gone("About", 10, pid), "Alt+F4 left the About window open")

    def test_about_opened_and_closed_300_times(self) -> None:
        self.to_front()
        with harness.ProbeServer(harness.session()) as probe:
            for _ in range(3):
                self.about_cycle(probe)
            before = rss_kb(self.program.pid)
            started = time.monotonic()
            for _ in range(300):
                self.about_cycle(probe)
            print(f"\n  300 About cycles: {time.monotonic() - started:.1f} s", file=sys.stderr)
        self.assertEqual([v.caption for v in self.program.windows()], [harness.MAIN_CAPTION])
        self.assert_responsive(self.program, self.window)
        self.assert_memory_back(self.program.pid, before, "About cycles")

    def test_20000_pointer_moves(self) -> None:
        w = self.window
        # A raster over the picture and the strip, 1000 moves a call.
        points = [w.client_to_screen((i * 7) % 429 + 3, (i * 13) % 361 + 4) for i in range(20000)]
        chunks = [points[i:i + 1000] for i in range(0, len(points), 1000)]
        xdo(*[a for x, y in chunks[0] for a in ("mousemove", x, y)], check=True)  # warm-up
        self.assert_responsive(self.program, w)
        before = rss_kb(self.program.pid)
        started = time.monotonic()
        for chunk in chunks:
            xdo(*[a for x, y in chunk for a in ("mousemove", x, y)], check=True)
        print(f"\n  20000 moves: {time.monotonic() - started:.1f} s", file=sys.stderr)
        self.assert_responsive(self.program, w)
        self.assert_memory_back(self.program.pid, before, "pointer moves")

    def test_50_rapid_clicks_start_50_applets(self) -> None:
        w = self.window
        done = len(self.program.process_starts())
        before = rss_kb(self.program.pid)
        order = [i % len(HOTSPOTS) for i in range(50)]
        started = time.monotonic()
        xdo(*[a for i in order for a in ("mousemove", *w.client_to_screen(*TARGETS[i]),
                                          "click", 1)], check=True)
        self.program.wait_process_starts(done + 50, timeout=60)
        print(f"\n  50 clicks to 50 starts: {time.monotonic() - started:.1f} s", file=sys.stderr)
        time.sleep(2)  # proves an absence: no start beyond the 50 comes late
        starts = self.program.process_starts()[done:]
        self.assertEqual([s.cmdline for s in starts], [COMMANDS[HOTSPOTS[i].applet] for i in order])
        self.assertTrue(all(s.started for s in starts))
        self.assertEqual([v.caption for v in self.program.windows()], [harness.MAIN_CAPTION])
        self.assert_responsive(self.program, w)
        self.assert_memory_back(self.program.pid, before, "clicks")


def copy_prefix(source: Path, target: Path) -> None:
    # The system DLLs (most of the size) are shared as hard links, which nothing writes; copied
    # where the two folders cannot share them.
    system = [source / "drive_c/windows" / d for d in ("system32", "syswow64")]

    def link_or_copy(src: str, dst: str) -> None:
        if any(Path(src).is_relative_to(d) for d in system):
            try:
                os.link(src, dst)
                return
            except OSError:
                pass
        shutil.copy2(src, dst)

    shutil.copytree(source, target, symlinks=True, copy_function=link_or_copy)


class WithoutRundll32Test(Checks, unittest.TestCase):
    # A copy of the prefix whose system32 lacks rundll32.exe: clicks start and show nothing.

    def test_clicks_start_nothing_and_the_program_keeps_working(self) -> None:
        sess = harness.session()
        sess.kill_all_wine()
        self.desktop = harness.Desktop(sess)
        # Beside the prefix, so the links stay on one filesystem; TMPDIR may be another. The
        # session's lock on the prefix covers this folder too, and one left by a killed run goes.
        scratch = sess.prefix.with_name(sess.prefix.name + "-no-rundll32")
        saved = sess.env["WINEPREFIX"]
        program = None
        try:
            shutil.rmtree(scratch, ignore_errors=True)
            copy_prefix(sess.prefix, scratch)
            (scratch / "drive_c/windows/system32/rundll32.exe").unlink()
            sess.env["WINEPREFIX"] = str(scratch)
            add_classic_files(SystemFiles(scratch))  # each click tries the runner; the copy goes after
            harness.run([sess.wineserver, "-p60"], timeout=20, env=sess.env, check=False)
            program = harness.Program(sess=sess).start()
            w = program.wait_main_window()
            for i in list(range(len(HOTSPOTS))) * 2:
                xdo("mousemove", *w.client_to_screen(*TARGETS[i]), "click", 1, check=True)
            program.wait_process_starts(2 * len(HOTSPOTS), timeout=30)
            time.sleep(2)  # proves an absence: no start, window or message comes late
            starts = program.process_starts()
            self.assertEqual(len(starts), 2 * len(HOTSPOTS))
            self.assertFalse([s.cmdline for s in starts if s.started], "something started")
            self.assertEqual([(v.caption, v.pid) for v in sess.probe().windows()],
                             [(harness.MAIN_CAPTION, w.pid)], "a window or message showed")
            self.assert_responsive(program, w)
        finally:
            if program:
                program.stop()
            if sess.env["WINEPREFIX"] == str(scratch):
                harness.run([sess.wineserver, "-k"], timeout=20, env=sess.env, check=False)
                harness.run([sess.wineserver, "-w"], timeout=20, env=sess.env, check=False)
            sess.env["WINEPREFIX"] = saved
            shutil.rmtree(scratch, ignore_errors=True)
            sess.kill_all_wine()


class ObjectCountTest(unittest.TestCase):
    # The same windows in lumeno_inproc: its own GDI, USER and kernel objects counted.

    def test_no_objects_leak_over_the_same_cycles(self) -> None:
        if not harness.INPROC.is_file():
            self.skipTest(f"in-process tool not built: {harness.INPROC}")
        sess = harness.session()
        sess.kill_all_wine()
        # Wine's own start (its services, the desktop) is over before the counted run begins.
        sess.probe().windows()
        self.addCleanup(add_classic_files(SystemFiles(sess.prefix)).remove)
        program = with_overrides(sess, NO_APPLETS, harness.Program(
            harness.INPROC, args=["soak", "300", "20000", "50"], trace="+pid,+process", sess=sess).start)
        try:
            code = program.wait_exit(300)
        finally:
            program.stop()
            sess.kill_all_wine()
        trace = program.trace_text()
        lines = [json.loads(line) for line in trace.splitlines() if line.startswith('{"phase"')]
        self.assertEqual(code, 0, trace[-2000:])
        self.assertEqual([d.pop("phase") for d in lines], ["before", "middle", "after"])
        before, middle, after = lines
        print(f"\n  in-process before {before}\n  in-process middle {middle}"
              f"\n  in-process after  {after}", file=sys.stderr)
        # The walk sees what is there: stock objects, the main window with its menus.
        self.assertGreater(before["gdi"], 20)
        self.assertGreaterEqual((before["windows"], before["menus"]), (2, 3))
        # A leak grows in both halves of the run. Wine itself has been seen to take a few kernel
        # handles once, mid-run, for no action of ours; that shows in one half only, and the
        # breakdown by type says what it was.
        for key in ("gdi", "bitmaps", "dcs", "fonts", "brushes", "pens", "regions", "windows",
                    "menus", "icons", "handles"):
            grown = (middle[key] - before[key], after[key] - middle[key])
            self.assertIn(0, grown, f"{key}: {before[key]} -> {middle[key]} -> {after[key]}; kernel handles "
                          f"by type {before['handle_types']} -> {after['handle_types']}")
        self.assertLess(after["working_set"] - before["working_set"], 2 << 20)
        self.assertEqual(len(program.process_starts()), 50)


if __name__ == "__main__":
    harness.main()
