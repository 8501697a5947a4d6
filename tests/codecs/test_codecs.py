# The program's own picture decoders against reference decoders: JPEGs made by cjpeg in every
# coding mode the decoder claims, compared with djpeg's output; GIFs compared with Pillow's
# reading. Then damaged files, which may give a picture or nothing but never a fault (the tool
# is built with the address and undefined-behaviour checks); files cut short, which give
# nothing; and forged or oversized files, refused without holding much memory.

import os
import random
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np
from PIL import Image

REPO = Path(__file__).resolve().parents[2]
TOOL = os.environ.get("DECODE_IMAGE", str(REPO / "build" / "native" / "decode_image"))
REGRESSIONS = REPO / "tests" / "fuzz" / "regressions"
SEPARATE_SCANS = "0;\n1;\n2;\n"  # a cjpeg scan script: each component in a scan of its own
# Files that once cost minutes, hundreds of megabytes or a wrong picture (tests/fuzz/make_inputs.py):
# None is refused, True is djpeg's picture.
REGRESSION_RESULTS = {
    "huge_size.jpg": None,              # 150 bytes claiming 4096 x 4096
    "limit_size_no_data.jpg": None,     # 150 bytes claiming 2048 x 2048
    "repeated_scan_1k.jpg": None,       # one scan header over and over, no data
    "repeated_scan_64k.jpg": None,
    "repeated_scan_with_data_64k.jpg": None,  # one complete AC scan over and over
    "many_scans.jpg": None,             # a valid progression of 379 scans
    "half_cut_baseline.jpg": None,
    "rgb_adobe.jpg": True,
    "costliest_64k.jpg": True,          # 2048 x 2048, every block refined 14 times
}


