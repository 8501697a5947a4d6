# Clicks on the picture start the applets, as Wine's process trace shows them: a program of
# the system directory by its full path, from the system directory, with the command line byte
# for byte. That is the hotspot's classic line when the system directory holds its Control Panel
# file, else its documented modern equivalent, else the Control Panel (control.exe); each Wine
# ships other classic files, so what to expect is read from its system directory. A runner or
# applet planted beside the program or in its current folder must never run, load or count
# instead.

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
RUNNER = SYSTEM_DIR + "\\rundll32.exe"
CONTROL = SYSTEM_DIR + "\\control.exe"
COMPILER = "x86_64-w64-mingw32-g++-posix"

# The command line of each applet number, 0 to 14.
COMMANDS = [
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL appwiz.cpl,,1",
    "rundll32.exe shell32.dll,Control_RunDLL timedate.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL inetcpl.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL joy.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL modem.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL main.cpl @0",
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL netcpl.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL password.cpl",
    "rundll32.exe shell32.dll,Control_RunDLL intl.cpl,,0",
    "rundll32.exe shell32.dll,Control_RunDLL mmsys.cpl @1",
    "rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl,,0",
]
INDEX = spots.INDEX
CLASSIC_FILES = sorted(set(re.findall(r"\w+\.cpl", " ".join(COMMANDS))))
TELEPHON = "rundll32.exe shell32.dll,Control_RunDLL telephon.cpl"
USER_ACCOUNTS = "control.exe /name Microsoft.UserAccounts"
# Where an applet's classic file is gone, the documented line that opens the same settings.
MODERN = {7: TELEPHON, 10: "rundll32.exe shell32.dll,Control_RunDLL ncpa.cpl", 11: USER_ACCOUNTS}


def expected_start(applet: int, system_dir: Path) -> tuple[str, str]:
    """(program, command line) a click on the applet starts, by what the system directory holds:
    the classic line, else the modern one, else the Control Panel. Each Wine ships other files."""
    for line in (COMMANDS[applet], MODERN.get(applet)):
        if line:
            needed = re.search(r"Control_RunDLL (\w+\.cpl)", line)
            if (system_dir / (needed.group(1) if needed else line.split()[0])).is_file():
                return (RUNNER if needed else CONTROL), line
    return CONTROL, "control.exe"


class SystemFiles:
    """Files and folders put into a Wine prefix's system directory, removed again on exit."""

    def __init__(self, prefix: Path) -> None:
        self.dir = prefix / "drive_c/windows/system32"
        self.made: list[Path] = []
        # What a killed run left: empty stand-ins of the names planted here. No real file of
        # these names is empty.
        for name in CLASSIC_FILES + ["telephon.cpl", "ncpa.cpl"]:
            path = self.dir / name
            if path.is_dir() and not any(path.iterdir()):
                path.rmdir()
            elif path.is_file() and path.stat().st_size == 0:
                path.unlink()

    def add(self, name: str, folder: bool = False) -> None:
        path = self.dir / name
        self.assert_absent(name)
        path.mkdir() if folder else path.write_bytes(b"")
        self.made.append(path)

    def assert_absent(self, name: str) -> None:
        if (self.dir / name).exists():
            raise AssertionError(f"{name} is already in {self.dir}: a run left it, or Wine ships it now")

    def remove(self) -> None:
        for path in reversed(self.made):
            path.rmdir() if path.is_dir() else path.unlink(missing_ok=True)
        self.made.clear()

    def __enter__(self) -> "SystemFiles":
        return self

    def __exit__(self, *exc: object) -> None:
        self.remove()


