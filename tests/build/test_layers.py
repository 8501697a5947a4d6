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
ENTRY_POINT = "app/main_win32.cpp"  # the one place that picks the Win32 backend


def includes(folder: str) -> list[tuple[str, str]]:
    """(file, included folder) for every quoted include of the sources directly in folder:
    "toolkit/..." from the toolkit's include root (the repository's top), others beside the file."""
    found = []
    for source in sorted((REPO / folder).glob("*.[hc]*")):
        for name in INCLUDE.findall(source.read_text()):
            base = REPO if name.startswith("toolkit/") else source.parent
            target = (base / name).resolve().relative_to(REPO)
            found.append((str(source.relative_to(REPO)), str(target.parent)))
    return found


class LayerTest(unittest.TestCase):
    def test_each_folder_includes_only_what_its_layer_may(self) -> None:
        for folder, allowed in ALLOWED.items():
            with self.subTest(folder=folder):
                self.assertTrue((REPO / folder).is_dir(), folder)
                slips = [(f, to) for f, to in includes(folder)
                         if to not in allowed and not (f == ENTRY_POINT and to == "toolkit/win32")]
                self.assertEqual(slips, [])

    def test_the_toolkit_is_reached_through_its_include_root_only(self) -> None:
        # Outside the toolkit nothing climbs into it by a relative path.
        sources = [p for top in ("app", "launcher", "mainwindow", "about", "tests", "bench", "tools")
                   for pattern in ("*.cpp", "*.h") for p in (REPO / top).rglob(pattern)]
        climbing = [str(p.relative_to(REPO)) for p in sources
                    if any("../" in n and "toolkit/" in n for n in INCLUDE.findall(p.read_text(errors="replace")))]
        self.assertEqual(climbing, [])

    def test_every_source_folder_is_placed_in_a_layer(self) -> None:
        folders = {str(p.parent.relative_to(REPO)) for pattern in ("*.cpp", "*.h")
                   for top in ("app", "toolkit", "launcher", "mainwindow", "about")
                   for p in (REPO / top).rglob(pattern)}
        self.assertEqual(folders - ALLOWED.keys(), set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
