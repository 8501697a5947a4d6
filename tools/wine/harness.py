"""Drives the real program under Wine on an X display, for the end-to-end tests and the benchmarks.

Everything here is observed from outside, the way a person (or the system)
sees the program: windows through the probe (wprobe.exe, run inside the same
Wine prefix), pixels through screenshots of the X screen, the pointer and the
keyboard through xdotool, and started processes through Wine's +process trace.

The Wine prefix runs a virtual desktop the size of the X screen, so Windows
screen coordinates are X screen coordinates.

Paths come from the environment, with defaults relative to the repository:
  LUMENO_EXE          build/win/LumenoControlPanel.exe
  LUMENO_PROBE        build/win/wprobe.exe
  LUMENO_INPROC       build/win/lumeno_inproc.exe
  LUMENO_WINEPREFIX   build/wineprefix-e2e: the tests keep a prefix apart from
                      the one scripts/run.sh uses, so a program someone runs
                      by hand and a test run never share a wineserver
Other knobs:
  LUMENO_SCREEN             the private Xvfb's screen, WxHxDEPTH (1024x768x24)
  LUMENO_E2E_USE_DISPLAY=1  run on $DISPLAY when it answers instead of a
                            private Xvfb (it moves your real pointer)
  LUMENO_E2E_TIMEOUT        seconds before a whole test file is aborted (840,
                            under ctest's 900)
  LUMENO_E2E_KEEP_LOGS=1    keep trace logs of passing runs

Every wait is bounded; a watchdog ends the test process if something hangs.
"""

from __future__ import annotations

import atexit
import dataclasses
import fcntl
import io
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path
from typing import Callable, Iterable, Optional

REPO_ROOT = Path(__file__).resolve().parents[2]
WINE_ENV = REPO_ROOT / "scripts" / "wine-env.sh"


def _path_from_env(var: str, default: str) -> Path:
    value = os.environ.get(var)
    path = Path(value) if value else REPO_ROOT / default
    return path if path.is_absolute() else (REPO_ROOT / path)


EXE = _path_from_env("LUMENO_EXE", "build/win/LumenoControlPanel.exe")
PROBE = _path_from_env("LUMENO_PROBE", "build/win/wprobe.exe")
INPROC = _path_from_env("LUMENO_INPROC", "build/win/lumeno_inproc.exe")

MAIN_CAPTION = "Lumeno ControlPanel"
SCREEN = os.environ.get("LUMENO_SCREEN", "1024x768x24")

# Window style bits used by the tests.
WS_MAXIMIZEBOX = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_DLGFRAME = 0x00400000
WS_BORDER = 0x00800000
WS_CAPTION = 0x00C00000
WS_MAXIMIZE = 0x01000000
WS_DISABLED = 0x08000000
WS_VISIBLE = 0x10000000
WS_MINIMIZE = 0x20000000
WS_POPUP = 0x80000000
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000


class HarnessError(RuntimeError):
    """The environment or the program did not do what a step needed."""


# --------------------------------------------------------------------------
# Geometry and windows


