# The real program under abuse: About windows opened and closed over and over, a storm of
# pointer moves, rapid clicks, and a system without rundll32. After each, the program is alive,
# hovering still updates the strip, and its memory is back where it started. A leak grows with
# every round, so tens of rounds show it.
#
# GDI and USER objects cannot be counted from outside under Wine (GetGuiResources is a stub
# there), so lumeno_inproc runs the same windows over the same backend, drives the same cycles
# with the messages input makes, and counts its own handles before, between and after.
#
# Every classic .cpl file is put into the system directory for these runs, so each click
# starts its classic line, and the started applets get their .cpl files disabled through
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
from test_launching import CLASSIC_FILES, COMMANDS, SystemFiles, clicks, xdo  # noqa: E402

HOTSPOTS, TARGETS, BLANK = spots.HOTSPOTS, spots.POINTS, spots.BARE_POINT
ABOUT_CYCLES, MOVES, CLICKS = 20, 2000, 2 * len(HOTSPOTS)


def plant_classic_files(prefix: Path) -> SystemFiles:
    # Every classic .cpl file in the system directory, disabled for Wine processes started from now.
    sess, no_applets = harness.session(), ",".join(CLASSIC_FILES) + "=d"
    if no_applets not in sess.env["WINEDLLOVERRIDES"]:
        sess.env["WINEDLLOVERRIDES"] += ";" + no_applets
    files = SystemFiles(prefix)
    files.add(*[n for n in CLASSIC_FILES if not (files.dir / n).exists()])
    return files


def rss_kb(pid: int) -> int:
    return int(re.search(r"VmRSS:\s+(\d+) kB", Path(f"/proc/{pid}/status").read_text()).group(1))


class Checks:
    def assert_responsive(self, program: harness.Program, w: harness.Window) -> None:
        self.assertTrue(program.alive(), f"the program ended (code {program.exit_code()})")
        # Hovering the map shows a title in the strip (dark pixels where lblInfo draws), bare picture none.
        strip = lambda: self.desktop.grab_array(w.client_rect(29, 346, 400, 16)).astype(int)  # noqa: E731
        ink = lambda: int((strip().sum(-1) < 200).sum())  # noqa: E731
        for point, shows in ((TARGETS[-1], True), (BLANK, False)):
            x, y = w.client_to_screen(*point)
            self.desktop.glide([(x, y), (x + 2, y + 1)])
            harness.wait_until(lambda: (ink() > 20) == shows, 10, 0.2, f"the strip, title shown {shows}")


