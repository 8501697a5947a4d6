# The program's own picture decoders against reference decoders: JPEGs made by cjpeg in every
# coding mode the decoder claims, compared with djpeg's output; GIFs made by Pillow, compared
# with Pillow's reading; then damaged files, which may give a picture or nothing but never a
# fault (the tool is built with the address and undefined-behaviour checks).

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


def sample_picture(w: int, h: int, seed: int = 1) -> np.ndarray:
    """Gradients, hard edges and noise: every frequency a block can hold."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), ((x // 5 + y // 3) % 2) * 220], -1)
    rgb = rgb + rng.integers(-30, 30, (h, w, 3))
    return np.clip(rgb, 0, 255).astype(np.uint8)


def decode(paths: list[Path], out: Path | None = None) -> list[tuple[int, int] | None]:
    args = [TOOL] + (["--out", str(out)] if out else []) + [str(p) for p in paths]
    run = subprocess.run(args, capture_output=True, text=True, timeout=300)
    if run.returncode != 0 or "runtime error" in run.stderr:
        raise AssertionError(f"decoder fault (exit {run.returncode}):\n{run.stderr[-3000:]}")
    return [None if line == "empty" else tuple(map(int, line.split())) for line in run.stdout.splitlines()]


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
        subprocess.run(["cjpeg", *options, "-outfile", str(dst), str(src)], check=True)
        return dst

    def djpeg(self, jpeg: Path) -> np.ndarray:
        ppm = jpeg.with_suffix(".ppm")
        subprocess.run(["djpeg", "-ppm", "-outfile", str(ppm), str(jpeg)], check=True)
        with Image.open(ppm) as im:
            return np.asarray(im.convert("RGB"))

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

    def test_progressive_file_cut_after_its_first_scans_still_shows(self):
        whole = self.cjpeg(sample_picture(40, 24), "prog", "-progressive").read_bytes()
        third_scan = [i for i in range(len(whole) - 1) if whole[i:i + 2] == b"\xff\xda"][2]
        cut = self.dir / "cut.jpg"
        cut.write_bytes(whole[:third_scan])
        self.assertEqual(decode([cut]), [(40, 24)])


if __name__ == "__main__":
    unittest.main(verbosity=2)
