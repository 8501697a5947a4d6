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
# every planted name the program may load: had the program looked beside itself or in its current
# folder, Wine would then have run the planted copy. Wine's own trace (+module) tells which loads
# came before the program's entry point, while the loader resolves the process's DLLs: there only
# the exe's load configuration (DependentLoadFlags, which the program sets) can restrict the
# search. Every load after the entry point must come from the system directory. The DLLs Wine
# resolves for kernel32 and user32 (version, imm32, ...) keep Wine's default order: on Windows
# those come from the KnownDLLs.

import re
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "wine"))
import harness  # noqa: E402
from test_launching import COMPILER, PLANTED_SOURCE  # noqa: E402

# Loaded by the program or by the system DLLs it calls: planted as native.
RUN_TIME = ("comctl32 shell32 windowscodecs uxtheme msimg32 oleaut32 propsys shcore shlwapi dwmapi winmm comdlg32 "
            "msctf usp10 dwrite mpr urlmon wininet ws2_32 userenv setupapi apphelp").split()
# Found by Wine's search while the process starts or by its imm32; Wine loads its builtin for them.
AT_START = "version imm32 kernelbase kernel32 user32 gdi32 msvcrt ole32 combase rpcrt4".split()

# A small program with the same load configuration and a static import of version.dll: whether
# this Wine applies DependentLoadFlags to the loads made while a process starts.
CONTROL_SOURCE = r"""
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { DWORD h; return GetFileVersionInfoSizeA("x", &h) ? 0 : 1; }
"""
_T = r'^[0-9a-f]{4}:[0-9a-f]{4}:trace:'
_LOADED = re.compile(_T + r'loaddll:\w+ Loaded L"([^"]+)" at \w+: (\w+)$')
_ATTACH_END = re.compile(_T + r'module:process_attach \(L"([^"]*)",([0-9A-F]+)\) - END$')
_DELAY = re.compile(_T + r'module:LdrResolveDelayLoadedAPI \(([0-9A-F]+),')
_LOOKING = re.compile(_T + r'module:load_dll looking for L"([^"]+)" in \(null\)')
_FOUND = re.compile(_T + r'module:load_dll Found L"[^"]*" for L"([^"]+)"')


def dll_name(line: str) -> str:
    return Path(line.rsplit(":", 1)[0].replace("\\", "/")).name.lower()


# A process's DLL loads from its +loaddll,+module trace, as 'path: builtin|native' lines.
#
# before: until the entry point. The loader attaches the DLLs the exe needs with the start
# context (non-null), then calls the exe's entry point; later loads attach with a null one.
# wine_delay: after it, the loads of a system DLL's delay import that Wine's loader resolves
# with its default search (imm32's ole32, with combase and rpcrt4), which the program's
# default DLL directories do not reach; on Windows these are KnownDLLs.
# after: every other load after the entry point.
class Loads:

    def __init__(self, trace: str, pid: int, exe_base: int) -> None:
        lines = [raw for raw in trace.splitlines() if raw.startswith(f"{pid:04x}:")]
        entry = max((i for i, raw in enumerate(lines)
                     if (m := _ATTACH_END.match(raw)) and int(m.group(2), 16) != 0), default=-1)
        self.before, self.after, self.wine_delay = [], [], []
        resolver = None  # the module whose delay import the previous module line resolved
        delayed = None   # the DLL being delay-loaded for a system DLL, until it is attached
        looked = False   # the previous module line began that load
        for i, raw in enumerate(lines):
            if m := _LOADED.match(raw):
                line = f"{m.group(1).replace(chr(92) * 2, chr(92))}: {m.group(2)}"  # the trace doubles "\\"
                (self.before if i < entry else self.wine_delay if delayed else self.after).append(line)
            elif ":trace:module:" in raw:
                if (m := _LOOKING.match(raw)) and delayed is None and resolver not in (None, exe_base):
                    delayed, looked = m.group(1).lower(), True
                    continue
                if (m := _ATTACH_END.match(raw) or (looked and _FOUND.match(raw))) and m.group(1).lower() == delayed:
                    delayed = None  # attached, or it was loaded already
                resolver = int(m.group(1), 16) if (m := _DELAY.match(raw)) else None
                looked = False


class PlantedDllTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.tmp = tmp = Path(tempfile.mkdtemp(prefix="lumeno-plant-"))
        cls.addClassCleanup(shutil.rmtree, tmp, True)  # also when the set-up fails
        (tmp / "marker.cpp").write_text(PLANTED_SOURCE)
        (tmp / "control.cpp").write_text(CONTROL_SOURCE)
        cls.marker = tmp / "marker.dll"
        # No runtime: the copy's only import is kernel32, so it loads under any name.
        harness.run([COMPILER, "-shared", "-DPLANTED_DLL", "-O1", "-s", "-nostdlib", "-Wl,-e,DllMain",
                     "-o", str(cls.marker), str(tmp / "marker.cpp"), "-lkernel32"], timeout=120)
        cls.app, cls.cwd, cls.flagged, control = tmp / "app", tmp / "cwd", tmp / "flagged", tmp / "control"
        for folder, names in ((cls.app, RUN_TIME + AT_START), (cls.cwd, RUN_TIME + AT_START),
                              (cls.flagged, ["version"]), (control, ["control"])):
            folder.mkdir()
            for name in names:
                shutil.copy(cls.marker, folder / f"{name}.dll")
        shutil.copy(harness.EXE, cls.app / harness.EXE.name)
        # The control: DependentLoadFlags on a static import, the planted copy beside it.
        exe, link_map = cls.flagged / "flagged.exe", tmp / "flagged.map"
        harness.run([COMPILER, "-O1", "-mwindows", "-static", str(tmp / "control.cpp"),
                     str(harness.REPO_ROOT / "app" / "load_config_mingw.cpp"), "-Wl,--undefined=_load_config_used",
                     f"-Wl,-Map={link_map}", "-o", str(exe), "-lversion"], timeout=120)
        harness.run([sys.executable, str(harness.REPO_ROOT / "tools" / "pe_finish.py"), str(exe), str(link_map)],
                    timeout=60)

    def markers(self) -> list[str]:
        return sorted(str(p.relative_to(self.tmp)) for d in (self.app, self.cwd) for p in d.glob("*.loaded"))

    def test_marker_dll_writes_its_marker_when_loaded(self) -> None:
        # The check below means something only if a load of the planted file shows.
        control = self.tmp / "control"
        harness.session().wine_run(["rundll32.exe", "Z:" + str(control / "control.dll").replace("/", "\\")
                                    + ",Nothing"], timeout=60, check=False)
        self.assertEqual([p.name for p in control.glob("*.loaded")], ["control.dll.loaded"])

    def wine_ignores_the_load_configuration(self) -> bool:
        sess = harness.session()
        sess.wine_run([str(self.flagged / "flagged.exe")], timeout=60, check=False,
                      extra_env={"WINEDLLOVERRIDES": sess.env["WINEDLLOVERRIDES"] + ";version=n,b"})
        return any(self.flagged.glob("*.loaded"))

    def use_everything(self, program, desktop, probe) -> None:
        # Hover, About with its tool tip, the e-mail link, close.
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
        harness.wait_until(lambda: any(v.cls.lower() == "tooltips_class32" for v in program.windows()),
                           8, 0.3, "a tool tip")
        # The e-mail link: the shell is bound at first use.
        desktop.click(about.client.left + 200, about.client.top + 202)
        program.wait_process_starts(1, timeout=20)
        probe.close(about.hwnd)
        probe.wait_gone("About", 10, program.win_pid)
        probe.close(w.hwnd)
        self.assertIsNotNone(program.wait_exit(20), "the program did not end when its window closed")
        time.sleep(1)  # proves an absence: the mail handler loads no planted DLL late

    def run_planted(self, native: list[str]) -> tuple[Exception | None, Loads]:
        # One use of everything, Wine asked to prefer a planted copy of each name in `native`:
        # what went wrong (or None), and the program's loads.
        sess = harness.session()
        desktop, probe = harness.Desktop(sess), sess.probe()
        if probe.windows():
            sess.kill_all_wine()
        for marker in [*self.app.glob("*.loaded"), *self.cwd.glob("*.loaded")]:
            marker.unlink()
        saved = sess.env["WINEDLLOVERRIDES"]
        sess.env["WINEDLLOVERRIDES"] = saved + ";" + ",".join(native) + "=n,b"
        try:
            program = harness.Program(self.app / harness.EXE.name, cwd=self.cwd,
                                      trace="+pid,+process,+loaddll,+module", sess=sess).start()
        finally:
            sess.env["WINEDLLOVERRIDES"] = saved
        problem = None
        try:
            self.use_everything(program, desktop, probe)
        except (harness.HarnessError, AssertionError) as e:
            problem = e
        finally:
            program.stop()
            program.stop_children()
        trace = program.trace_text()
        base = re.search(r'Loaded L"[^"]*' + re.escape(harness.EXE.name) + r'" at (\w+)', trace)
        self.assertIsNotNone(base, "the trace does not show the program loaded")
        return problem, Loads(trace, program.win_pid, int(base.group(1), 16))

    def test_planted_dlls_never_run(self) -> None:
        problem, loads = self.run_planted(RUN_TIME)
        # A planted copy that ran is the finding, whatever else then went wrong. One that Wine loaded before the entry point, where only the load configuration could
        # have kept it out, is this Wine's doing when the control shows it ignores that
        # configuration. Such a stand-in breaks what needs the real DLL, so the use is made once
        # more with Wine's own copy of those names; everything else is checked on that run.
        planted = lambda line: any(f"\\{d.name}\\" in line for d in (self.app, self.cwd))  # noqa: E731
        early = {dll_name(line) for line in loads.before if planted(line) and line.endswith(": native")}
        set_apart = [m for m in self.markers() if Path(m).stem.lower() in early]
        if set_apart:
            self.assertTrue(self.wine_ignores_the_load_configuration(),
                            f"{set_apart} ran before the entry point, though this Wine applies the load configuration")
            print(f"set apart: {set_apart} ran, loaded by Wine before the program's entry point, and this Wine "
                  "ignores the load configuration's DependentLoadFlags (the control's planted version.dll ran too)",
                  file=sys.stderr)
            self.assertEqual([m for m in self.markers() if m not in set_apart], [], "a planted DLL ran")
            problem, loads = self.run_planted([n for n in RUN_TIME if f"{n}.dll" not in early])
        self.assertEqual(self.markers(), [], "a planted DLL ran")
        self.assertIsNone(problem)
        # After the entry point every DLL comes from the system directory, whatever is planted;
        # where Wine resolves its own DLLs' delay imports it maps its builtin, never the file.
        self.assertEqual([line for line in loads.after if not line.lower().startswith("c:\\windows\\system32\\")], [],
                         "a DLL loaded after start came from outside the system directory")
        self.assertEqual([line for line in loads.wine_delay if not line.endswith(": builtin")], [],
                         "Wine ran a planted file for a system DLL's delay import")
        if loads.wine_delay:
            print(f"set apart: {', '.join(dll_name(line) for line in loads.wine_delay)}, a system DLL's delay imports "
                  "that Wine's loader resolved with its own search and mapped as its builtins", file=sys.stderr)
        for name in ("comctl32", "shell32"):
            self.assertTrue(any(f"\\{name}.dll" in line.lower() for line in loads.after),
                            f"{name}.dll was never loaded: the run did not exercise it")


if __name__ == "__main__":
    harness.main()