class RealProgramTest(Checks, harness.ProgramTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.addClassCleanup(plant_classic_files(harness.session().prefix).remove)
        super().setUpClass()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.program.stop()
        harness.session().kill_all_wine()  # and the applets it started, at once

    def about_cycles(self, n: int) -> None:
        # Help > About by keys once the main window has the keyboard, then Alt+F4 once About
        # has it. Windows says who has it: X's focus stays on Wine's desktop window.
        pid = self.program.win_pid
        with harness.ProbeServer(harness.session()) as probe:
            for _ in range(n):
                probe.wait_foreground(harness.MAIN_CAPTION, 10, pid)
                xdo("key", "--delay", 20, "alt+h", "a")
                probe.wait_foreground("About", 10, pid)
                xdo("key", "alt+F4")
                self.assertTrue(probe.wait_gone("About", 10, pid), "Alt+F4 left the About window open")

    def pointer_moves(self, n: int) -> None:
        # A raster over the picture and the strip, in calls of a thousand moves.
        points = [self.window.client_to_screen((i * 7) % 429 + 3, (i * 13) % 361 + 4) for i in range(n)]
        for i in range(0, n, 1000):
            xdo(*[a for x, y in points[i:i + 1000] for a in ("mousemove", x, y)])

    def rapid_clicks(self, n: int) -> None:
        done, order = len(self.program.process_starts()), [i % len(HOTSPOTS) for i in range(n)]
        xdo(*clicks(self.window, [TARGETS[i] for i in order]))
        self.program.wait_process_starts(done + n, timeout=60)
        time.sleep(1)  # proves an absence: no start beyond one a click comes late
        # Each click asks for its start once. Whether Wine then maps the new process is Wine's
        # affair: now and then it fails to ("failed to map the shared user data").
        starts = self.program.process_starts()[done:]
        self.assertEqual([s.cmdline for s in starts], [COMMANDS[HOTSPOTS[i].applet] for i in order])

    def test_abuse_leaves_the_program_working_and_its_memory_in_place(self) -> None:
        self.to_front()
        # Each after a warm-up round: what stays cached for the program's life is made first.
        for what, act, warm_up, n in (("About cycles", self.about_cycles, 3, ABOUT_CYCLES),
                                      ("pointer moves", self.pointer_moves, 500, MOVES),
                                      ("clicks", self.rapid_clicks, 1, CLICKS)):
            with self.subTest(what):
                act(warm_up)
                before = rss_kb(self.program.pid)
                act(n)
                self.assertEqual([v.caption for v in self.program.windows()], [harness.MAIN_CAPTION])
                self.assert_responsive(self.program, self.window)
                grown = rss_kb(self.program.pid) - before
                self.assertLess(grown, 2048, f"{what}: resident memory grew by {grown} kB")


class WithoutRundll32Test(Checks, unittest.TestCase):
    # A copy of the prefix whose system32 lacks rundll32.exe: clicks start and show nothing.

    def test_clicks_start_nothing_and_the_program_keeps_working(self) -> None:
        sess = harness.session()
        sess.kill_all_wine()
        self.desktop = harness.Desktop(sess)
        # Beside the prefix, so the links stay on one filesystem; TMPDIR may be another. The
        # session's lock on the prefix covers this folder too, and one left by a killed run goes.
        scratch = sess.prefix.with_name(sess.prefix.name + "-no-rundll32")
        shutil.rmtree(scratch, ignore_errors=True)
        system = [sess.prefix / "drive_c/windows" / d for d in ("system32", "syswow64")]

        def link_or_copy(src: str, dst: str) -> None:
            # The system DLLs, most of the size, as hard links: nothing writes them.
            (os.link if any(Path(src).is_relative_to(d) for d in system) else shutil.copy2)(src, dst)

        shutil.copytree(sess.prefix, scratch, symlinks=True, copy_function=link_or_copy)
        (scratch / "drive_c/windows/system32/rundll32.exe").unlink()
        plant_classic_files(scratch)  # each click tries the runner; the copy goes after
        # Cleanups run last first: the program, the copy's server, the session's prefix back.
        self.addCleanup(sess.kill_all_wine)
        self.addCleanup(shutil.rmtree, scratch, True)
        self.addCleanup(sess.env.__setitem__, "WINEPREFIX", sess.env["WINEPREFIX"])
        self.addCleanup(lambda: [harness.run([sess.wineserver, flag], timeout=20, env=sess.env, check=False)
                                 for flag in ("-k", "-w")])
        sess.env["WINEPREFIX"] = str(scratch)
        harness.run([sess.wineserver, "-p60"], timeout=20, env=sess.env, check=False)
        program = harness.Program(sess=sess).start()
        self.addCleanup(program.stop)
        w = program.wait_main_window()
        xdo(*clicks(w, TARGETS))
        program.wait_process_starts(len(HOTSPOTS), timeout=30)
        time.sleep(1)  # proves an absence: no start, window or message comes late
        starts = program.process_starts()
        self.assertEqual((len(starts), [s.cmdline for s in starts if s.started]), (len(HOTSPOTS), []))
        self.assertEqual([(v.caption, v.pid) for v in sess.probe().windows()],
                         [(harness.MAIN_CAPTION, w.pid)], "a window or message showed")
        self.assert_responsive(program, w)


class ObjectCountTest(unittest.TestCase):
    # The same windows in lumeno_inproc: its own GDI, USER and kernel objects counted.

    def test_no_objects_leak_over_the_same_cycles(self) -> None:
        sess = harness.session()
        sess.kill_all_wine()
        sess.probe().windows()  # Wine's own start (its services, the desktop) is over before the count
        self.addCleanup(plant_classic_files(sess.prefix).remove)
        program = harness.Program(harness.INPROC, args=["soak", *map(str, (ABOUT_CYCLES, MOVES, CLICKS))],
                                  trace="+pid,+process", sess=sess).start()
        self.addCleanup(sess.kill_all_wine)
        self.addCleanup(program.stop)
        code, trace = program.wait_exit(300), program.trace_text()
        phases = {d.pop("phase"): d for d in (json.loads(line) for line in trace.splitlines()
                                              if line.startswith('{"phase"'))}
        self.assertEqual((code, list(phases)), (0, ["before", "middle", "after"]), trace[-2000:])
        before, middle, after = phases.values()
        # The walk sees what is there: stock objects, the main window with its menus.
        self.assertTrue(before["gdi"] > 20 and before["windows"] >= 2 and before["menus"] >= 3, before)
        # A leak grows in both halves of the run. Wine itself has been seen to take a few kernel
        # handles once, mid-run, for no action of ours; that shows in one half only, and the
        # breakdown by type says what it was.
        for key in ("gdi", "bitmaps", "dcs", "fonts", "brushes", "pens", "regions", "windows",
                    "menus", "icons", "handles"):
            self.assertIn(0, (middle[key] - before[key], after[key] - middle[key]),
                          f"{key}: {before[key]} -> {middle[key]} -> {after[key]}; kernel handles "
                          f"by type {before['handle_types']} -> {after['handle_types']}")
        self.assertLess(after["working_set"] - before["working_set"], 2 << 20)
        self.assertEqual(len(program.process_starts()), CLICKS)


if __name__ == "__main__":
    harness.main()
