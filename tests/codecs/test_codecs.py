# The program's own picture decoders against reference decoders: JPEGs made by cjpeg in every
# coding mode the decoder claims, compared with djpeg's output; GIFs made by Pillow, compared
# with Pillow's reading; then damaged files, which may give a picture or nothing but never a
# fault (the tool is built with the address and undefined-behaviour checks); files cut short,
# which give nothing; and forged files, which must cost little time and memory.

import os
import random
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np
from PIL import Image

REPO = Path(__file__).resolve().parents[2]
TOOL = os.environ.get("DECODE_IMAGE", str(REPO / "build" / "native" / "decode_image"))
REGRESSIONS = REPO / "tests" / "fuzz" / "regressions"
MB = 1 << 20


def sample_picture(w: int, h: int, seed: int = 1) -> np.ndarray:
    """Gradients, hard edges and noise: every frequency a block can hold."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), ((x // 5 + y // 3) % 2) * 220], -1)
    rgb = rgb + rng.integers(-30, 30, (h, w, 3))
    return np.clip(rgb, 0, 255).astype(np.uint8)


def decode_with_stats(paths: list[Path], out: Path | None = None, timeout: float = 300):
    """Per file: (size or None, most heap held at once in bytes, milliseconds)."""
    args = [TOOL, "--stats"] + (["--out", str(out)] if out else []) + [str(p) for p in paths]
    run = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    if run.returncode != 0 or "runtime error" in run.stderr:
        raise AssertionError(f"decoder fault (exit {run.returncode}):\n{run.stderr[-3000:]}")
    results = []
    for line in run.stdout.splitlines():
        picture, stats = line.split(" | ")
        heap, ms = stats.split()
        results.append((None if picture == "empty" else tuple(map(int, picture.split())), int(heap), float(ms)))
    return results


def decode(paths: list[Path], out: Path | None = None) -> list[tuple[int, int] | None]:
    return [size for size, _, _ in decode_with_stats(paths, out)]


def jpeg_segments(data: bytes) -> list[tuple[int, int, int]]:
    """(marker, start, end) of each segment of a JPEG, a scan's entropy-coded data included in
    its SOS segment; the SOI and EOI markers are segments of their own."""
    segments, pos = [], 0
    while pos + 1 < len(data):
        marker = data[pos + 1]
        end = pos + 2 if marker in (0xD8, 0xD9) else pos + 2 + int.from_bytes(data[pos + 2:pos + 4], "big")
        if marker == 0xDA:
            while end + 1 < len(data) and not (data[end] == 0xFF and data[end + 1] not in (0, *range(0xD0, 0xD8))):
                end += 1
        segments.append((marker, pos, end))
        pos = end
    return segments


def pixels(raw: Path, w: int, h: int) -> np.ndarray:
    """RGBA rows from the tool's 0xAARRGGBB words."""
    a = np.fromfile(raw, dtype="<u4").reshape(h, w)
    return np.stack([(a >> 16) & 255, (a >> 8) & 255, a & 255, a >> 24], -1).astype(np.uint8)


