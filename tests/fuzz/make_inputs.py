#!/usr/bin/env python3
# Writes the fuzzing seed corpus (seeds/<format>/) and the regression files (regressions/)
# beside this script. The same tools give the same bytes: pictures are computed here, JPEGs
# that need a real encoder come from cjpeg, GIFs from Pillow, and the forged JPEGs are put
# together marker by marker below.
#
#   python3 tests/fuzz/make_inputs.py

import struct
import subprocess
import tempfile
from pathlib import Path

from PIL import Image

HERE = Path(__file__).resolve().parent


# RGB bytes: gradients, hard edges and a little noise from a fixed generator.
def picture(w: int, h: int, seed: int = 1) -> bytes:
    state, out = seed, bytearray()
    for y in range(h):
        for x in range(w):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            noise = (state >> 16) % 41 - 20
            rgb = (x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), ((x // 5 + y // 3) % 2) * 220)
            out += bytes(max(0, min(255, v + noise)) for v in rgb)
    return bytes(out)


def cjpeg(w: int, h: int, *options: str, grey: bool = False) -> bytes:
    rgb = picture(w, h)
    pnm = f"P{5 if grey else 6}\n{w} {h}\n255\n".encode() + (rgb[1::3] if grey else rgb)
    return subprocess.run(["cjpeg", *options], input=pnm, check=True, capture_output=True, timeout=60).stdout


# --- JPEG put together by hand ---------------------------------------------------------------

SOI, EOI = b"\xff\xd8", b"\xff\xd9"


def segment(marker: int, body: bytes) -> bytes:
    return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body


# SOI, a table of ones, a side x side frame and Huffman tables by name (dc0, ac1, ...):
# each symbol listed is coded one bit longer than the one before it (0, 10, 110, ...); a
# single symbol is the bit 0.
def head(progressive: bool, side: int, components: int, **symbols: int | list[int]) -> bytes:
    frame = struct.pack(">BHHB", 8, side, side, components) + b"".join(bytes([i + 1, 0x11, 0]) for i in range(components))
    tables = b""
    for name, listed in symbols.items():
        listed = listed if isinstance(listed, list) else [listed]
        tables += bytes([(name.startswith("ac")) << 4 | int(name[2:])] + [1] * len(listed) + [0] * (16 - len(listed)) + listed)
    return (SOI + segment(0xDB, bytes([0]) + bytes([1] * 64)) + segment(0xC2 if progressive else 0xC0, frame) +
            segment(0xC4, tables))


def scan(components: list[int], ss: int, se: int, ah: int = 0, al: int = 0, ac_table: int = 0) -> bytes:
    body = bytes([len(components)]) + b"".join(bytes([c, ac_table]) for c in components)
    return segment(0xDA, body + bytes([ss, se, ah << 4 | al]))


# Entropy data of end-of-band runs of 2**r blocks each (code 0, r zero bits), 1-padded.
def eob_runs(blocks: int, r: int) -> bytes:
    bits = "0" * ((1 + r) * (blocks >> r))
    bits += "1" * (-len(bits) % 8)
    return int(bits, 2).to_bytes(len(bits) // 8, "big")


# `start`, then `repeated` as often as fits before a closing EOI within `size` bytes.
def fill(start: bytes, repeated: bytes, size: int) -> bytes:
    return start + repeated * ((size - len(start) - len(EOI)) // len(repeated)) + EOI


def regressions() -> dict[str, bytes]:
    files = {}
    # A 150-byte file whose frame claims 4096 x 4096 in three components: decoding it blindly
    # fills hundreds of megabytes from no data. And the same at 2048 x 2048.
    for name, side in [("huge_size", 4096), ("limit_size_no_data", 2048)]:
        files[f"{name}.jpg"] = fill(head(False, side, 3, dc0=0, ac0=0) + scan([1, 2, 3], 0, 63), b"\0", 150)
    # One scan header repeated with no data after it: every copy decodes a 2048 x 2048 plane
    # of coefficients from nothing (the table's only code is a coefficient, not an end).
    for size, name in [(1024, "1k"), (65536, "64k")]:
        files[f"repeated_scan_{name}.jpg"] = fill(head(True, 2048, 1, ac0=0x01), scan([1], 1, 63), size)
    # The same with real data: a complete DC scan, then one AC scan whose end-of-band runs
    # cover the plane, repeated to 64 KB. Each copy is a valid scan on its own.
    files["repeated_scan_with_data_64k.jpg"] = fill(head(True, 2048, 1, dc0=0, ac0=0xE0) + scan([1], 0, 0) +
                                                    bytes(65536 // 8), scan([1], 1, 63) + eob_runs(65536, 14), 65536)
    # A valid progression of 379 scans: each AC coefficient alone, first at a sixth of its
    # precision then refined bit by bit.
    body = head(True, 256, 1, dc0=0, ac0=0xA0) + scan([1], 0, 0) + bytes(1024 // 8)
    for k in range(1, 64):
        body += b"".join(scan([1], k, k, al + 1 if al < 5 else 0, al) + eob_runs(1024, 10) for al in range(5, -1, -1))
    files["many_scans.jpg"] = body + EOI
    # The most work a valid file of 64 KB could find: a 2048 x 2048 picture in three full-size
    # components, every luma block with one AC coefficient (a full inverse DCT each), each
    # chroma plane coded at its coarsest then refined bit by bit (every block visited 14 times).
    body = head(True, 2048, 3, dc0=0, ac0=[0x01, 0x00], ac1=0xE0) + scan([1, 2, 3], 0, 0) + bytes(3 * 65536 // 8)
    body += scan([1], 1, 63) + b"\x66" * (65536 // 2)  # per block: +1 at k = 1, then the end: 0 1 10
    for c in [2, 3]:
        body += b"".join(scan([c], 1, 63, al + 1 if al < 13 else 0, al, ac_table=1) + eob_runs(65536, 14)
                         for al in range(13, -1, -1))
    files["costliest_64k.jpg"] = body + EOI
    # An RGB JPEG as cjpeg writes it (Adobe marker, transform 0), and a baseline file cut in half.
    files["rgb_adobe.jpg"] = cjpeg(48, 32, "-rgb")
    files["half_cut_baseline.jpg"] = (whole := cjpeg(96, 64, "-quality", "90"))[: len(whole) // 2]
    return files


# --- seeds ----------------------------------------------------------------------------------


def bmp(w: int, h: int, top_down: bool) -> bytes:
    rgb, stride = picture(w, h, seed=w), (w * 3 + 3) & ~3
    rows = [b"".join(rgb[i:i + 3][::-1] for i in range(y * w * 3, (y + 1) * w * 3, 3)).ljust(stride, b"\0")
            for y in range(h)]
    data = b"".join(rows if top_down else reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, w, -h if top_down else h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(info) + len(data), 0, 0, 14 + len(info)) + info + data


def gif(w: int, h: int, colours: int, interlace: bool) -> bytes:
    with tempfile.TemporaryDirectory() as tmp:
        Image.frombytes("RGB", (w, h), picture(w, h, seed=colours)).quantize(colors=colours, dither=Image.Dither.NONE).save(
            path := Path(tmp) / "seed.gif", interlace=interlace, transparency=1, optimize=False)
        return path.read_bytes()


def seeds() -> dict[str, bytes]:
    return {
        "jpeg/baseline_420.jpg": cjpeg(16, 16, "-sample", "2x2"),
        "jpeg/baseline_422_restart_optimized.jpg": cjpeg(24, 16, "-sample", "2x1", "-restart", "1B", "-optimize"),
        "jpeg/baseline_444_q100.jpg": cjpeg(8, 8, "-sample", "1x1", "-quality", "100"),
        "jpeg/grey.jpg": cjpeg(16, 8, grey=True),
        "jpeg/progressive_420.jpg": cjpeg(16, 16, "-progressive", "-sample", "2x2"),
        "jpeg/progressive_grey_restart.jpg": cjpeg(17, 9, "-progressive", "-restart", "1B", grey=True),
        "jpeg/rgb.jpg": cjpeg(8, 8, "-rgb"),
        "jpeg/vertical_1x2.jpg": cjpeg(8, 16, "-sample", "1x2"),
        "gif/two_colours.gif": gif(8, 5, 2, False),
        "gif/interlaced.gif": gif(20, 12, 16, True),
        "gif/full_palette.gif": gif(16, 16, 256, False),
        "bmp/bottom_up.bmp": bmp(5, 3, False),
        "bmp/top_down.bmp": bmp(4, 2, True),
    }


if __name__ == "__main__":
    for folder, files in [("regressions", regressions()), ("seeds", seeds())]:
        for name, data in files.items():
            (path := HERE / folder / name).parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            print(f"{len(data):6d}  {path.relative_to(HERE)}")