class LaunchAssertions:
    program: harness.Program

    def wait_start(self, count: int) -> harness.ProcessStart:
        # The count-th start once the new process has reported its current folder.
        def ready():
            starts = self.program.process_starts()
            return starts[count - 1] if len(starts) >= count and starts[count - 1].cwd else None

        return harness.wait_until(ready, 10, 0.1, f"process start {count} and its folder")

    def assert_system_runner(self, start: harness.ProcessStart, command: str) -> None:
        self.assert_system_start(start, RUNNER, command)

    def assert_system_start(self, start: harness.ProcessStart, program: str, command: str) -> None:
        line = self.program.trace_text().splitlines()[start.line - 1]
        self.assertEqual(start.cmdline, command, f"trace: {line}")
        self.assertEqual(start.final_cmdline, command)
        self.assertTrue(start.started and not start.truncated, line)
        self.assertEqual((start.app or "").lower(), program.lower(), f"trace: {line}")
        self.assertEqual((start.image or "").lower(), program.lower())
        self.assertEqual(start.cwd.lower().rstrip("\\"), SYSTEM_DIR.lower(),
                         f"current folder; trace: {line}")

    def end_applets(self) -> None:
        # Ends what the clicks started; only the program's own windows stay.
        self.program.stop_children()
        own = self.program.win_pid
        harness.wait_until(lambda: all(w.pid == own for w in self.probe.windows()), 10, 0.2,
                           "applet windows to close")