class CodecTest(unittest.TestCase):
    def setUp(self) -> None:
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)

    def tearDown(self) -> None:
        self.tmp.cleanup()

    def cjpeg(self, picture: np.ndarray, name: str, *options: str) -> Path:
        src, dst = self.dir / f"{name}.pnm", self.dir / f"{name}.jpg"
        Image.fromarray(picture).save(src)
        subprocess.run(["cjpeg", *options, "-outfile", str(dst), str(src)], check=True, timeout=60)
        return dst

    def djpeg(self, jpeg: Path) -> np.ndarray:
        ppm = jpeg.with_suffix(".ppm")
        subprocess.run(["djpeg", "-ppm", "-outfile", str(ppm), str(jpeg)], check=True, timeout=60)
        with Image.open(ppm) as im:
            return np.asarray(im.convert("RGB"))

    def write(self, name: str, data: bytes) -> Path:
        path = self.dir / name
        path.write_bytes(data)
        return path

    def assert_matches_djpeg(self, files: dict[str, Path]) -> None:
        """Each file decodes to djpeg's samples exactly, opaque."""
        results = decode(list(files.values()), self.dir)
        for i, (name, path) in enumerate(files.items()):
            with self.subTest(name):
                ref = self.djpeg(path)
                h, w = ref.shape[:2]
                self.assertEqual(results[i], (w, h))
                ours = pixels(self.dir / f"{i}.raw", w, h)
                self.assertTrue((ours[..., 3] == 255).all())
                self.assertEqual(np.abs(ours[..., :3].astype(int) - ref.astype(int)).max(), 0)

    def test_jpeg_modes_match_the_reference_decoder(self):
        colour, grey = sample_picture(61, 37), sample_picture(61, 37)[..., 1]
        cases = {
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
        }
        files = [self.cjpeg(pic, name, *opts) for name, (pic, opts) in cases.items()]
        sizes = decode(files, self.dir)
        for i, (name, (pic, _)) in enumerate(cases.items()):
            with self.subTest(name):
                h, w = pic.shape[:2]
                self.assertEqual(sizes[i], (w, h))
                ours = pixels(self.dir / f"{i}.raw", w, h)
                ref = self.djpeg(files[i])
                self.assertTrue((ours[..., 3] == 255).all())
                diff = np.abs(ours[..., :3].astype(int) - ref.astype(int))
                # Same integer transform, upsampling and colour rounding: identical samples.
                self.assertEqual(diff.max(), 0, name)

    def test_shipped_scene_matches_the_reference_decoder(self):
        scene = REPO / "art" / "scene.jpg"
        self.assertEqual(decode([scene], self.dir), [(425, 331)])
        ours = pixels(self.dir / "0.raw", 425, 331)[..., :3]
        with Image.open(scene) as im:
            self.assertTrue(np.array_equal(ours, np.asarray(im.convert("RGB"))))

    def test_unsupported_jpeg_codings_give_nothing(self):
        colour = sample_picture(16, 16)
        files = [self.cjpeg(colour, "arithmetic", "-arithmetic")]
        whole = files[0].read_bytes()
        headers_only = self.dir / "headers_only.jpg"
        headers_only.write_bytes(whole[: whole.index(b"\xff\xda")])
        self.assertEqual(decode(files + [headers_only]), [None, None])

    def test_gif_first_image_with_transparency_and_interlace(self):
        cases = []
        for colours, interlace, w, h in [(2, False, 13, 7), (16, True, 40, 33), (256, True, 300, 200),
                                         (256, False, 100, 100)]:
            rgb = Image.fromarray(sample_picture(w, h, seed=colours))
            pal = rgb.quantize(colors=colours, dither=Image.Dither.NONE)
            name = self.dir / f"g{colours}_{int(interlace)}.gif"
            pal.save(name, interlace=interlace, transparency=1, optimize=False)
            cases.append(name)
        cases.append(REPO / "art" / "logo.gif")
        sizes = decode(cases, self.dir)
        for i, path in enumerate(cases):
            with self.subTest(path.name):
                with Image.open(path) as ref:
                    w, h = ref.size
                    idx = np.asarray(ref)
                    palette = np.array(ref.getpalette(), dtype=np.uint8).reshape(-1, 3)
                    transparent = idx == ref.info["transparency"]
                self.assertEqual(sizes[i], (w, h))
                ours = pixels(self.dir / f"{i}.raw", w, h)
                self.assertTrue((ours[transparent] == 0).all(), "transparent pixels premultiplied to 0")
                self.assertTrue(np.array_equal(ours[~transparent][:, :3], palette[idx][~transparent]))
                self.assertTrue((ours[~transparent][:, 3] == 255).all())

    def test_damaged_files_decode_without_fault(self):
        colour = sample_picture(40, 24)
        originals = [REPO / "art" / "scene.jpg", REPO / "art" / "logo.gif", REPO / "art" / "icon00.bmp",
                     self.cjpeg(colour, "base", "-restart", "1B"), self.cjpeg(colour, "prog", "-progressive")]
        rng = random.Random(7)
        damaged = []
        for o in originals:
            data = o.read_bytes()
            for n in range(200):
                b = bytearray(data)
                if n % 3 == 0:
                    b = b[: rng.randrange(len(b))]
                else:
                    for _ in range(rng.randint(1, 8)):
                        b[rng.randrange(len(b))] = rng.choice([0, 0xFF, rng.randrange(256)])
                damaged.append(self.dir / f"d{len(damaged)}{o.suffix}")
                damaged[-1].write_bytes(bytes(b))
        self.assertEqual(len(decode(damaged)), len(damaged))

    def test_rgb_jpegs_and_colour_space_markers_read_as_the_reference_decoder_reads_them(self):
        colour = sample_picture(45, 29, seed=3)
        rgb = self.cjpeg(colour, "rgb", "-rgb").read_bytes()
        at = rgb.index(b"\xff\xee")
        adobe = rgb[at:at + 2 + int.from_bytes(rgb[at + 2:at + 4], "big")]
        without_adobe = rgb.replace(adobe, b"")
        jfif = b"\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
        transform_1 = adobe[:-1] + b"\x01"
        self.assert_matches_djpeg({
            "adobe_transform_0": self.write("rgb.jpg", rgb),
            "rgb_420": self.cjpeg(colour, "rgb420", "-rgb", "-sample", "2x2"),
            "rgb_progressive": self.cjpeg(colour, "rgbprog", "-rgb", "-progressive"),
            # Without markers the component ids R, G, B say RGB.
            "ids_only": self.write("ids.jpg", without_adobe),
            # A JFIF marker, or an Adobe transform 1, says YCbCr whatever the ids.
            "jfif_beside_adobe": self.write("jfif.jpg", rgb[:2] + jfif + rgb[2:]),
            "adobe_transform_1": self.write("t1.jpg", rgb.replace(adobe, transform_1)),
        })

    def test_sequential_components_in_separate_scans(self):
        scans = self.dir / "separate.txt"
        scans.write_text("0;\n1;\n2;\n")
        self.assert_matches_djpeg({"separate": self.cjpeg(sample_picture(33, 20), "sep", "-scans", str(scans))})

    def test_a_long_progression_of_ordinary_scans_decodes(self):
        # Bands, components in any order and successive approximation in several steps.
        scans = self.dir / "long.txt"
        scans.write_text("0,1,2: 0-0, 0, 2;\n0: 1-5, 0, 3;\n2: 1-63, 0, 2;\n1: 1-63, 0, 2;\n0: 6-63, 0, 3;\n"
                         "0: 1-63, 3, 2;\n0: 1-63, 2, 1;\n2: 1-63, 2, 1;\n1: 1-63, 2, 1;\n0,1,2: 0-0, 2, 1;\n"
                         "0: 1-63, 1, 0;\n1: 1-63, 1, 0;\n2: 1-63, 1, 0;\n0,1,2: 0-0, 1, 0;\n")
        self.assert_matches_djpeg({"long": self.cjpeg(sample_picture(50, 30), "long", "-progressive", "-scans",
                                                      str(scans))})

    def test_files_cut_short_give_nothing(self):
        colour = sample_picture(48, 40)
        cases = []  # (name, cut file, whether a picture is right)
        jpegs = {"baseline": self.cjpeg(colour, "b"), "baseline_restarts": self.cjpeg(colour, "r", "-restart", "1B"),
                 "progressive": self.cjpeg(colour, "p", "-progressive")}
        for name, path in jpegs.items():
            data = path.read_bytes()
            for marker, start, end in jpeg_segments(data):
                if marker != 0xDA:
                    continue
                # Inside a scan's data, the picture is missing blocks: nothing. At the next
                # marker every scan so far is whole: a progressive file shows them.
                for cut in sorted({start + (end - start) * i // 8 for i in range(1, 8)} | {end - 1}):
                    cases.append((f"{name} {cut}/{len(data)}", data[:cut], False))
                cases.append((f"{name} at {end}/{len(data)}", data[:end], name == "progressive" or end >= len(data) - 2))
        seq = self.dir / "seq.txt"
        seq.write_text("0;\n1;\n2;\n")
        separate = self.cjpeg(colour, "s", "-scans", str(seq)).read_bytes()
        first_scan_end = [end for marker, _, end in jpeg_segments(separate) if marker == 0xDA][0]
        cases.append(("separate scans, luma only", separate[:first_scan_end], False))
        gif = self.dir / "cut.gif"
        Image.fromarray(colour).quantize(colors=64).save(gif, interlace=True)
        bmp = self.dir / "cut.bmp"
        Image.fromarray(colour).save(bmp)
        for path, tail in [(gif, 2), (bmp, 1)]:  # the GIF's last two bytes: end of data, trailer
            data = path.read_bytes()
            for cut in range(len(data) // 10, len(data) - tail, len(data) // 10):
                cases.append((f"{path.name} {cut}/{len(data)}", data[:cut], False))
        files = [self.write(f"c{i}.bin", data) for i, (_, data, _) in enumerate(cases)]
        for (name, _, whole), size in zip(cases, decode(files)):
            with self.subTest(name):
                self.assertEqual(size is not None, whole)

    def test_gif_whose_data_stops_short_of_its_size_gives_nothing(self):
        # The image descriptor claims twice the rows its data holds: Pillow refuses it too.
        path = self.dir / "short.gif"
        Image.fromarray(sample_picture(20, 10)).quantize(colors=16).save(path)
        data = bytearray(path.read_bytes())
        at = data.index(b"\x2c")
        data[at + 7:at + 9] = (20).to_bytes(2, "little")
        path.write_bytes(data)
        with self.assertRaises(OSError), Image.open(path) as im:
            im.load()
        self.assertEqual(decode([path]), [None])

    def test_scans_out_of_turn_are_refused(self):
        progressive = self.cjpeg(sample_picture(24, 16), "p", "-progressive").read_bytes()
        baseline = self.cjpeg(sample_picture(24, 16), "b").read_bytes()
        cases = {}
        for name, data in [("progressive", progressive), ("baseline", baseline)]:
            scans = [(start, end) for marker, start, end in jpeg_segments(data) if marker == 0xDA]
            for i, (start, end) in enumerate(scans):
                cases[f"{name}: scan {i} twice"] = data[:end] + data[start:end] + data[end:]
        first, second = [(s, e) for m, s, e in jpeg_segments(progressive) if m == 0xDA][:2]
        cases["AC before DC"] = (progressive[:first[0]] + progressive[second[0]:second[1]] +
                                 progressive[first[0]:first[1]] + progressive[second[1]:])
        files = [self.write(f"s{i}.jpg", data) for i, data in enumerate(cases.values())]
        for name, size in zip(cases, decode(files)):
            with self.subTest(name):
                self.assertIsNone(size)

    def test_pictures_over_about_four_megapixels_are_refused(self):
        cases = []  # (file, expected size)
        for (w, h), expected in [((3000, 2000), None), ((2000, 2000), (2000, 2000))]:  # 6 MP, 4 MP
            grey = np.full((h, w), 128, np.uint8)
            grey[::7] = 30
            cases.append((self.cjpeg(grey, f"{w}", "-grayscale"), expected))
            for fmt, mode in [("gif", "L"), ("bmp", "RGB")]:
                cases.append((self.dir / f"{w}.{fmt}", expected))
                Image.fromarray(grey).convert(mode).save(cases[-1][0])
        results = decode_with_stats([path for path, _ in cases])
        for (path, expected), (size, heap, _) in zip(cases, results):
            with self.subTest(path.name):
                self.assertEqual(size, expected)
                self.assertLess(heap, 100 * MB)

    def test_progressive_file_cut_after_its_first_scans_still_shows(self):
        whole = self.cjpeg(sample_picture(40, 24), "prog", "-progressive").read_bytes()
        third_scan = [i for i in range(len(whole) - 1) if whole[i:i + 2] == b"\xff\xda"][2]
        cut = self.dir / "cut.jpg"
        cut.write_bytes(whole[:third_scan])
        self.assertEqual(decode([cut]), [(40, 24)])


class RegressionFileTest(unittest.TestCase):
    """Files that once cost minutes, hundreds of megabytes or a wrong picture (made by
    tests/fuzz/make_inputs.py): each gives its right result, quickly and in little memory."""

    # None: refused. REFERENCE: djpeg's picture.
    REFERENCE = "reference"
    EXPECTED = {
        "huge_size.jpg": None,              # 150 bytes claiming 4096 x 4096
        "limit_size_no_data.jpg": None,     # 150 bytes claiming 2048 x 2048
        "repeated_scan_1k.jpg": None,       # one scan header over and over, no data
        "repeated_scan_64k.jpg": None,
        "repeated_scan_with_data_64k.jpg": None,  # one complete AC scan over and over
        "many_scans.jpg": None,             # a valid progression of 379 scans
        "half_cut_baseline.jpg": None,
        "rgb_adobe.jpg": REFERENCE,
        "costliest_64k.jpg": REFERENCE,     # 2048 x 2048, every block refined 14 times
    }
    # Under the address and undefined-behaviour checks, which slow the decoder several times.
    REFUSED_MS, DECODED_MS = 500, 2500

    def test_each_regression_file(self):
        files = sorted(REGRESSIONS.iterdir())
        self.assertEqual({f.name for f in files}, set(self.EXPECTED), "every file has its expected result")
        with tempfile.TemporaryDirectory() as tmp:
            out = Path(tmp)
            results = decode_with_stats(files, out, timeout=120)
            for i, (path, (size, heap, ms)) in enumerate(zip(files, results)):
                with self.subTest(path.name):
                    self.assertTrue(0 <= heap < 100 * MB, f"{heap} bytes of heap")
                    if self.EXPECTED[path.name] is None:
                        self.assertIsNone(size)
                        self.assertLess(ms, self.REFUSED_MS)
                        continue
                    self.assertLess(ms, self.DECODED_MS)
                    ppm = out / f"{i}.ppm"
                    subprocess.run(["djpeg", "-ppm", "-outfile", str(ppm), str(path)], check=True, timeout=60)
                    with Image.open(ppm) as im:
                        ref = np.asarray(im.convert("RGB"))
                    h, w = ref.shape[:2]
                    self.assertEqual(size, (w, h))
                    self.assertTrue(np.array_equal(pixels(out / f"{i}.raw", w, h)[..., :3], ref))


if __name__ == "__main__":
    unittest.main(verbosity=2)
