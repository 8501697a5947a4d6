"""Start-up time, resident memory, idle CPU and size of the program under Wine, side by side
with a minimal Win32 window program (the floor) and Wine's notepad. Run through bench/run.sh,
which builds everything first. Prints figures; asserts nothing."""

from __future__ import annotations

import os
import select
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tools" / "wine"))  # where harness.py lives
import harness as h  # noqa: E402

OUT = REPO / "build" / "bench"
FLOOR, WAITER = OUT / "floor.exe", OUT / "waiter.exe"
IDLE_SECONDS = 10
HZ = os.sysconf("SC_CLK_TCK")


class Waiter:
    """waiter.exe inside the prefix, driven line by line over pipes."""

    def __init__(self, sess: h.Session) -> None:
        self.proc = subprocess.Popen([sess.wine, str(WAITER)], env=sess.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.buf = b""

    def send(self, line: str) -> None:
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()

    def line(self, timeout: float) -> str:
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise h.HarnessError(f"waiter silent for {timeout}s")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise h.HarnessError("waiter ended")
            self.buf += chunk
        text, self.buf = self.buf.split(b"\n", 1)
        return text.decode()

    def arm(self, cls: str, caption: str, timeout_s: float = 30) -> None:
        self.send(f"wait {int(timeout_s * 1000)} {cls} {caption}")
        if self.line(timeout_s + 10) != "ready":
            raise h.HarnessError(f"a window {caption!r} stayed from an earlier run")

    def shown(self, timeout_s: float = 30) -> tuple[float, float]:
        line = self.line(timeout_s + 10)
        words = line.split()
        if not words or words[0] != "shown":
            raise h.HarnessError(f"window did not show (waiter: {line!r})")
        return float(words[1]), float(words[2])

    def clock_offset(self) -> tuple[float, float]:
        """Waiter clock minus host clock, and the round trip, best of 10 (seconds)."""
        best = None
        for _ in range(10):
            t0 = time.time()
            self.send("now")
            t = float(self.line(10).split()[1])
            t1 = time.time()
            if best is None or t1 - t0 < best[1]:
                best = (t - (t0 + t1) / 2, t1 - t0)
        return best

    def stop(self) -> None:
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=10)


def vm_rss_kib(pid: int) -> int:
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise h.HarnessError(f"no VmRSS for pid {pid}")


