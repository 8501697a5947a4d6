#!/usr/bin/env python3
"""Plants known faults, one at a time, in a scratch copy of the tree and reports which test
catches each. A fault is caught when any test fails: the quick tests run first (unit, toolkit,
codec, layer and art tests); only a fault they miss is built for Windows and tried on the
end-to-end files, the one named with it first, then the rest.

    tests/faults.py [--only 3,7] [--named-only] [--scratch DIR]
"""
import argparse
import re
import shutil
import subprocess
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent

# (what goes wrong, file, text as it stands, text with the fault, the end-to-end file that looks there)
FAULTS = [
    ("catalogue: a hotspot's left edge", 'mainwindow/hotspots.h',
     '"Mouse",              2,  8, 5760,', '"Mouse",              2,  8, 5775,', 'keyboard_access'),
    ("catalogue: a hotspot's applet", 'mainwindow/hotspots.h',
     '"Modems",             1,  7,', '"Modems",             1,  5,', 'launching'),
    ("catalogue: a title's text", 'mainwindow/hotspots.h',
     '"System Properites"', '"System Properties"', 'display_scale'),
    ("catalogue: a hotspot's icon", 'mainwindow/hotspots.h',
     '"Display",           11,', '"Display",           10,', 'display_scale'),
    ('z-order: keyboard below computer', 'mainwindow/hotspots.h',
     '    {"imgKeyboard",     "Keyboard",           5,  6, 1440, 4200, 3885,  480},\n    {"imgHardDisk",     "Add/New Hardware",   4,  0, 4395, 3765,  675,  435},\n    {"imgComputer",     "System Properites", 10, 14,  990, 3720, 4065,  555},\n',
     '    {"imgHardDisk",     "Add/New Hardware",   4,  0, 4395, 3765,  675,  435},\n    {"imgComputer",     "System Properites", 10, 14,  990, 3720, 4065,  555},\n    {"imgKeyboard",     "Keyboard",           5,  6, 1440, 4200, 3885,  480},\n', 'keyboard_access'),
    ("edges: a control's right edge is inside", 'toolkit/container.cpp',
     'x < c->Left() + c->Width()', 'x <= c->Left() + c->Width()', 'keyboard_access'),
    ('command line: an applet selector', 'launcher/modControlPanels.h',
     'Control_RunDLL main.cpl @1', 'Control_RunDLL main.cpl,@1', 'launching'),
    ('show state: not 5', 'launcher/modControlPanels.cpp',
     'tk::ShowState::Show)', 'tk::ShowState::Normal)', 'launching'),
    ('fallback: modern equivalents skipped', 'launcher/modControlPanels.cpp',
     'modern.appletNumber == appletNumber &&', 'modern.appletNumber == appletNumber + 1 &&', 'launching'),
    ('fallback: the Control Panel without asking', 'launcher/modControlPanels.cpp',
     '    if (present(ControlPanelCommand))\n', '', 'launching'),
    ('timer: the disclaimer hides late', 'about/frmAbout.cpp',
     'DisclaimerShownMs = 5000', 'DisclaimerShownMs = 5500', 'about_animations'),
    ('timer: the resting logo looks slower', 'about/frmAbout.cpp',
     'LogoRestMs = 200', 'LogoRestMs = 250', 'about_animations'),
    ('timer: the chase ticks slower', 'about/frmAbout.cpp',
     'LogoFollowMs = 50', 'LogoFollowMs = 60', 'about_animations'),
    ('timer: the scroll ticks faster', 'about/frmAbout.cpp', 'ScrollStepMs = 50', 'ScrollStepMs = 40', 'menus_about'),
    ('scroll: a whole pixel a step', 'about/frmAbout.cpp', 'step = 0.5f', 'step = 1.0f', 'menus_about'),
    ('scroll: reenters a pixel higher', 'about/frmAbout.cpp',
     'picCont.Height() + 2', 'picCont.Height() + 1', 'menus_about'),
    ('disclaimer: a press only hides it', 'about/frmAbout.cpp',
     'lblDisc.SetVisible(!lblDisc.Visible());', 'lblDisc.SetVisible(false);', 'about_animations'),
    ('chase: Ctrl with Shift starts it too', 'about/frmAbout.cpp',
     'Shift == ShiftKey::Ctrl', '(Shift & ShiftKey::Ctrl)', 'about_animations'),
    ('chase: off centre', 'about/frmAbout.cpp',
     'X - imgLogo.Width() / 2', 'X - imgLogo.Width() / 3', 'about_animations'),
    ('title rule: reversed', 'about/frmAbout.cpp',
     'lblTit.Width() > lblComments.Width()', 'lblTit.Width() < lblComments.Width()', 'menus_about'),
    ('version: minor not padded', 'about/version_text.h', 'PadNumber(minor, 2)', 'PadNumber(minor, 1)', 'menus_about'),
    ('quick help: a word', 'mainwindow/quickhelp.h',
     '"simple click it once."', '"simply click it once."', 'menus_about'),
    ("menu: a caption's case", 'mainwindow/frmCPanel.cpp', '"&Quick help"', '"&Quick Help"', 'main_window'),
    ('strip: the bare picture keeps the title', 'mainwindow/frmCPanel.cpp',
     '        lblInfo.SetCaption("");\n    imgPreview', '    imgPreview', 'display_scale'),
    ('focus order: left before top', 'toolkit/focus.cpp',
     'ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left',
     'ra.left != rb.left ? ra.left < rb.left : ra.top < rb.top', 'keyboard_access'),
    ('keys: a held Enter repeats', 'toolkit/focus.cpp', 'if (!e.repeat && focused_', 'if (focused_', 'keyboard_access'),
    ("mouse: a double click's release clicks", 'toolkit/container.cpp', '&& !leftPressIsDoubleClick_', '', 'launching'),
    ("accessible name: the control's", 'mainwindow/frmCPanel.cpp',
     '.name = h.title', '.name = h.control', 'keyboard_access'),
    ('accessible role: a menu button', 'toolkit/win32/win32_accessible.cpp',
     'return ROLE_SYSTEM_PUSHBUTTON;', 'return ROLE_SYSTEM_BUTTONMENU;', 'keyboard_access'),
    ('accessible ids: hidden items dropped', 'toolkit/focus.cpp',
     'collect(form_, items_, false, false);', 'collect(form_, items_, false, true);', 'keyboard_access'),
    ('scale: device edges round down', 'toolkit/display_scale.h',
     'logical * dpi_ + kDesignDpi / 2,', 'logical * dpi_,', 'display_scale'),
    ('decoder: no pixel limit', 'toolkit/codecs/image.h', 'std::size_t(1) << 22', 'std::size_t(1) << 30', ''),
    ('decoder: a GIF code past the table', 'toolkit/codecs/gif.cpp',
     'if (code > next ||', 'if (code > next + 1 ||', ''),
    ('safe loading: no search order for later loads', 'app/main_win32.cpp',
     'SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);', '', 'safe_loading'),
    ('safe loading: start-up DLLs from anywhere', 'app/load_config_mingw.cpp',
     '.dependentLoadFlags = LoadLibrarySearchSystem32,', '', 'pe_resources'),
    ('PE: version translation', 'app/LumenoControlPanel.rc', '0x0409, 0x04B0', '0x0409, 0x04E4', 'pe_resources'),
    ('PE: manifest execution level', 'app/LumenoControlPanel.manifest',
     'level="asInvoker"', 'level="highestAvailable"', 'pe_resources'),
    ('link: the mail address', 'about/frmAbout.cpp',
     '"mailto:" + std::string(ContactEmail)', '"mailto: " + std::string(ContactEmail)', 'menus_about'),
]


