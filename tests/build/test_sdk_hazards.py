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
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WIN_BUILD = Path(os.environ.get("LUMENO_WIN_BUILD", REPO / "build" / "win"))
SHIM = Path(__file__).with_name("sdk_shim.h")


class SdkHazardTest(unittest.TestCase):
    maxDiff = None  # the compilers' whole complaint
    @classmethod
    def setUpClass(cls) -> None:
        if not (WIN_BUILD / "compile_commands.json").is_file():
            raise unittest.SkipTest(f"no cross build with a compile database in {WIN_BUILD}")
        # (compiler, arguments without the output, directory) of each C++ source once.
        cls.commands = {}
        for entry in json.loads((WIN_BUILD / "compile_commands.json").read_text()):
            args = shlex.split(entry["command"])
            out = args.index("-o")
            if entry["file"].endswith(".cpp"):
                cls.commands.setdefault(entry["file"], (args[0], args[1:out] + args[out + 2:], entry["directory"]))

    def assert_all_compile(self, prefix) -> None:
        def one(command) -> str:
            compiler, args, cwd = command
            full = [*prefix(compiler), *args, "-fsyntax-only"]
            done = subprocess.run(full, cwd=cwd, capture_output=True, text=True, timeout=300)
            return "" if done.returncode == 0 else f"$ {shlex.join(full)}\n{done.stderr[-3000:]}"
        with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
            self.assertEqual("".join(pool.map(one, self.commands.values())), "")

    def test_sources_build_after_the_sdk_headers_and_macros(self) -> None:
        self.assert_all_compile(lambda compiler: [compiler, "-include", str(SHIM)])

    def test_sources_build_with_clang_for_the_same_target(self) -> None:
        # The C++ library's header folders that the MinGW compiler searches.
        lines = subprocess.run([next(iter(self.commands.values()))[0], "-xc++", "-E", "-v", os.devnull],
                               capture_output=True, text=True, timeout=60).stderr.splitlines()
        dirs = lines[lines.index("#include <...> search starts here:") + 1:lines.index("End of search list.")]
        includes = [a for d in dirs if "/c++" in d for a in ("-isystem", d.strip())]
        self.assert_all_compile(lambda _: ["clang++", "--target=x86_64-w64-mingw32", "-nostdinc++", *includes])


if __name__ == "__main__":
    unittest.main(verbosity=2)