@dataclasses.dataclass(frozen=True)
class Rect:
    left: int
    top: int
    right: int
    bottom: int

    @property
    def width(self) -> int:
        return self.right - self.left

    @property
    def height(self) -> int:
        return self.bottom - self.top

    @property
    def center(self) -> tuple[int, int]:
        return (self.left + self.width // 2, self.top + self.height // 2)

    def contains(self, x: int, y: int) -> bool:
        return self.left <= x < self.right and self.top <= y < self.bottom

    def offset(self, dx: int, dy: int) -> "Rect":
        return Rect(self.left + dx, self.top + dy, self.right + dx, self.bottom + dy)

    def box(self) -> tuple[int, int, int, int]:
        """As a Pillow crop box."""
        return (self.left, self.top, self.right, self.bottom)

    @staticmethod
    def from_json(d: dict) -> "Rect":
        return Rect(d["left"], d["top"], d["right"], d["bottom"])

    @staticmethod
    def of_size(left: int, top: int, width: int, height: int) -> "Rect":
        return Rect(left, top, left + width, top + height)


@dataclasses.dataclass(frozen=True)
class Window:
    """A window as the probe saw it. Rectangles are in screen coordinates."""

    hwnd: int
    pid: int
    tid: int
    cls: str
    text: str  # caption of a top-level window, WM_GETTEXT of a child
    style: int
    exstyle: int
    visible: bool
    enabled: bool
    iconic: bool
    zoomed: bool
    rect: Rect
    client: Rect
    has_menu: bool = False
    owner: int = 0
    foreground: bool = False
    parent: int = 0
    ctrl_id: int = 0

    @property
    def caption(self) -> str:
        return self.text

    def client_to_screen(self, x: int, y: int) -> tuple[int, int]:
        return (self.client.left + x, self.client.top + y)

    def client_rect(self, x: int, y: int, width: int, height: int) -> Rect:
        """A rectangle given in client coordinates, in screen coordinates."""
        return Rect.of_size(self.client.left + x, self.client.top + y, width, height)

    def has_style(self, bits: int) -> bool:
        return (self.style & bits) == bits

    @staticmethod
    def from_json(d: dict) -> "Window":
        return Window(
            hwnd=d["hwnd"],
            pid=d["pid"],
            tid=d["tid"],
            cls=d["class"],
            text=d.get("caption", d.get("text", "")),
            style=d["style"],
            exstyle=d["exstyle"],
            visible=d["visible"],
            enabled=d["enabled"],
            iconic=d["iconic"],
            zoomed=d["zoomed"],
            rect=Rect.from_json(d["rect"]),
            client=Rect.from_json(d["client"]),
            has_menu=d.get("has_menu", False),
            owner=d.get("owner", 0),
            foreground=d.get("foreground", False),
            parent=d.get("parent", 0),
            ctrl_id=d.get("id", 0),
        )


# --------------------------------------------------------------------------
# Wine's trace


@dataclasses.dataclass
class ProcessStart:
    """One CreateProcess call seen in a +pid,+process trace.

    cmdline is exactly what the caller passed (the CreateProcessInternalW
    line); final_cmdline is what the new process received (the
    NtCreateUserProcess line), which differs when Wine had to quote the
    program name. cwd needs +file in the trace channels; it is the new
    process's first current directory.
    """

    parent_pid: int
    parent_tid: int
    app: Optional[str]
    cmdline: Optional[str]
    line: int
    image: Optional[str] = None
    final_cmdline: Optional[str] = None
    pid: Optional[int] = None
    tid: Optional[int] = None
    started: bool = False
    cwd: Optional[str] = None
    truncated: bool = False


_PREFIX_RE = re.compile(r"^([0-9a-f]{4,8}):([0-9a-f]{4,8}):(\w+):(\w+):(\w+) ?(.*)$")


def parse_wine_string(text: str, pos: int = 0) -> tuple[Optional[str], int, bool]:
    """Decodes one debugstr_w / debugstr_a value starting at text[pos].

    Wine prints L"..." (or "...") with \\n \\r \\t \\" \\\\ escapes and other
    characters outside printable ASCII as a backslash and hex digits; a string
    too long for the trace buffer ends in "...". (null) stands for NULL.
    Returns (value, position after it, truncated).
    """
    if text.startswith("(null)", pos):
        return None, pos + len("(null)"), False
    if text.startswith('L"', pos):
        pos += 2
        wide = True
    elif text.startswith('"', pos):
        pos += 1
        wide = False
    else:
        raise ValueError(f"no Wine string at {pos}: {text[pos:pos + 20]!r}")
    out = []
    n = len(text)
    while pos < n:
        c = text[pos]
        if c == '"':
            pos += 1
            truncated = text.startswith("...", pos)
            if truncated:
                pos += 3
            return "".join(out), pos, truncated
        if c == "\\" and pos + 1 < n:
            e = text[pos + 1]
            simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
            if e in simple:
                out.append(simple[e])
                pos += 2
                continue
            digits = 4 if wide else 2
            if e == "x":  # some Wine versions write \x before the hex digits
                pos += 1
            hexpart = text[pos + 1:pos + 1 + digits]
            if len(hexpart) == digits and all(ch in "0123456789abcdefABCDEF" for ch in hexpart):
                out.append(chr(int(hexpart, 16)))
                pos += 1 + digits
                continue
            out.append(e)
            pos += 2
            continue
        out.append(c)
        pos += 1
    raise ValueError("unterminated Wine string")


def parse_process_starts(trace: str) -> list[ProcessStart]:
    """All CreateProcess calls in a trace, in the order they were made.

    The lines Wine 8 prints, each prefixed by pid:tid: (hex) with +pid:
      trace:process:CreateProcessInternalW app L"..."|(null) cmdline L"..."|(null)
      trace:process:NtCreateUserProcess L"\\??\\C:\\..." image L"..." cmdline L"..." parent (nil)
      trace:process:NtCreateUserProcess L"\\??\\C:\\..." pid 00c8 tid 00cc handles 0x64/0x68
      trace:process:CreateProcessInternalW started process pid 00c8 tid 00cc
    and, in the new process, with +file:
      trace:file:RtlSetCurrentDirectory_U curdir now L"C:\\...\\" 0000000000000020
    """
    starts: list[ProcessStart] = []
    pending: dict[tuple[int, int], ProcessStart] = {}
    by_pid: dict[int, ProcessStart] = {}
    for number, raw in enumerate(trace.splitlines(), 1):
        m = _PREFIX_RE.match(raw)
        if not m:
            continue
        pid, tid = int(m.group(1), 16), int(m.group(2), 16)
        cls, channel, func, rest = m.group(3), m.group(4), m.group(5), m.group(6)
        if cls != "trace":
            continue
        key = (pid, tid)
        try:
            if channel == "process" and func == "CreateProcessInternalW":
                if rest.startswith("app "):
                    app, p, t1 = parse_wine_string(rest, 4)
                    if not rest.startswith(" cmdline ", p):
                        continue
                    cmd, p, t2 = parse_wine_string(rest, p + len(" cmdline "))
                    start = ProcessStart(pid, tid, app, cmd, number, truncated=t1 or t2)
                    starts.append(start)
                    pending[key] = start
                elif rest.startswith("started process pid "):
                    start = pending.pop(key, None)
                    fields = rest.split()
                    new_pid = int(fields[3], 16)
                    if start is not None:
                        start.started = True
                        start.pid = new_pid
                        start.tid = int(fields[5], 16)
                        by_pid[new_pid] = start
            elif channel == "process" and func == "NtCreateUserProcess":
                start = pending.get(key)
                if start is None:
                    # Processes Wine starts on its own (explorer /desktop...)
                    # come without a CreateProcessInternalW line.
                    start = ProcessStart(pid, tid, None, None, number)
                    starts.append(start)
                    pending[key] = start
                _, p, _ = parse_wine_string(rest, 0)
                tail = rest[p:]
                if tail.startswith(" image "):
                    image, p2, t1 = parse_wine_string(tail, len(" image "))
                    if tail.startswith(" cmdline ", p2):
                        final, _, t2 = parse_wine_string(tail, p2 + len(" cmdline "))
                        start.final_cmdline = final
                        start.truncated = start.truncated or t1 or t2
                    start.image = image
                elif tail.startswith(" pid "):
                    fields = tail.split()
                    start.pid = int(fields[1], 16)
                    start.tid = int(fields[3], 16)
                    by_pid[start.pid] = start
                    if start.app is None and start.cmdline is None:
                        # No CreateProcessInternalW wrapper: done here.
                        start.started = True
                        pending.pop(key, None)
            elif channel == "file" and func == "RtlSetCurrentDirectory_U":
                start = by_pid.get(pid)
                if start is not None and start.cwd is None and rest.startswith("curdir now "):
                    start.cwd, _, _ = parse_wine_string(rest, len("curdir now "))
        except (ValueError, IndexError):
            continue
    return starts


def first_trace_pid(trace: str) -> Optional[int]:
    """The Windows pid of the process that wrote the first trace line."""
    for raw in trace.splitlines():
        m = _PREFIX_RE.match(raw)
        if m:
            return int(m.group(1), 16)
    return None


# --------------------------------------------------------------------------
# Small process helpers


def run(cmd: list[str], timeout: float, env: Optional[dict] = None, check: bool = True,
        input: Optional[bytes] = None) -> subprocess.CompletedProcess:
    """Runs a command to its end, bounded, and returns its output.

    Output goes through temporary files, not pipes: a Wine command may start
    the wineserver, a daemon that would keep a pipe open long after the
    command itself has ended.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            proc = subprocess.Popen(cmd, env=env, stdout=out, stderr=err,
                                    stdin=subprocess.PIPE if input is not None else subprocess.DEVNULL)
        except OSError as e:
            raise HarnessError(f"cannot run {cmd[0]}: {e}") from e
        try:
            if input is not None:
                proc.communicate(input, timeout=timeout)
            else:
                proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired as e:
            proc.kill()
            proc.wait(timeout=10)
            raise HarnessError(f"timed out after {timeout}s: {' '.join(map(str, cmd))}") from e
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(cmd, proc.returncode, out.read(), err.read())
    if check and result.returncode != 0:
        raise HarnessError(
            f"{' '.join(map(str, cmd))} exited {result.returncode}: "
            f"{result.stderr.decode(errors='replace')[-2000:]}")
    return result


def wait_until(predicate: Callable[[], object], timeout: float, interval: float = 0.1,
               what: str = "condition") -> object:
    """Polls predicate until it returns something truthy; raises on timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def pid_alive(pid: int) -> bool:
    """Whether a host (Linux) process exists and is not a zombie."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            state = f.read().rsplit(b")", 1)[1].split()[0]
        return state not in (b"Z", b"X")
    except (OSError, IndexError):
        return False


# --------------------------------------------------------------------------
# The session: display, prefix, wineserver


class Session:
    """One X display and one warm Wine prefix for this test process.

    The prefix has one wineserver, and its virtual desktop lives on one X
    display, so test processes that share the prefix take turns: an
    exclusive lock is held from start() to close().
    """

    def __init__(self) -> None:
        self.env: dict[str, str] = {}
        self.display: Optional[str] = None
        self.wine = ""
        self.wineserver = ""
        self.prefix = Path()
        self.screen_size = (0, 0)
        self._xvfb: Optional[subprocess.Popen] = None
        self._lock_file: Optional[io.TextIOWrapper] = None
        self._started = False
        self._log_dir = Path(tempfile.mkdtemp(prefix="lumeno-e2e-"))
        self.failed = False

    # -- set-up ------------------------------------------------------------

    def start(self) -> "Session":
        if self._started:
            return self
        self._started = True
        atexit.register(self.close)
        base = self._wine_env()
        self.prefix = Path(base["WINEPREFIX"])
        self.wine = base["LUMENO_WINE"]
        self.wineserver = base["LUMENO_WINESERVER"]
        self._take_lock()
        self.env = dict(base)
        self._start_display()
        self.env["DISPLAY"] = self.display or ""
        self.env["WINEDEBUG"] = "-all"
        # A server left by an earlier run may sit on another display.
        run([self.wineserver, "-k"], timeout=20, env=self.env, check=False)
        run([self.wineserver, "-w"], timeout=20, env=self.env, check=False)
        setup = run(["bash", "-c", f'source "{WINE_ENV}" && lumeno_prefix_setup'],
                    timeout=420, env=self.env, check=False)
        if setup.returncode != 0:
            raise HarnessError("prefix set-up failed: " + setup.stderr.decode(errors="replace"))
        run([self.wineserver, "-p60"], timeout=20, env=self.env, check=False)
        # A run that ended before restoring the display scale must not leave it to the next.
        self.set_dpi(96)
        self._check_desktop()
        return self

    def _wine_env(self) -> dict[str, str]:
        """The variables scripts/wine-env.sh sets, so both agree."""
        names = ["WINEPREFIX", "WINEARCH", "WINEDLLOVERRIDES", "LUMENO_WINE",
                 "LUMENO_WINESERVER", "WINELOADER", "WINESERVER", "LUMENO_ROOT"]
        script = f'source "{WINE_ENV}" && ' + " && ".join(
            f'printf "%s\\0" "${n}"' for n in names)
        env = dict(os.environ)
        env.setdefault("LUMENO_ROOT", str(REPO_ROOT))
        env.setdefault("LUMENO_WINEPREFIX", str(REPO_ROOT / "build" / "wineprefix-e2e"))
        out = run(["bash", "-c", script], timeout=30, env=env).stdout.decode()
        values = out.split("\0")[:len(names)]
        env.update(dict(zip(names, values)))
        env.pop("WINEDEBUG", None)
        return env

    def _take_lock(self, timeout: float = 1200) -> None:
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        self._lock_file = open(str(self.prefix) + ".lock", "w")
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(self._lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise HarnessError(f"Wine prefix {self.prefix} stayed locked for {timeout}s")
                time.sleep(0.5)

    def _display_answers(self, display: str) -> bool:
        env = dict(os.environ, DISPLAY=display)
        try:
            return subprocess.run(["xdpyinfo"], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=5).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def _start_display(self) -> None:
        current = os.environ.get("DISPLAY", "")
        if os.environ.get("LUMENO_E2E_USE_DISPLAY") == "1" and current and \
                self._display_answers(current):
            self.display = current
        else:
            self._start_xvfb()
        dims = run(["xdpyinfo"], timeout=10, env=dict(os.environ, DISPLAY=self.display)).stdout
        m = re.search(rb"dimensions:\s+(\d+)x(\d+) pixels", dims)
        if not m:
            raise HarnessError("cannot read the X screen size")
        self.screen_size = (int(m.group(1)), int(m.group(2)))

    def _start_xvfb(self) -> None:
        read_fd, write_fd = os.pipe()
        with open(self._log_dir / "xvfb.log", "wb") as log:
            # -displayfd: the server picks a free display and reports it when ready.
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", SCREEN,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=log,
                start_new_session=True)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_fd], [], [], 0.2)
            if ready:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_fd)
        if not number.strip().isdigit():
            self._stop_xvfb()
            raise HarnessError(f"Xvfb did not start (log {self._log_dir / 'xvfb.log'})")
        self.display = ":" + number.strip().decode()
        wait_until(lambda: self._display_answers(self.display), 10, 0.2, "Xvfb to answer")

    def _check_desktop(self) -> None:
        screen = self.probe().screen()
        size = (screen["width"], screen["height"])
        if size != self.screen_size:
            raise HarnessError(
                f"Wine desktop is {size}, the X screen {self.screen_size}: "
                "desktop coordinates would not be screen coordinates")

    # -- tear-down ---------------------------------------------------------

    def close(self) -> None:
        if not self._started:
            return
        self._started = False
        if self.wineserver:
            run([self.wineserver, "-k"], timeout=20, env=self.env, check=False)
            run([self.wineserver, "-w"], timeout=20, env=self.env, check=False)
        self._stop_xvfb()
        if self._lock_file:
            try:
                fcntl.flock(self._lock_file, fcntl.LOCK_UN)
            finally:
                self._lock_file.close()
                self._lock_file = None
        if not self.failed and os.environ.get("LUMENO_E2E_KEEP_LOGS") != "1":
            shutil.rmtree(self._log_dir, ignore_errors=True)

    def _stop_xvfb(self) -> None:
        if self._xvfb is None:
            return
        self._xvfb.terminate()
        try:
            self._xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self._xvfb.kill()
            self._xvfb.wait(timeout=10)
        self._xvfb = None

    def set_dpi(self, dpi: int) -> None:
        """The display scale (LogPixels) of the prefix, for Wine programs started from now on."""
        proc = run(["bash", "-c", f'source "{WINE_ENV}" && lumeno_set_dpi {int(dpi)}'],
                   timeout=90, env=self.env, check=False)
        if proc.returncode != 0:
            raise HarnessError(f"could not set {dpi} DPI: " + proc.stderr.decode(errors="replace"))

    def kill_all_wine(self) -> None:
        """Ends every process of the prefix; the next Wine run starts afresh."""
        run([self.wineserver, "-k"], timeout=20, env=self.env, check=False)
        run([self.wineserver, "-w"], timeout=20, env=self.env, check=False)
        run([self.wineserver, "-p60"], timeout=20, env=self.env, check=False)

    # -- tools -------------------------------------------------------------

    @property
    def log_dir(self) -> Path:
        return self._log_dir

    def x_env(self) -> dict[str, str]:
        return dict(os.environ, DISPLAY=self.display or "")

    def probe(self) -> "Probe":
        return Probe(self)

    def wine_run(self, args: list[str], timeout: float, check: bool = True,
                 extra_env: Optional[dict] = None) -> subprocess.CompletedProcess:
        env = dict(self.env)
        if extra_env:
            env.update(extra_env)
        return run([self.wine, *args], timeout=timeout, env=env, check=check)


_SESSION: Optional[Session] = None


def session() -> Session:
    """The started session of this test process (started on first use)."""
    global _SESSION
    if _SESSION is None:
        _SESSION = Session()
    return _SESSION.start()


# --------------------------------------------------------------------------
# The probe


class Probe:
    """wprobe.exe, run inside the session's prefix. Window handles are ints."""

    def __init__(self, sess: Session, exe: Path = PROBE) -> None:
        self.session = sess
        self.exe = exe
        if not self.exe.is_file():
            raise HarnessError(f"probe not built: {self.exe} (set LUMENO_PROBE)")

    def call(self, *args: object, timeout: float = 30, attempts: int = 3) -> tuple[int, object]:
        """Runs one probe command; returns (exit status, parsed JSON).

        A run that printed nothing never got to its command (Wine failed to
        start it), so it is tried again; Wine's own errors are kept for the
        message.
        """
        detail = ""
        for attempt in range(attempts):
            proc = self.session.wine_run([str(self.exe), *map(str, args)], timeout=timeout,
                                         check=False, extra_env={"WINEDEBUG": "-all,err+all"})
            out = proc.stdout.decode(errors="replace").strip()
            if out and proc.returncode in (0, 1):
                return proc.returncode, json.loads(out.splitlines()[-1])
            detail = (f"exit {proc.returncode}, output {out!r}, "
                      f"stderr {proc.stderr.decode(errors='replace')[-1500:]!r}")
            if proc.returncode == 2:
                break
            time.sleep(0.5)
        raise HarnessError(f"wprobe {' '.join(map(str, args))}: {detail}")

    def windows(self) -> list[Window]:
        return [Window.from_json(d) for d in self.call("windows")[1]]

    def find(self, caption: str) -> list[Window]:
        return [w for w in self.windows() if w.caption == caption]

    def _wait(self, command: str, caption: str, timeout: float, pid: Optional[int]) -> tuple[int, object]:
        """A probe command that waits in Wine for a window of this caption (and process)."""
        return self.call(command, caption, timeout, *([pid] if pid else []), timeout=timeout + 30)

    def wait_window(self, caption: str, timeout: float = 20,
                    pid: Optional[int] = None) -> Window:
        rc, data = self._wait("wait", caption, timeout, pid)
        if rc != 0 or data is None:
            raise HarnessError(f"no visible window {caption!r} within {timeout}s")
        return Window.from_json(data)

    def wait_gone(self, caption: str, timeout: float = 10, pid: Optional[int] = None) -> bool:
        return self._wait("gone", caption, timeout, pid)[0] == 0

    def wait_foreground(self, caption: str, timeout: float = 10,
                        pid: Optional[int] = None) -> Window:
        """That window once it is Windows' foreground window, the one keys go to.

        X's focus says nothing here: it stays on Wine's desktop window.
        """
        rc, data = self._wait("front", caption, timeout, pid)
        if rc != 0 or data is None:
            raise HarnessError(f"window {caption!r} not in the foreground within {timeout}s")
        return Window.from_json(data)

    def info(self, hwnd: int) -> Optional[Window]:
        rc, data = self.call("info", hwnd)
        return Window.from_json(data) if rc == 0 and data else None

    def children(self, hwnd: int) -> list[Window]:
        rc, data = self.call("children", hwnd)
        return [Window.from_json(d) for d in data] if rc == 0 and data else []

    def click_button(self, hwnd: int, text: str) -> bool:
        rc, _ = self.call("click-button", hwnd, text)
        return rc == 0

    def close(self, hwnd: int) -> bool:
        rc, _ = self.call("close", hwnd)
        return rc == 0

    def cursor(self) -> tuple[int, int]:
        _, data = self.call("cursor")
        return (data["x"], data["y"])

    def foreground(self) -> Optional[Window]:
        rc, data = self.call("foreground")
        return Window.from_json(data) if rc == 0 and data else None

    def screen(self) -> dict:
        return self.call("screen")[1]

    def font(self, face: str, height: int, weight: int = 400, italic: bool = False) -> dict:
        args: list[object] = ["font", face, height, weight]
        if italic:
            args.append("italic")
        return self.call(*args)[1]

    def text(self, face: str, height: int, text: str, weight: int = 400, italic: bool = False,
             underline: bool = False):
        """One line of black text as GDI draws it on white in this prefix: its darkness per pixel
        (0 for paper, 255 for full ink) as a numpy array (height, width) of uint8."""
        import numpy as np

        args: list[object] = ["text", face, height, weight, text]
        args += ["italic"] * italic + ["underline"] * underline
        rc, data = self.call(*args)
        if rc != 0 or not data:
            raise HarnessError(f"wprobe could not draw {text!r} in {face} {height}")
        return np.array([list(bytes.fromhex(row)) for row in data["rows"]], np.uint8)

    def process(self, pid: int) -> Optional[dict]:
        rc, data = self.call("process", pid)
        return data if rc == 0 else None

    def terminate(self, pid: int) -> bool:
        rc, _ = self.call("terminate", pid)
        return rc == 0

    def dpi_changed(self, hwnd: int, dpi: int, suggested: Rect) -> Optional[Window]:
        """Sends WM_DPICHANGED with a suggested window rectangle; the window once it has answered."""
        rc, data = self.call("dpi-changed", hwnd, dpi, suggested.left, suggested.top, suggested.right,
                             suggested.bottom)
        return Window.from_json(data) if rc == 0 and data else None


class ProbeServer(Probe):
    """One wprobe serving many calls: for loops that ask Windows each time, where a Wine process
    start per call would be most of the time. Use it in a with block; a call that fails or
    times out ends it.
    """

    def __init__(self, sess: Session, exe: Path = PROBE) -> None:
        super().__init__(sess, exe)
        env = dict(sess.env, WINEDEBUG="-all")
        self.proc = subprocess.Popen([sess.wine, str(self.exe), "serve"], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self._pending = b""

    def call(self, *args: object, timeout: float = 30, attempts: int = 1) -> tuple[int, object]:
        words = [str(a) for a in args]
        if any(c in w for w in words for c in "\t\r\n"):
            raise HarnessError(f"wprobe serve cannot take {words!r}")
        try:
            self.proc.stdin.write(("\t".join(words) + "\n").encode())
            self.proc.stdin.flush()
            line = self._read_line(timeout)
        except (OSError, HarnessError) as e:
            self.close()
            raise HarnessError(f"wprobe serve {' '.join(words)}: {e}") from e
        rc, _, out = line.decode(errors="replace").partition("\t")
        return int(rc), json.loads(out)

    def _read_line(self, timeout: float) -> bytes:
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise HarnessError(f"no answer in {timeout}s")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    raise HarnessError(f"ended (code {self.proc.poll()})")
                self._pending += chunk
        line, _, self._pending = self._pending.partition(b"\n")
        return line

    def close(self) -> None:
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()  # end of input ends it
            except OSError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)
        for f in (self.proc.stdin, self.proc.stdout):
            try:
                f.close()
            except OSError:
                pass

    def __enter__(self) -> "ProbeServer":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()


# --------------------------------------------------------------------------
# Pointer, keyboard, screen


class Desktop:
    """The X screen: real pointer and keyboard through xdotool, screenshots."""

    def __init__(self, sess: Session) -> None:
        self.session = sess

    def _xdotool(self, *args: object, timeout: float = 10) -> str:
        return run(["xdotool", *map(str, args)], timeout=timeout,
                   env=self.session.x_env()).stdout.decode()

    def move(self, x: int, y: int, settle: float = 0.15) -> None:
        self._xdotool("mousemove", int(x), int(y))
        time.sleep(settle)

    def pointer(self) -> tuple[int, int]:
        out = self._xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (int(values["X"]), int(values["Y"]))

    def click(self, x: int, y: int, button: int = 1, settle: float = 0.2) -> None:
        self.move(x, y, settle=0.1)
        self._xdotool("click", button)
        time.sleep(settle)

    def double_click(self, x: int, y: int, button: int = 1, settle: float = 0.2) -> None:
        self.move(x, y, settle=0.1)
        self._xdotool("click", "--repeat", 2, "--delay", 80, button)
        time.sleep(settle)

    def press(self, button: int = 1) -> None:
        self._xdotool("mousedown", button)
        time.sleep(0.05)

    def release(self, button: int = 1) -> None:
        self._xdotool("mouseup", button)
        time.sleep(0.05)

    def drag(self, x1: int, y1: int, x2: int, y2: int, button: int = 1, steps: int = 10,
             step_delay: float = 0.02) -> None:
        """Press at (x1, y1), move in steps to (x2, y2), release there."""
        self.move(x1, y1, settle=0.05)
        self.press(button)
        for i in range(1, steps + 1):
            self._xdotool("mousemove", round(x1 + (x2 - x1) * i / steps),
                          round(y1 + (y2 - y1) * i / steps))
            time.sleep(step_delay)
        self.release(button)

    def glide(self, points: Iterable[tuple[int, int]], step_delay: float = 0.03) -> None:
        """Moves the pointer through the points one after the other."""
        for x, y in points:
            self._xdotool("mousemove", int(x), int(y))
            time.sleep(step_delay)

    def key(self, *combos: str, settle: float = 0.2) -> None:
        """xdotool key names, e.g. key("alt+h"), key("Return")."""
        self._xdotool("key", "--delay", 60, *combos)
        time.sleep(settle)

    def key_down(self, key: str) -> None:
        self._xdotool("keydown", key)

    def key_up(self, key: str) -> None:
        self._xdotool("keyup", key)

    def type_text(self, text: str) -> None:
        self._xdotool("type", "--delay", 40, text)

    def screenshot(self, save_as: Optional[Path] = None):
        """The whole X screen as a Pillow RGB image."""
        from PIL import Image

        png = run(["import", "-window", "root", "png:-"], timeout=30,
                  env=self.session.x_env()).stdout
        image = Image.open(io.BytesIO(png)).convert("RGB")
        if save_as:
            image.save(save_as)
        return image

    def grab(self, rect: Rect):
        """One region of the screen as a Pillow RGB image."""
        return self.screenshot().crop(rect.box())

    def wait_stable(self, rect: Rect, timeout: float = 5, interval: float = 0.25):
        """A region once two grabs in a row are identical (painting has settled)."""
        from PIL import ImageChops

        deadline = time.monotonic() + timeout
        last = self.grab(rect)
        while True:
            time.sleep(interval)
            now = self.grab(rect)
            if ImageChops.difference(last, now).getbbox() is None:
                return now
            if time.monotonic() >= deadline:
                raise HarnessError(f"screen region {rect} kept changing for {timeout}s")
            last = now

    def grab_array(self, rect: Rect):
        """One region of the screen as a numpy array (height, width, 3) of uint8."""
        import numpy as np

        return np.asarray(self.grab(rect))


# --------------------------------------------------------------------------
# The program under test


class Program:
    """One run of a Windows program under Wine, traced.

    The host process started here is the Windows process itself (Wine runs
    the program in the process it starts), so stop() ends exactly the
    program, never the applets it started.
    """

    def __init__(self, exe: Path = EXE, args: Iterable[str] = (), cwd: Optional[Path] = None,
                 trace: str = "+pid,+process,+file", sess: Optional[Session] = None) -> None:
        self.exe = Path(exe)
        self.args = list(args)
        self.cwd = cwd
        self.trace_channels = trace
        self.session = sess or session()
        self.proc: Optional[subprocess.Popen] = None
        self.log_path = self.session.log_dir / f"{self.exe.stem}-{int(time.time() * 1000)}.log"
        self.win_pid: Optional[int] = None
        self._log = None

    def start(self) -> "Program":
        if not self.exe.is_file():
            raise HarnessError(f"program not built: {self.exe} (set LUMENO_EXE)")
        env = dict(self.session.env)
        env["WINEDEBUG"] = self.trace_channels
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([self.session.wine, str(self.exe), *self.args], env=env,
                                     cwd=str(self.cwd) if self.cwd else None,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self._log)
        return self

    # -- state ------------------------------------------------------------

    @property
    def pid(self) -> int:
        """The host pid of the program."""
        assert self.proc is not None
        return self.proc.pid

    def alive(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def exit_code(self) -> Optional[int]:
        return None if self.proc is None else self.proc.poll()

    def wait_exit(self, timeout: float = 10) -> Optional[int]:
        """Waits (bounded) for the program to end by itself; None if it did not."""
        assert self.proc is not None
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    # -- windows ----------------------------------------------------------

    def wait_window(self, caption: str, timeout: float = 30) -> Window:
        """A visible top-level window of this program with that caption."""
        probe = self.session.probe()
        deadline = time.monotonic() + timeout
        while True:
            if not self.alive():
                raise HarnessError(f"{self.exe.name} ended (code {self.exit_code()}) before "
                                   f"showing {caption!r}; trace {self.log_path}")
            left = max(0.5, min(5.0, deadline - time.monotonic()))
            args: list[object] = ["wait", caption, round(left, 1)]
            if self.win_pid:
                args.append(self.win_pid)
            rc, data = probe.call(*args, timeout=left + 30)
            if rc == 0 and data:
                window = Window.from_json(data)
                if self.win_pid is None:
                    self.win_pid = window.pid
                return window
            if time.monotonic() >= deadline:
                raise HarnessError(f"no window {caption!r} from {self.exe.name} in {timeout}s")

    def wait_main_window(self, caption: str = MAIN_CAPTION, timeout: float = 30) -> Window:
        window = self.wait_window(caption, timeout)
        traced = first_trace_pid(self.trace_text())
        if traced is not None and traced != window.pid:
            raise HarnessError(f"window {caption!r} belongs to pid {window.pid}, "
                               f"the program is pid {traced}")
        return window

    def windows(self) -> list[Window]:
        """This program's visible top-level windows."""
        if self.win_pid is None:
            self.win_pid = first_trace_pid(self.trace_text())
        return [w for w in self.session.probe().windows() if w.pid == self.win_pid]

    # -- trace ------------------------------------------------------------

    def trace_text(self) -> str:
        if self._log:
            self._log.flush()
        try:
            return self.log_path.read_bytes().decode("latin-1")
        except OSError:
            return ""

    def process_starts(self) -> list[ProcessStart]:
        """Processes this program started itself (not those Wine started for it)."""
        own = self.win_pid or first_trace_pid(self.trace_text())
        return [s for s in parse_process_starts(self.trace_text())
                if s.parent_pid == own and (s.app is not None or s.cmdline is not None)]

    def wait_process_starts(self, count: int, timeout: float = 10) -> list[ProcessStart]:
        """Waits until this program has made at least count CreateProcess calls."""
        def enough():
            starts = self.process_starts()
            return starts if len(starts) >= count else None

        return wait_until(enough, timeout, 0.1, f"{count} process start(s)")

    # -- end --------------------------------------------------------------

    def stop(self, timeout: float = 10) -> None:
        """Ends the program's own process (not the processes it started)."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                raise HarnessError(f"{self.exe.name} (pid {self.proc.pid}) did not end")
        if self._log:
            self._log.close()
            self._log = None

    def stop_children(self) -> None:
        """Ends the processes this program started that are still running."""
        probe = self.session.probe()
        for start in self.process_starts():
            if start.pid is not None:
                info = probe.process(start.pid)
                if info and info.get("alive"):
                    probe.terminate(start.pid)


# --------------------------------------------------------------------------
# Images


def mean_abs_diff(a, b):
    """Per-channel mean absolute difference of two equally sized images."""
    import numpy as np

    a = np.asarray(a, dtype=np.int16)
    b = np.asarray(b, dtype=np.int16)
    if a.shape != b.shape:
        raise ValueError(f"shapes differ: {a.shape} vs {b.shape}")
    return np.abs(a - b).reshape(-1, a.shape[-1]).mean(axis=0)


def percentile_abs_diff(a, b, q: float):
    import numpy as np

    a = np.asarray(a, dtype=np.int16)
    b = np.asarray(b, dtype=np.int16)
    return np.percentile(np.abs(a - b).reshape(-1, a.shape[-1]), q, axis=0)


def icon_image(data: bytes):
    """An icon image (a 1, 4 or 8-bit DIB with its AND mask, as stored in
    RT_ICON resources and .ico files) as an RGBA numpy array; mask pixels
    are transparent."""
    import numpy as np
    import struct

    size, width, height2, _planes, bits = struct.unpack_from("<IiiHH", data, 0)
    colours_used = struct.unpack_from("<I", data, 32)[0]
    if bits not in (1, 4, 8):
        raise ValueError(f"{bits}-bit icon images are not handled")
    height = height2 // 2
    entries = colours_used or (1 << bits)
    palette = np.frombuffer(data, np.uint8, entries * 4, size).reshape(-1, 4)[:, [2, 1, 0]]
    xor_stride = (width * bits + 31) // 32 * 4
    and_stride = (width + 31) // 32 * 4
    xor_at = size + entries * 4
    and_at = xor_at + xor_stride * height
    out = np.zeros((height, width, 4), np.uint8)
    for row in range(height):
        y = height - 1 - row  # bottom-up rows
        line = data[xor_at + row * xor_stride:xor_at + (row + 1) * xor_stride]
        mask = data[and_at + row * and_stride:and_at + (row + 1) * and_stride]
        for x in range(width):
            bit = x * bits
            index = (line[bit // 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1)
            out[y, x, :3] = palette[index]
            out[y, x, 3] = 0 if (mask[x // 8] >> (7 - x % 8)) & 1 else 255
    return out


def find_image(haystack, needle_rgba, tolerance: int = 8):
    """Where an RGBA image (alpha 0 = don't care) shows in an RGB array.

    Returns (x, y, worst difference) of the best match.
    """
    import numpy as np

    hay = np.asarray(haystack, dtype=np.int16)
    rgb = needle_rgba[..., :3].astype(np.int16)
    opaque = needle_rgba[..., 3] > 0
    h, w = opaque.shape
    best = (0, 0, 10**6)
    for y in range(hay.shape[0] - h + 1):
        for x in range(hay.shape[1] - w + 1):
            worst = int(np.abs(hay[y:y + h, x:x + w] - rgb)[opaque].max())
            if worst < best[2]:
                best = (x, y, worst)
    return best


def system_colour(name: str) -> tuple[int, int, int]:
    """A system colour as programs in the prefix get it, e.g. "button_face"."""
    colours = session().probe().screen()["colors"]
    if name not in colours:
        raise HarnessError(f"no system colour {name}; known: {sorted(colours)}")
    return tuple(colours[name])


# --------------------------------------------------------------------------
# unittest glue


class ProgramTestCase(unittest.TestCase):
    """Starts one fresh program per test class and waits for its main window.

    Class attributes: exe, caption, start_timeout, trace. In tests: cls.program,
    cls.window (the main window as first seen), cls.desktop, cls.probe.
    """

    exe: Path = EXE
    caption: str = MAIN_CAPTION
    start_timeout: float = 60
    trace: str = "+pid,+process,+file"  # Wine's debug channels for the program
    program: Program
    window: Window
    desktop: Desktop
    probe: Probe

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        sess = session()
        cls.desktop = Desktop(sess)
        cls.probe = sess.probe()
        cls._clear_desktop()
        # Park the pointer in a corner the program's windows do not cover.
        cls.desktop.move(sess.screen_size[0] - 2, sess.screen_size[1] - 2, settle=0)
        cls.program = Program(cls.exe, sess=sess, trace=cls.trace).start()
        try:
            cls.window = cls.program.wait_main_window(cls.caption, cls.start_timeout)
        except Exception:
            sess.failed = True
            cls.program.stop()
            raise

    @classmethod
    def tearDownClass(cls) -> None:
        try:
            program = getattr(cls, "program", None)
            if program is not None:
                program.stop()
                program.stop_children()
        finally:
            super().tearDownClass()

    @classmethod
    def _clear_desktop(cls) -> None:
        """Starts every class on an empty desktop."""
        if cls.probe.windows():
            session().kill_all_wine()

    def to_front(self) -> Window:
        """Clicks the main window's caption, then waits until Windows gives it the keyboard."""
        self.desktop.click(self.window.rect.left + 200, self.window.rect.top + 8)
        return self.probe.wait_foreground(self.caption, 10, self.program.win_pid)

    def main_window(self) -> Window:
        """The main window as it is now."""
        info = self.probe.info(self.window.hwnd)
        if info is None:
            raise HarnessError("the main window is gone")
        return info

    def screenshot(self, name: str):
        """A screenshot kept in the session's log folder (reported on failure)."""
        path = session().log_dir / f"{self.id().split('.')[-1]}-{name}.png"
        return self.desktop.screenshot(save_as=path)


def _abort(message: str, code: int) -> None:
    sys.stderr.write(f"\n{message}\n")
    if _SESSION is not None:
        _SESSION.failed = True
        sys.stderr.write(f"logs and screenshots kept in {_SESSION.log_dir}\n")
        _SESSION.close()
    os._exit(code)


def _watchdog(seconds: int) -> None:
    """Ends a hung test file itself, cleaning up, before an outer timeout
    kills it and leaves Xvfb and Wine behind."""
    signal.signal(signal.SIGALRM,
                  lambda *_: _abort(f"e2e watchdog: test file exceeded {seconds}s", 3))
    signal.signal(signal.SIGTERM, lambda *_: _abort("e2e: terminated", 143))
    signal.alarm(seconds)


def main() -> None:
    """Runs the calling module's tests; exits non-zero on any failure."""
    _watchdog(int(os.environ.get("LUMENO_E2E_TIMEOUT", "840")))
    program = unittest.main(exit=False, verbosity=2)
    ok = program.result.wasSuccessful()
    if _SESSION is not None:
        if not ok:
            _SESSION.failed = True
            sys.stderr.write(f"logs and screenshots kept in {_SESSION.log_dir}\n")
        _SESSION.close()
    signal.alarm(0)
    sys.exit(0 if ok else 1)