def run(cmd: list[str], cwd: Path, timeout: int) -> subprocess.CompletedProcess:
    try:
        return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        return subprocess.CompletedProcess(cmd, 124, e.stdout or "", "timed out")


def failed_tests(ctest: subprocess.CompletedProcess) -> list[str]:
    return re.findall(r"^\s*\d+ - (\S+) \(", ctest.stdout, re.M) or (["ctest"] if ctest.returncode else [])


def ctest(native: Path, regex: str, exclude: bool = False) -> list[str]:
    return failed_tests(run(["ctest", "-j2", "-E" if exclude else "-R", regex, "--timeout", "900"], native, 1800))


def try_fault(scratch: Path, fault, e2e_files: list[str], named_only: bool) -> str:
    _, rel, old, new, named = fault
    path = scratch / rel
    original = path.read_text()
    if original.count(old) != 1:
        return "NOT PLANTED: the text is not there once"
    path.write_text(original.replace(old, new))
    try:
        native = scratch / "build/native"
        if run(["cmake", "--build", str(native), "-j2"], scratch, 1800).returncode:
            return "BUILD FAILED (native)"
        failed = ctest(native, "^(e2e_|codecs_fuzz_|sdk_hazards$)", exclude=True)
        if failed:
            return "quick: " + ", ".join(failed[:3])
        if run(["cmake", "--build", str(scratch / "build/win"), "-j2"], scratch, 1800).returncode:
            return "BUILD FAILED (Windows)"
        order = [f for f in e2e_files if f == named] + ([] if named_only else [f for f in e2e_files if f != named])
        for name in order:
            if failed := ctest(native, f"^e2e_test_{name}$"):
                return "e2e: " + failed[0]
        return "MISSED"
    finally:
        path.write_text(original)


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", help="fault numbers, comma-separated")
    ap.add_argument("--named-only", action="store_true", help="only the end-to-end file named with a fault")
    ap.add_argument("--scratch", default=str(TOP / "build/faults"))
    args = ap.parse_args()
    scratch = Path(args.scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    files = subprocess.run(["git", "ls-files", "-z"], cwd=TOP, capture_output=True, text=True, check=True).stdout
    for rel in filter(None, files.split("\0")):
        if (TOP / rel).is_file():
            (scratch / rel).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(TOP / rel, scratch / rel)
    build = run(["bash", "scripts/build.sh"], scratch, 3600)
    if build.returncode:
        print(build.stdout[-3000:], build.stderr[-3000:])
        return 1
    e2e_files = sorted(p.stem[5:] for p in (scratch / "tests/e2e").glob("test_*.py"))
    chosen = [int(n) for n in args.only.split(",")] if args.only else range(1, len(FAULTS) + 1)
    print("| # | planted fault | caught by |\n|---|---|---|", flush=True)
    missed = 0
    for n in chosen:
        verdict = try_fault(scratch, FAULTS[n - 1], e2e_files, args.named_only)
        missed += not verdict.startswith(("quick", "e2e"))
        print(f"| {n} | {FAULTS[n - 1][0]} | {verdict} |", flush=True)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