def cpu_ticks(pid: int) -> int:
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def cpu_ns(pid: int) -> int:
    """CPU time of all the process's threads so far, in ns (scheduler figures, no tick rounding)."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, IndexError, ValueError):
            pass  # a thread that just ended
    return total


def launch(sess, waiter, target):
    """Starts one program; (ms to visible, ms to painted, CPU ms used by then, running Program)."""
    name, exe, cls, caption = target
    waiter.arm(cls, caption)
    t0 = time.time()
    prog = h.Program(exe, sess=sess, trace="-all").start()
    try:
        visible, painted = waiter.shown()
        cpu = cpu_ns(prog.pid) / 1e6
    except Exception as e:
        state = "was still running" if prog.alive() else f"had ended with code {prog.exit_code()}"
        prog.stop()
        raise h.HarnessError(f"{name}: {e}; the process {state}") from e
    return (visible - t0) * 1000, (painted - t0) * 1000, cpu, prog


def idle_cpu_ms(pid: int) -> float:
    before = cpu_ticks(pid)
    time.sleep(IDLE_SECONDS)
    return (cpu_ticks(pid) - before) * 1000 / HZ


def compiler_version() -> str:
    out = subprocess.run(["x86_64-w64-mingw32-g++-posix", "-dumpfullversion"], capture_output=True, text=True)
    return f"MinGW-w64 GCC {out.stdout.strip() or '?'}"


def spread(values, fmt="{:.0f}"):
    return f"{fmt.format(statistics.median(values))} [{fmt.format(min(values))}-{fmt.format(max(values))}]"


def main() -> None:
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 25  # the floor varies run to run: 15 are too few
    h._watchdog(1500)  # ends the run with clean-up on a hang or SIGTERM
    started = time.monotonic()
    sess = h.session()  # waits (bounded) for the prefix's lock while tests run
    locked = time.monotonic() - started
    signal.alarm(400)  # the measuring itself takes under two minutes
    notepad = sess.prefix / "drive_c" / "windows" / "system32" / "notepad.exe"
    targets = [("program", h.EXE, "-", h.MAIN_CAPTION),
               ("floor", FLOOR, "LumenoBenchFloor", "-"),
               ("notepad", notepad, "Notepad", "-")]
    # Another build of the program measured in the same run, e.g. the one before a change.
    before = os.environ.get("LUMENO_BENCH_BEFORE")
    if before:
        targets.append(("before", Path(before).resolve(), "-", h.MAIN_CAPTION))
    # The display scale the programs start at (LUMENO_BENCH_DPI=192: 200 %); every session of
    # the harness starts at 96 again.
    dpi = int(os.environ.get("LUMENO_BENCH_DPI", "96"))
    sess.set_dpi(dpi)
    measure(sess, runs, targets, before, dpi, started, locked)


def measure(sess, runs, targets, before, dpi, started, locked) -> None:
    waiter = Waiter(sess)
    offset, trip = waiter.clock_offset()

    results = {t[0]: {"visible": [], "painted": [], "cpu": [], "rss": []} for t in targets}
    failed = []  # launches that showed no window
    load_before = os.getloadavg()[0]
    for round_no in range(runs + 1):  # round 0 warms the page cache and Wine's DLL loading
        # Rotate the order so no program always follows the same one.
        turn = round_no % len(targets)
        for target in targets[turn:] + targets[:turn]:
            try:
                visible, painted, cpu, prog = launch(sess, waiter, target)
            except h.HarnessError as e:
                # Once in some hundreds of launches Wine ends a process before its first window,
                # the floor's too; it is told and that launch made again. A second failure ends the run.
                failed.append(str(e))
                print(f"bench: {e}; launching it again", file=sys.stderr)
                visible, painted, cpu, prog = launch(sess, waiter, target)
            time.sleep(0.5)  # let the start-up tail settle before reading memory
            rss = vm_rss_kib(prog.pid)
            prog.stop()
            time.sleep(0.2)  # and Wine's clean-up after it before the next launch
            if round_no:
                r = results[target[0]]
                for key, value in zip(("visible", "painted", "cpu", "rss"), (visible, painted, cpu, rss)):
                    r[key].append(value)

    # Idle CPU: the floor as Wine's own baseline, then the program, then its About window.
    idle = {}
    for target in (targets[1], targets[0], *targets[3:]):
        *_, prog = launch(sess, waiter, target)
        try:
            time.sleep(1)
            idle[target[0]] = idle_cpu_ms(prog.pid)
            if target[0] == "program":
                desk = h.Desktop(sess)
                waiter.arm("-", "About")
                desk.key("alt+h", settle=0.3)
                desk.key("a", settle=0)
                try:
                    waiter.shown(10)
                except h.HarnessError:
                    continue  # reported as not measured
                time.sleep(1)
                idle["about"] = idle_cpu_ms(prog.pid)
        finally:
            prog.stop()
    waiter.stop()

    load_after = os.getloadavg()[0]
    med = {n: {k: statistics.median(v) for k, v in r.items()} for n, r in results.items()}
    low = {n: {k: min(v) for k, v in r.items()} for n, r in results.items()}
    size = h.EXE.stat().st_size
    wine = h.run([sess.wine, "--version"], timeout=10).stdout.decode().strip()

    def goal(ok: bool) -> str:
        return "met" if ok else "NOT met"

    print(f"Start-up benchmark: {runs} runs per program (after one warm-up round, order rotated), "
          f"warm wineserver, {wine}, Xvfb {h.SCREEN}, {dpi} DPI,\n  {os.cpu_count()} cores, "
          f"1-min load average {load_before:.2f} before, {load_after:.2f} after (shared machine: "
          "other loads skew wall times, the minima less so).")
    print("Method: build/bench/waiter.exe, already running in the prefix, polls FindWindow + "
          "IsWindowVisible every ~1 ms and stamps\n  GetSystemTimePreciseAsFileTime; t0 is the host "
          "clock just before the wine process is spawned. 'painted' = visible\n  and no update "
          "region pending in the window or its visible children (GetUpdateRect). "
          f"Waiter - host clock: {offset * 1000:+.2f} ms\n  (round trip {trip * 1000:.2f} ms). "
          "CPU = the process's own threads (/proc/<pid>/task/*/schedstat) up to painted, not\n"
          "  wineserver's or X's. Memory = host /proc/<pid>/status VmRSS of the Wine process, "
          "0.5 s after painted.")
    print()
    print(f"{'median [min-max]':16} {'visible ms':>15} {'painted ms':>15} {'CPU ms':>15} {'VmRSS MiB':>18}")
    for name, r in results.items():
        print(f"{name:16} {spread(r['visible']):>15} {spread(r['painted']):>15} {spread(r['cpu']):>15} "
              f"{spread([k / 1024 for k in r['rss']], '{:.1f}'):>18}")
    print()
    ratio = {k: med["program"][k] / med["floor"][k] for k in ("visible", "painted", "cpu")}
    ratio_low = low["program"]["painted"] / low["floor"]["painted"]
    # Each round's own ratio: a launch slowed by the machine slows its round's neighbours too.
    paired = statistics.median(p / f for p, f in zip(results["program"]["painted"], results["floor"]["painted"]))
    ratio_m = med["program"]["rss"] / med["notepad"]["rss"]
    print(f"Start-up vs floor, medians: visible {ratio['visible']:.2f}x, painted {ratio['painted']:.2f}x "
          f"({med['program']['painted'] - med['floor']['painted']:+.0f} ms), CPU {ratio['cpu']:.2f}x; "
          f"minima: painted {ratio_low:.2f}x;\n  median of the rounds' own painted ratios {paired:.2f}x\n"
          f"  goal <= 1.20x (medians): {goal(ratio['painted'] <= 1.2)}")
    print(f"Memory vs notepad: {ratio_m:.2f}x ({med['program']['rss'] / 1024:.1f} vs "
          f"{med['notepad']['rss'] / 1024:.1f} MiB; floor {med['floor']['rss'] / 1024:.1f} MiB)"
          f"\n  goal <= 1.00x: {goal(ratio_m <= 1.0)}")
    tick = 1000 / HZ
    print(f"Idle CPU over {IDLE_SECONDS} s (host utime+stime delta, {tick:.0f} ms ticks): main window "
          f"{idle['program']:.0f} ms, About open " + (
              f"{idle['about']:.0f} ms ({idle['about'] / IDLE_SECONDS / 10:.1f}% of a core)" if "about" in idle
              else "not measured (the About window did not open)") + f"; floor {idle['floor']:.0f} ms" +
          (f"; before: main window {idle['before']:.0f} ms" if "before" in idle else "") +
          f"\n  goal main window idle 0: {goal(idle['program'] < tick)}")
    if before:
        print(f"Before: {before}, {Path(before).stat().st_size} bytes; start-up and memory in the table above.")
    art2x = sum((REPO / "art" / name).stat().st_size for name in ("scene@2x.jpg", "logo@2x.gif"))
    print(f"Exe size: {size} bytes = {size / 1024:.1f} KiB, of which the 2x art {art2x / 1024:.1f} KiB "
          f"(floor {FLOOR.stat().st_size / 1024:.1f} KiB)"
          f"\n  goal <= 400 KiB: {goal(size <= 400 * 1024)} (built by {compiler_version()})")
    if failed:
        print(f"Launches that showed no window and were made again: {len(failed)}")
        for reason in failed:
            print(f"  {reason}")
    print(f"Bench took {time.monotonic() - started:.0f} s, of which {locked:.0f} s waiting for the "
          "prefix and setting it up.")

if __name__ == "__main__":
    try:
        main()
    finally:
        if h._SESSION is not None:
            h._SESSION.close()
