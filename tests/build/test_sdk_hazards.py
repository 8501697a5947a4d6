# Every source of the Windows build compiled once more, syntax only, in two ways that catch
# what the MinGW build alone lets through:
#   - with the SDK's headers and macros forced in first (min, max, RGB), as Visual Studio has
#     them, so an include order or a name that clashes with the SDK fails here;
#   - with clang for the same MinGW target, so nothing leans on one compiler's leniency.
# The commands come from the cross build's compile database, so a new file is checked at once.

import json
import os
import shlex
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WIN_BUILD = Path(os.environ.get("LUMENO_WIN_BUILD", REPO / "build" / "win"))
SHIM = Path(__file__).with_name("sdk_shim.h")
CLANG = "clang++"


def compile_commands() -> list[tuple[list[str], str]]:
    """(arguments, directory) of each C++ source once, with the output replaced by -fsyntax-only."""
    seen, commands = set(), []
    for entry in json.loads((WIN_BUILD / "compile_commands.json").read_text()):
        if not entry["file"].endswith(".cpp") or entry["file"] in seen:
            continue
        seen.add(entry["file"])
        args = shlex.split(entry["command"])
        out = args.index("-o")
        del args[out:out + 2]
        commands.append((args + ["-fsyntax-only"], entry["directory"]))
    return commands


def mingw_cxx_include_dirs(compiler: str) -> list[str]:
    """The C++ library's header folders that the MinGW compiler searches."""
    probe = subprocess.run([compiler, "-xc++", "-E", "-v", os.devnull], capture_output=True, text=True,
                           timeout=60)
    lines = probe.stderr.splitlines()
    start = lines.index("#include <...> search starts here:") + 1
    dirs = [line.strip() for line in lines[start:lines.index("End of search list.")]]
    return [d for d in dirs if "/c++" in d]


def run_all(commands: list[tuple[list[str], str]]) -> list[str]:
    def one(cmd: tuple[list[str], str]) -> str:
        args, cwd = cmd
        done = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=300)
        return "" if done.returncode == 0 else f"$ {shlex.join(args)}\n{done.stderr[-3000:]}"
    with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        return [failure for failure in pool.map(one, commands) if failure]


class SdkHazardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        if not (WIN_BUILD / "compile_commands.json").is_file():
            raise unittest.SkipTest(f"no cross build with a compile database in {WIN_BUILD}")
        cls.commands = compile_commands()

    def test_sources_build_after_the_sdk_headers_and_macros(self) -> None:
        commands = [([args[0], "-include", str(SHIM), *args[1:]], cwd) for args, cwd in self.commands]
        failures = run_all(commands)
        if failures:
            self.fail("\n".join(failures))

    def test_sources_build_with_clang_for_the_same_target(self) -> None:
        compiler = self.commands[0][0][0]
        includes = [a for d in mingw_cxx_include_dirs(compiler) for a in ("-isystem", d)]
        commands = [([CLANG, "--target=x86_64-w64-mingw32", "-nostdinc++", *includes, *args[1:]], cwd)
                    for args, cwd in self.commands]
        failures = run_all(commands)
        if failures:
            self.fail("\n".join(failures))


if __name__ == "__main__":
    unittest.main(verbosity=2)