class ClickTest(LaunchAssertions, harness.ProgramTestCase):
    # Clicks with the real pointer on one program; applets end after each test.
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.desktop.move(cls.window.rect.right + 10, cls.window.client.top + 200)

    def tearDown(self) -> None:
        self.end_applets()

    def click(self, index: int, double: bool = False) -> None:
        x, y = spots.POINTS[index] if index >= 0 else spots.BARE_POINT
        spots.glide_to(self.desktop, self.window, x, y)
        sx, sy = self.window.client_to_screen(x, y)
        (self.desktop.double_click if double else self.desktop.click)(sx, sy)

    def test_each_hotspot_starts_what_this_system_has(self) -> None:
        system_dir = SystemFiles(harness.session().prefix).dir
        base = len(self.program.process_starts())
        for i, h in enumerate(spots.HOTSPOTS):
            with self.subTest(hotspot=h.control):
                self.assertEqual(len(self.program.process_starts()), base + i,
                                 "an earlier click started more than one process")
                self.click(i)
                self.assert_system_start(self.wait_start(base + i + 1), *expected_start(h.applet, system_dir))
                self.end_applets()
        time.sleep(1)  # proves an absence: no click starts a second process late
        self.assertEqual(len(self.program.process_starts()), base + len(spots.HOTSPOTS))

    def test_bare_picture_starts_nothing_and_a_double_click_one_process(self) -> None:
        base = len(self.program.process_starts())
        self.click(-1)
        self.click(INDEX["imgGlobe"], double=True)
        self.assert_system_runner(self.wait_start(base + 1), COMMANDS[4])
        time.sleep(2)  # proves an absence: neither the bare click nor the double click starts more
        self.assertEqual(len(self.program.process_starts()), base + 1)

    def test_globe_opens_internet_settings_shown_normally(self) -> None:
        base = len(self.program.process_starts())
        self.click(INDEX["imgGlobe"])
        start = self.wait_start(base + 1)
        self.assert_system_runner(start, COMMANDS[4])
        applet = self.probe.wait_window("Internet Settings", 30, pid=start.pid)
        self.assertTrue(applet.visible and not applet.iconic and not applet.zoomed)
        info = self.probe.process(start.pid)
        self.assertEqual((info["startup_flags"] & 1, info["show_window"]), (1, 5),
                         "not started with show state 5")

    def test_mouse_without_main_cpl_opens_the_control_panel(self) -> None:
        SystemFiles(harness.session().prefix).assert_absent("main.cpl")
        base = len(self.program.process_starts())
        self.click(INDEX["imgMouse"])
        start = self.wait_start(base + 1)
        self.assert_system_start(start, CONTROL, "control.exe")
        panel = self.probe.wait_window("Wine Control Panel", 30, pid=start.pid)
        self.assertTrue(panel.visible)
        harness.wait_until(lambda: self.desktop.grab_array(panel.rect).std() > 10, 10, 0.2,
                           "the Control Panel to paint")
        self.screenshot("control-panel")  # kept with LUMENO_E2E_KEEP_LOGS=1

    def test_the_modem_follows_what_the_system_directory_holds_at_each_click(self) -> None:
        modem = INDEX["imgModem"]
        files = SystemFiles(harness.session().prefix)
        self.addCleanup(files.remove)
        steps = [
            ([], CONTROL, "control.exe"),                       # neither modem.cpl nor telephon.cpl
            ([("telephon.cpl", True)], CONTROL, "control.exe"),  # a folder of that name is no file
            ([("telephon.cpl", False)], RUNNER, TELEPHON),
            ([("modem.cpl", False), ("telephon.cpl", False)], RUNNER, COMMANDS[7]),
        ]
        base = len(self.program.process_starts())
        for n, (planted, program, command) in enumerate(steps, 1):
            with self.subTest(planted=planted):
                files.remove()
                for name, folder in planted:
                    files.add(name, folder)
                self.click(modem)
                self.assert_system_start(self.wait_start(base + n), program, command)
                self.end_applets()


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
    # that holds another runner, a fake timedate.cpl and a modem.cpl: the clock's and the
    # modem's clicks must still reach the system's own programs, and only the system directory
    # says whether an applet's file is there.

    def setUp(self) -> None:
        if not shutil.which(COMPILER):
            self.skipTest(f"{COMPILER} not found")
        self.tmp = Path(tempfile.mkdtemp(prefix="lumeno-planted-"))
        self.addCleanup(shutil.rmtree, self.tmp, True)
        source = self.tmp / "planted.cpp"
        source.write_text(PLANTED_SOURCE)
        self.beside, self.cwd = self.tmp / "program", self.tmp / "cwd"
        for folder, name, extra in ((self.beside, "rundll32.exe", []),
                                    (self.cwd, "timedate.cpl", ["-shared", "-DPLANTED_DLL"])):
            folder.mkdir()
            harness.run([COMPILER, "-O1", "-s", "-static", str(source), *extra, "-o", str(folder / name)],
                        timeout=120)
        shutil.copy(self.beside / "rundll32.exe", self.cwd)
        for folder in (self.beside, self.cwd):
            shutil.copy(self.cwd / "timedate.cpl", folder / "modem.cpl")
        shutil.copy(harness.EXE, self.beside)
        self.sess = harness.session()
        self.probe = self.sess.probe()
        if self.probe.windows():
            self.sess.kill_all_wine()

    def markers(self) -> list[str]:
        return sorted(str(p.relative_to(self.tmp)) for p in self.tmp.rglob("*")
                      if p.suffix in (".ran", ".loaded"))

    def test_planted_runner_and_applet_are_ignored(self) -> None:
        # The fakes work: a start by plain name from the folder takes the planted runner, and
        # the system's runner started in the folder loads the planted applet.
        for args in (["rundll32.exe"], [RUNNER, "shell32.dll,Control_RunDLL", "timedate.cpl"]):
            subprocess.run([self.sess.wine, *args], cwd=self.cwd, env=dict(self.sess.env, WINEDEBUG="-all"),
                           timeout=60, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.assertEqual(self.markers(), ["cwd/rundll32.exe.ran", "cwd/timedate.cpl.loaded"])
        for marker in self.markers():
            (self.tmp / marker).unlink()

        self.program = harness.Program(self.beside / harness.EXE.name, cwd=self.cwd,
                                       sess=self.sess).start()
        self.addCleanup(self.program.stop_children)
        self.addCleanup(self.program.stop)
        window = self.program.wait_main_window(timeout=60)
        own = self.probe.process(window.pid)
        wine = lambda p: "z:" + str(p).replace("/", "\\").lower()  # noqa: E731
        self.assertEqual((own["cwd"].lower(), own["image"].lower()),
                         (wine(self.cwd) + "\\", wine(self.beside / harness.EXE.name)), "not the planted setup")

        desktop = harness.Desktop(self.sess)
        desktop.move(window.rect.right + 10, window.client.top + 200)
        for n, name in enumerate(("imgClock", "imgModem"), 1):
            x, y = spots.POINTS[INDEX[name]]
            spots.glide_to(desktop, window, x, y)
            desktop.click(*window.client_to_screen(x, y))
            start = self.wait_start(n)
            # Neither timedate.cpl nor modem.cpl is in Wine's system directory.
            self.assert_system_start(start, CONTROL, "control.exe")
            self.program.stop_children()
        time.sleep(0.5)  # proves an absence: no other process of the clicks leaves a marker late
        self.assertEqual(self.markers(), [], "a planted file ran or was loaded")


if __name__ == "__main__":
    harness.main()
