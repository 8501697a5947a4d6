# DLL planting: copies of DLLs beside the program or in its current folder never run.
#
# A DLL whose DllMain writes "<its own path>.loaded" is copied under the names the program and
# the system DLLs it uses might look for, beside a copy of the program and into its current
# folder. The program is then used the way that loads every DLL it binds at run time: hovering
# the picture, the About window with its tool tip and pictures, the e-mail link (the shell and
# COM).
#
# Wine loads its own builtin DLL even when a same-named file sits beside the program, unless
# WINEDLLOVERRIDES asks for the native one first. So the run asks for "native, then builtin" for
# every planted name the program loads after start: had the program looked beside itself or in
# its current folder, Wine would then have run the planted copy. The DLLs Wine resolves while the
# process starts, before WinMain (dependencies of kernel32 and user32 such as version and imm32),
# and those Wine's imm32 loads as the first window is made (ole32 with combase and rpcrt4), are
# left at Wine's default: the program cannot restrict that search, and on Windows those come from
# the KnownDLLs.

import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from test_launching import COMPILER, PLANTED_SOURCE  # noqa: E402

# Loaded after WinMain by the program or by the system DLLs it calls.
RUN_TIME = ["comctl32", "shell32", "windowscodecs", "uxtheme", "msimg32", "oleaut32", "propsys",
            "shcore", "shlwapi", "dwmapi", "winmm", "comdlg32", "msctf", "usp10", "dwrite", "mpr",
            "urlmon", "wininet", "ws2_32", "userenv", "setupapi", "apphelp"]
# Found by Wine's search while the process starts or by its imm32; Wine loads its builtin for them.
AT_START = ["version", "imm32", "kernelbase", "kernel32", "user32", "gdi32", "msvcrt", "ole32", "combase",
            "rpcrt4"]


class PlantedDllTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.tmp = Path(tempfile.mkdtemp(prefix="lumeno-plant-"))
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)  # also when the set-up fails
        source = cls.tmp / "marker.cpp"
        source.write_text(PLANTED_SOURCE)
        cls.marker = cls.tmp / "marker.dll"
        # No runtime: the copy's only import is kernel32, so it loads under any name.
        harness.run([COMPILER, "-shared", "-DPLANTED_DLL", "-O1", "-s", "-nostdlib", "-Wl,-e,DllMain",
                     "-o", str(cls.marker), str(source), "-lkernel32"], timeout=120)
        cls.app, cls.cwd = cls.tmp / "app", cls.tmp / "cwd"
        for folder in (cls.app, cls.cwd):
            folder.mkdir()
            for name in RUN_TIME + AT_START:
                shutil.copy(cls.marker, folder / f"{name}.dll")
        shutil.copy(harness.EXE, cls.app / harness.EXE.name)

    def markers(self) -> list[str]:
        return sorted(str(p.relative_to(self.tmp)) for d in (self.app, self.cwd)
                      for p in d.glob("*.loaded"))

    def test_marker_dll_writes_its_marker_when_loaded(self) -> None:
        # The check below means something only if a load of the planted file shows.
        control = self.tmp / "control"
        control.mkdir()
        shutil.copy(self.marker, control / "control.dll")
        harness.session().wine_run(["rundll32.exe", "Z:" + str(control / "control.dll").replace("/", "\\")
                                    + ",Nothing"], timeout=60, check=False)
        self.assertEqual([p.name for p in control.glob("*.loaded")], ["control.dll.loaded"])

    def use_everything(self, program, desktop, probe):
        # Hover, About with its tool tip, the e-mail link, close; what failed, or None.
        try:
            w = program.wait_main_window()
            desktop.click(w.rect.left + 200, w.rect.top + 8)  # the caption: keys go to the window
            probe.wait_foreground(harness.MAIN_CAPTION, 10, program.win_pid)
            # Hover the mouse hotspot: the strip takes the icon picture.
            x, y = w.client_to_screen(5 + 5760 // 15 + 10, 6 + 4200 // 15 + 10)
            desktop.glide([(x, y), (x + 3, y + 1), (x + 5, y + 2)])
            desktop.key("alt+h")
            desktop.key("a")
            about = program.wait_window("About", 20)
            # The disclaimer's tool tip comes from the common controls.
            tx, ty = about.client_to_screen(40, 140)
            desktop.glide([(tx, ty), (tx + 2, ty + 1), (tx + 4, ty + 2)], step_delay=0.1)
            harness.wait_until(lambda: any(v.cls.lower() == "tooltips_class32"
                                           for v in program.windows()), 8, 0.3, "a tool tip")
            # The e-mail link: the shell is bound at first use.
            desktop.click(about.client.left + 200, about.client.top + 202)
            program.wait_process_starts(1, timeout=20)
            probe.close(about.hwnd)
            probe.wait_gone("About", 10, program.win_pid)
            probe.close(w.hwnd)
            if program.wait_exit(20) is None:
                return "the program did not end when its window closed"
            time.sleep(1)  # proves an absence: the mail handler loads no planted DLL late
            return None
        except harness.HarnessError as e:
            return str(e)

    def test_planted_dlls_never_run(self) -> None:
        sess = harness.session()
        desktop, probe = harness.Desktop(sess), sess.probe()
        if probe.windows():
            sess.kill_all_wine()
        saved = sess.env["WINEDLLOVERRIDES"]
        sess.env["WINEDLLOVERRIDES"] = saved + ";" + ",".join(RUN_TIME) + "=n,b"
        try:
            program = harness.Program(self.app / harness.EXE.name, cwd=self.cwd,
                                      trace="+pid,+process,+loaddll", sess=sess).start()
        finally:
            sess.env["WINEDLLOVERRIDES"] = saved
        try:
            problem = self.use_everything(program, desktop, probe)
        finally:
            program.stop()
            program.stop_children()
        # A planted copy that ran is the finding, whatever else then went wrong.
        self.assertEqual(self.markers(), [], "a planted DLL ran")
        self.assertIsNone(problem)
        trace = program.trace_text()
        loads = [line for line in trace.splitlines() if ":loaddll:" in line]
        self.assertTrue(any("comctl32" in line.lower() for line in loads), "trace holds no loads")
        planted = [line for line in loads if str(self.tmp).replace("/", "\\\\") in line
                   and harness.EXE.name not in line]
        self.assertEqual([line for line in planted if line.endswith(": native")], [],
                         "Wine mapped a planted file as native code")
        # Only the start-up search may even name a planted file (Wine then loads its builtin).
        late = [line for line in planted
                if not any(f"\\\\{n}.dll" in line.lower() for n in AT_START)]
        self.assertEqual(late, [], "a DLL bound at run time was looked up outside system32")
        for name in ("comctl32", "shell32"):
            found = [line for line in loads if f"\\\\{name}.dll" in line.lower()]
            self.assertTrue(found, f"{name}.dll was never loaded: the run did not exercise it")
            for line in found:
                self.assertIn("c:\\\\windows\\\\system32\\\\", line.lower(), line)


if __name__ == "__main__":
    harness.main()
