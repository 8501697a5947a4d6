# Clicks on the picture start the applets, as Wine's process trace shows them: a program of
# the system directory by its full path, from the system directory, with the command line byte
# for byte. That is the hotspot's classic line when the system directory holds its Control Panel
# file, else its modern equivalent, else the Control Panel (control.exe); each Wine ships other
# classic files, so what to expect is read from its system directory. A runner or applet planted
# beside the program or in its current folder must never run, load or count instead.

import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
import scene as spots  # noqa: E402

SYSTEM_DIR = "C:\\windows\\system32"
RUNNER, CONTROL = SYSTEM_DIR + "\\rundll32.exe", SYSTEM_DIR + "\\control.exe"
COMPILER = "x86_64-w64-mingw32-g++-posix"
RUN = "rundll32.exe shell32.dll,Control_RunDLL "
# The command line of each applet number, 0 to 14.
COMMANDS = [RUN + tail for tail in (
    "sysdm.cpl @1", "appwiz.cpl,,1", "timedate.cpl", "desk.cpl,,0", "inetcpl.cpl,,0", "joy.cpl",
    "main.cpl @1", "modem.cpl", "main.cpl @0", "mmsys.cpl,,0", "netcpl.cpl", "password.cpl",
    "intl.cpl,,0", "mmsys.cpl @1", "sysdm.cpl,,0")]
CLASSIC_FILES = sorted(set(re.findall(r"\w+\.cpl", " ".join(COMMANDS))))
# Where an applet's classic file is gone, the documented line that opens the same settings.
MODERN = {7: RUN + "telephon.cpl", 10: RUN + "ncpa.cpl", 11: "control.exe /name Microsoft.UserAccounts"}


def expected_start(applet: int, system_dir: Path) -> tuple[str, str]:
    """(program, command line) a click on the applet starts, by what the system directory holds."""
    for line in (COMMANDS[applet], MODERN.get(applet)):
        needed = re.search(r"Control_RunDLL (\w+\.cpl)", line or "")
        if line and (system_dir / (needed.group(1) if needed else line.split()[0])).is_file():
            return (RUNNER if needed else CONTROL), line
    return CONTROL, "control.exe"


def xdo(*args: object) -> None:
    # One xdotool call for a whole sequence: no pause between its steps.
    harness.run(["xdotool", *map(str, args)], timeout=60, env=harness.session().x_env())


def clicks(window: harness.Window, points, *click: object) -> list:
    # xdotool steps: to each client point of the window, and a click there.
    return [a for p in points for a in ("mousemove", *window.client_to_screen(*p), "click", *click, 1)]


class SystemFiles:
    """Empty files and folders put into a Wine prefix's system directory, removed again."""

    def __init__(self, prefix: Path) -> None:
        self.dir = prefix / "drive_c/windows/system32"
        # What a killed run left: no real file of these names is empty.
        self.made = [path for path in (self.dir / n for n in CLASSIC_FILES + ["telephon.cpl", "ncpa.cpl"])
                     if path.is_dir() and not any(path.iterdir()) or path.is_file() and not path.stat().st_size]
        self.remove()

    def add(self, *names: str, folder: bool = False) -> None:
        for path in (self.dir / name for name in names):
            if path.exists():
                raise AssertionError(f"{path.name} is already in {self.dir}: a run left it, or Wine ships it now")
            path.mkdir() if folder else path.write_bytes(b"")
            self.made.append(path)

    def remove(self) -> None:
        for path in reversed(self.made):
            path.rmdir() if path.is_dir() else path.unlink(missing_ok=True)
        self.made.clear()


class LaunchAssertions:
    def wait_start(self, count: int) -> harness.ProcessStart:
        # The count-th start once the new process has reported its current folder.
        return harness.wait_until(lambda: [s for s in self.program.process_starts()[count - 1:count] if s.cwd],
                                  20, 0.1, f"process start {count} and its folder")[0]

    def click_each(self, window: harness.Window, points, probe: harness.Probe) -> list[harness.ProcessStart]:
        # Each point clicked once its last click's start is ended, before that applet's window
        # could cover the picture and take the next click.
        starts = []
        for point in points:
            xdo(*clicks(window, [point]))
            starts.append(self.wait_start(len(starts) + 1))
            probe.terminate(starts[-1].pid)
        return starts

    def assert_starts(self, starts: list[harness.ProcessStart], expected: list[tuple[str, str]]) -> None:
        seen = [((s.app or "").lower(), (s.image or "").lower(), s.cmdline, s.final_cmdline,
                 s.cwd.lower().rstrip("\\"), s.started and not s.truncated) for s in starts]
        self.assertEqual(seen, [(p.lower(), p.lower(), c, c, SYSTEM_DIR.lower(), True) for p, c in expected])


