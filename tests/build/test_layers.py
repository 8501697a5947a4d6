# The layers, as the includes show them: the toolkit knows nothing of the application, its
# portable model knows neither backend, the backends do not know each other, the decoders
# stand alone, and of the application only the entry point picks a backend.

import re
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
# Folder -> the folders its files may include from (besides the standard and system headers).
ALLOWED = {
    "toolkit/codecs": ["toolkit/codecs"],
    "toolkit": ["toolkit"],
    "toolkit/win32": ["toolkit", "toolkit/win32", "toolkit/codecs"],
    "toolkit/headless": ["toolkit", "toolkit/headless", "toolkit/codecs"],
    "launcher": ["launcher", "toolkit"],
    "mainwindow": ["mainwindow", "toolkit", "launcher", "about", "app"],
    "about": ["about", "toolkit", "app"],
    "app": ["app", "toolkit", "mainwindow", "about"],
}
ENTRY_POINT = ("app/main_win32.cpp", "toolkit/win32")  # the one place that picks the Win32 backend


def sources(*tops: str) -> list[Path]:
    return [p for top in tops for pattern in ("*.cpp", "*.h") for p in (REPO / top).rglob(pattern)]


class LayerTest(unittest.TestCase):
    def test_each_folder_includes_only_what_its_layer_may(self) -> None:
        # "toolkit/..." from the toolkit's include root (the repository's top), others beside the file.
        slips = []
        for source in sources("app", "toolkit", "launcher", "mainwindow", "about"):
            folder = str(source.parent.relative_to(REPO))
            self.assertIn(folder, ALLOWED, "every source folder is placed in a layer")
            for name in INCLUDE.findall(source.read_text()):
                target = str(((REPO if name.startswith("toolkit/") else source.parent) / name).resolve().parent.relative_to(REPO))
                if target not in ALLOWED[folder] and (str(source.relative_to(REPO)), target) != ENTRY_POINT:
                    slips.append((str(source.relative_to(REPO)), name))
        self.assertEqual(slips, [])

    def test_the_toolkit_is_reached_through_its_include_root_only(self) -> None:
        # Outside the toolkit nothing climbs into it by a relative path.
        self.assertEqual([str(p.relative_to(REPO)) for p in sources("app", "launcher", "mainwindow", "about", "tests", "bench", "tools")
                          if any("../" in n and "toolkit/" in n for n in INCLUDE.findall(p.read_text(errors="replace")))], [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