# Gradients, hard edges and noise: every frequency a block can hold.
def sample_picture(w: int, h: int, seed: int = 1) -> np.ndarray:
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), ((x // 5 + y // 3) % 2) * 220], -1)
    return np.clip(rgb + np.random.default_rng(seed).integers(-30, 30, (h, w, 3)), 0, 255).astype(np.uint8)


# Per file: (size or None, most heap held at once in bytes).
def decode(paths, out: Path | None = None) -> list[tuple[tuple[int, int] | None, int]]:
    run = subprocess.run([TOOL, *(["--out", str(out)] if out else []), *map(str, paths)],
                         capture_output=True, text=True, timeout=300)
    if run.returncode != 0 or "runtime error" in run.stderr:
        raise AssertionError(f"decoder fault (exit {run.returncode}):\n{run.stderr[-3000:]}")
    return [(None if size == "empty" else tuple(map(int, size.split())), int(heap))
            for size, heap in (line.split(" | ") for line in run.stdout.splitlines())]


# (start, end) of each SOS segment of a JPEG, its entropy-coded data included.
def scans(data: bytes) -> list[tuple[int, int]]:
    found, pos = [], 2
    while pos + 3 < len(data):
        marker, end = data[pos + 1], pos + 2 + int.from_bytes(data[pos + 2:pos + 4], "big")
        if marker == 0xDA:
            while end + 1 < len(data) and not (data[end] == 0xFF and data[end + 1] not in (0, *range(0xD0, 0xD8))):
                end += 1
            found.append((pos, end))
        pos = end
    return found


# A w x h GIF of four colours whose image data is these 3-bit LZW codes (clear 4, end 5).
def lzw_gif(codes: list[int], w: int, h: int = 1) -> bytes:
    data = sum(c << 3 * i for i, c in enumerate(codes)).to_bytes((3 * len(codes) + 7) // 8, "little")
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0x81, 0, 0) + bytes(range(12)) + b"\x2c" +
            struct.pack("<HHHHB", 0, 0, w, h, 0) + bytes([2, len(data)]) + data + b"\0;")


class CodecTest(unittest.TestCase):
    def setUp(self) -> None:
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = Path(self.tmp.name)

    # cjpeg's file of the picture; the word after -scans is the scan script itself.
    def cjpeg(self, picture: np.ndarray, name: str, *options: str) -> Path:
        src, dst = self.dir / f"{name}.pnm", self.dir / f"{name}.jpg"
        options = [str(self.write(f"{name}.txt", o)) if options[i - 1:i] == ("-scans",) else o for i, o in enumerate(options)]
        Image.fromarray(picture).save(src)
        subprocess.run(["cjpeg", *options, "-outfile", str(dst), str(src)], check=True, timeout=60)
        return dst

    def write(self, name: str, data: bytes | str) -> Path:
        (path := self.dir / name).write_bytes(data.encode() if isinstance(data, str) else data)
        return path

    def test_pictures_decode_as_the_reference_decoders_read_them(self):
        colour, grey = sample_picture(61, 37), sample_picture(61, 37)[..., 1]
        # Bands, components in any order, successive approximation in several steps.
        long = ("0,1,2: 0-0, 0, 2;\n0: 1-5, 0, 3;\n2: 1-63, 0, 2;\n1: 1-63, 0, 2;\n0: 6-63, 0, 3;\n0: 1-63, 3, 2;\n"
                "0: 1-63, 2, 1;\n2: 1-63, 2, 1;\n1: 1-63, 2, 1;\n0,1,2: 0-0, 2, 1;\n0: 1-63, 1, 0;\n1: 1-63, 1, 0;\n"
                "2: 1-63, 1, 0;\n0,1,2: 0-0, 1, 0;\n")
        jpegs = {name: self.cjpeg(pic, name, *opts) for name, (pic, opts) in {
            "baseline_444": (colour, ["-sample", "1x1"]),
            "baseline_422": (colour, ["-sample", "2x1"]),
            "baseline_420_optimized": (colour, ["-sample", "2x2", "-optimize"]),
            "progressive_420": (colour, ["-progressive", "-sample", "2x2"]),
            "progressive_444_q100": (colour, ["-progressive", "-sample", "1x1", "-quality", "100"]),
            "progressive_restart_every_block": (colour, ["-progressive", "-restart", "1B"]),
            "baseline_restart_every_row": (colour, ["-restart", "1"]),
            "extended_16bit_tables": (colour, ["-quality", "1"]),
            "grey_baseline": (grey, []),
            "grey_progressive": (grey, ["-progressive"]),
            "one_pixel": (colour[:1, :1], ["-progressive"]),
            "odd_420": (colour[:9, :17], ["-sample", "2x2"]),
            "vertical_1x2": (colour[:, :1], ["-sample", "1x2"]),
            "components_in_separate_scans": (colour, ["-scans", SEPARATE_SCANS]),
            "long_progression": (colour, ["-progressive", "-scans", long]),
            "rgb": (colour, ["-rgb"]),
            "rgb_420": (colour, ["-rgb", "-sample", "2x2"]),
            "rgb_progressive": (colour, ["-rgb", "-progressive"]),
        }.items()}
        # cjpeg's RGB file has an Adobe marker, transform 0. Without markers the component ids
        # R, G, B say RGB; a JFIF marker, or an Adobe transform 1, says YCbCr whatever the ids.
        rgb = jpegs["rgb"].read_bytes()
        at = rgb.index(b"\xff\xee")
        adobe = rgb[at:at + 2 + int.from_bytes(rgb[at + 2:at + 4], "big")]
        jpegs["rgb_ids_only"] = self.write("ids.jpg", rgb.replace(adobe, b""))
        jpegs["rgb_jfif_beside_adobe"] = self.write(
            "jfif.jpg", rgb[:2] + b"\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + rgb[2:])
        jpegs["rgb_adobe_transform_1"] = self.write("t1.jpg", rgb.replace(adobe, adobe[:-1] + b"\x01"))
        jpegs["shipped_scene"] = REPO / "art" / "scene.jpg"
        jpegs.update({name: REGRESSIONS / name for name, result in REGRESSION_RESULTS.items() if result})
        gifs = {"shipped_logo": REPO / "art" / "logo.gif",
                # A code naming the entry being made (K w K w K): the previous string and its first colour.
                "lzw_code_of_the_entry_being_made": self.write("kwk.gif", lzw_gif([4, 0, 6, 5], 3))}
        for colours, interlace, w, h in [(2, False, 13, 7), (16, True, 40, 33), (256, True, 300, 200),
                                         (256, False, 100, 100)]:
            path = gifs[f"gif_{colours}_colours{'_interlaced' * interlace}"] = self.dir / f"g{colours}{interlace}.gif"
            Image.fromarray(sample_picture(w, h, seed=colours)).quantize(colors=colours, dither=Image.Dither.NONE).save(
                path, interlace=interlace, transparency=1, optimize=False)
        files = {**jpegs, **gifs}
        for i, ((name, path), (size, heap)) in enumerate(zip(files.items(), decode(files.values(), self.dir))):
            with self.subTest(name):
                self.assertLess(heap, 100 << 20)
                if name in jpegs:
                    ppm = self.dir / f"{i}.ppm"
                    subprocess.run(["djpeg", "-ppm", "-outfile", str(ppm), str(path)], check=True, timeout=60)
                    path = ppm
                with Image.open(path) as im:
                    want = np.array(im.convert("RGBA"))
                want[want[..., 3] == 0] = 0  # transparent pixels premultiplied to 0
                h, w = want.shape[:2]
                self.assertEqual(size, (w, h))
                a = np.fromfile(self.dir / f"{i}.raw", dtype="<u4").reshape(h, w)
                ours = np.stack([(a >> 16) & 255, (a >> 8) & 255, a & 255, a >> 24], -1).astype(np.uint8)
                # Same integer transform, upsampling and colour rounding: identical samples.
                self.assertTrue(np.array_equal(ours, want))

    def test_damaged_files_decode_without_fault(self):
        colour = sample_picture(40, 24)
        originals = [REPO / "art" / "scene.jpg", REPO / "art" / "logo.gif", REPO / "art" / "icon00.bmp",
                     self.cjpeg(colour, "base", "-restart", "1B"), self.cjpeg(colour, "prog", "-progressive")]
        rng, damaged = random.Random(7), []
        for o in originals:
            for n in range(200):  # a few bytes changed (files cut short have their own test below)
                b = bytearray(o.read_bytes())
                for _ in range(rng.randint(1, 8)):
                    b[rng.randrange(len(b))] = rng.choice([0, 0xFF, rng.randrange(256)])
                damaged.append(self.write(f"d{len(damaged)}{o.suffix}", bytes(b)))
        self.assertEqual(len(decode(damaged)), len(damaged))

    def test_files_cut_short_give_nothing(self):
        colour = sample_picture(48, 40)
        cases = []  # (name, cut file, whether a picture is right)
        for name, opts in {"baseline": [], "baseline_restarts": ["-restart", "1B"], "progressive": ["-progressive"],
                           "separate_scans": ["-scans", SEPARATE_SCANS]}.items():
            data = self.cjpeg(colour, name, *opts).read_bytes()
            for start, end in scans(data):
                # Inside a scan's data, the picture is missing blocks: nothing. At the next
                # marker every scan so far is whole: a progressive file shows them.
                for cut in sorted({start + (end - start) * i // 8 for i in range(1, 8)} | {end - 1}):
                    cases.append((f"{name} {cut}/{len(data)}", data[:cut], False))
                cases.append((f"{name} at {end}/{len(data)}", data[:end], name == "progressive" or end >= len(data) - 2))
        Image.fromarray(colour).quantize(colors=64).save(self.dir / "cut.gif", interlace=True)
        Image.fromarray(colour).save(self.dir / "cut.bmp")
        for path, tail in [(self.dir / "cut.gif", 2), (self.dir / "cut.bmp", 1)]:  # the GIF's end of data, trailer
            data = path.read_bytes()
            for cut in range(len(data) // 10, len(data) - tail, len(data) // 10):
                cases.append((f"{path.name} {cut}/{len(data)}", data[:cut], False))
        files = [self.write(f"c{i}.bin", data) for i, (_, data, _) in enumerate(cases)]
        for (name, _, whole), (size, _) in zip(cases, decode(files)):
            with self.subTest(name):
                self.assertEqual(size is not None, whole)

    def test_forged_and_oversized_files_are_refused_in_little_memory(self):
        self.assertEqual({f.name for f in REGRESSIONS.iterdir()}, set(REGRESSION_RESULTS))
        cases = {name: (REGRESSIONS / name, None) for name, result in REGRESSION_RESULTS.items() if not result}
        cases["arithmetic"] = (self.cjpeg(sample_picture(16, 16), "arith", "-arithmetic"), None)
        whole = cases["arithmetic"][0].read_bytes()
        cases["headers_only"] = (self.write("headers.jpg", whole[:whole.index(b"\xff\xda")]), None)
        for name, opts in [("baseline", []), ("progressive", ["-progressive"])]:
            data = self.cjpeg(sample_picture(24, 16), name, *opts).read_bytes()
            for i, (start, end) in enumerate(scans(data)):
                cases[f"{name}: scan {i} twice"] = (self.write(f"{name}{i}.jpg", data[:end] + data[start:end] + data[end:]), None)
        (a, b), (c, d) = scans(data)[:2]  # the progressive file's DC scan, then an AC scan
        cases["AC before DC"] = (self.write("swap.jpg", data[:a] + data[c:d] + data[a:b] + data[d:]), None)
        # Over about four megapixels, refused; four, decoded.
        for (w, h), expected in [((3000, 2000), None), ((2000, 2000), (2000, 2000))]:
            grey = np.full((h, w), 128, np.uint8)
            grey[::7] = 30
            cases[f"{w}x{h}.jpg"] = (self.cjpeg(grey, f"{w}", "-grayscale"), expected)
            for fmt, mode in [("gif", "L"), ("bmp", "RGB")]:
                Image.fromarray(grey).convert(mode).save(path := self.dir / f"{w}.{fmt}")
                cases[f"{w}x{h}.{fmt}"] = (path, expected)
        # Damage the reference decoder refuses too: an LZW code past the next free entry (after
        # the clear and a colour that is 6, so 7 names nothing yet), and an image descriptor
        # claiming twice the rows its data holds.
        gifs = {"lzw_code_past_the_table": self.write("past.gif", lzw_gif([4, 0, 7, 5], 3)),
                "data_short_of_its_size": self.write("short.gif", lzw_gif([4, 0, 1, 2, 5], 3, 2))}
        for name, path in gifs.items():
            with self.subTest(name), self.assertRaises(OSError), Image.open(path) as im:
                im.load()
            cases[name] = (path, None)
        for (name, (_, expected)), (size, heap) in zip(cases.items(), decode(path for path, _ in cases.values())):
            with self.subTest(name):
                self.assertEqual(size, expected)
                self.assertLess(heap, 100 << 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