class ClickTest(LaunchAssertions, harness.ProgramTestCase):
    @classmethod
    def tearDownClass(cls) -> None:
        cls.program.stop()
        harness.session().kill_all_wine()  # and the applets it started, at once

    def test_clicks_start_what_the_system_directory_holds(self) -> None:
        files = SystemFiles(harness.session().prefix)
        self.addCleanup(files.remove)
        # A modern equivalent's file Wine lacks, and a folder named as the first classic file of
        # a hotspot it lacks, which is no file.
        files.add("telephon.cpl")
        files.add(next(n for n in CLASSIC_FILES if not (files.dir / n).exists() and
                       any(n in COMMANDS[h.applet] for h in spots.HOTSPOTS)), folder=True)
        expected = [expected_start(h.applet, files.dir) for h in spots.HOTSPOTS]
        xdo(*clicks(self.window, [spots.BARE_POINT]))
        with harness.ProbeServer(harness.session()) as probe:
            starts = self.click_each(self.window, spots.POINTS, probe)
        self.assert_starts(starts, expected)
        # A double click where the Control Panel starts: one start, shown with state 5.
        xdo(*clicks(self.window, [spots.POINTS[expected.index((CONTROL, "control.exe"))]], "--repeat", 2, "--delay", 80))
        start = self.wait_start(len(starts) + 1)
        self.assert_starts([start], [(CONTROL, "control.exe")])
        info = self.probe.process(start.pid)
        self.assertEqual((info["startup_flags"] & 1, info["show_window"]), (1, 5), "not shown with state 5")
        self.assertTrue(self.probe.wait_window("Wine Control Panel", 30, pid=start.pid).visible)
        time.sleep(1)  # proves an absence: neither the bare click nor the double click starts more
        self.assertEqual(len(self.program.process_starts()), len(starts) + 1)


# Leaves "<own path><suffix>" behind: proof that this file ran or was loaded.
PLANTED_SOURCE = r"""
#include <windows.h>
static void mark(HMODULE module, const char* suffix)
{
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatA(path, suffix);
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}
#ifdef PLANTED_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) mark(self, ".loaded");
    return TRUE;
}
#else
int main() { mark(nullptr, ".ran"); return 0; }
#endif
"""


class PlantedFilesTest(LaunchAssertions, unittest.TestCase):
    # The program copied next to a fake rundll32.exe and a modem.cpl, and started in a folder
    # holding another runner, a fake timedate.cpl and a modem.cpl: the clock's and the modem's
    # clicks still reach the system's own programs, and only the system directory says whether
    # an applet's file is there.

    def test_planted_runner_and_applets_are_ignored(self) -> None:
        tmp = Path(tempfile.mkdtemp(prefix="lumeno-planted-"))
        self.addCleanup(shutil.rmtree, tmp, True)
        (tmp / "planted.cpp").write_text(PLANTED_SOURCE)
        beside, cwd = tmp / "program", tmp / "cwd"
        for folder, name, extra in ((beside, "rundll32.exe", []), (cwd, "timedate.cpl", ["-shared", "-DPLANTED_DLL"])):
            folder.mkdir()
            harness.run([COMPILER, "-O1", "-s", "-static", str(tmp / "planted.cpp"), *extra, "-o", str(folder / name)],
                        timeout=120)
        for source, target in ((beside / "rundll32.exe", cwd), (cwd / "timedate.cpl", cwd / "modem.cpl"),
                               (cwd / "timedate.cpl", beside / "modem.cpl"), (harness.EXE, beside)):
            shutil.copy(source, target)
        sess = harness.session()
        self.probe = sess.probe()
        markers = lambda: sorted(str(p.relative_to(tmp)) for p in tmp.rglob("*")  # noqa: E731
                                 if p.suffix in (".ran", ".loaded"))
        # The fakes work: a start by plain name from the folder takes the planted runner, and
        # the system's runner started in the folder loads the planted applet.
        for args in (["rundll32.exe"], [RUNNER, "shell32.dll,Control_RunDLL", "timedate.cpl"]):
            subprocess.run([sess.wine, *args], cwd=cwd, env=dict(sess.env, WINEDEBUG="-all"), timeout=60,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(markers(), ["cwd/rundll32.exe.ran", "cwd/timedate.cpl.loaded"])
        for marker in markers():
            (tmp / marker).unlink()

        self.program = harness.Program(beside / harness.EXE.name, cwd=cwd, sess=sess).start()
        self.addCleanup(self.program.stop_children)
        self.addCleanup(self.program.stop)
        window = self.program.wait_main_window(timeout=60)
        own, wine = self.probe.process(window.pid), lambda p: "z:" + str(p).replace("/", "\\").lower()
        self.assertEqual((own["cwd"].lower(), own["image"].lower()),
                         (wine(cwd) + "\\", wine(beside / harness.EXE.name)), "not the planted setup")
        starts = self.click_each(window, [spots.POINTS[spots.INDEX[n]] for n in ("imgClock", "imgModem")], self.probe)
        # Neither timedate.cpl nor modem.cpl is in Wine's system directory.
        self.assert_starts(starts, [(CONTROL, "control.exe")] * 2)
        time.sleep(0.5)  # proves an absence: no process of the clicks leaves a marker late
        self.assertEqual(markers(), [], "a planted file ran or was loaded")


if __name__ == "__main__":
    harness.main()
