#!/usr/bin/python3
"""Checks that every asset in art/ has exactly the format the program embeds.

    check_art.py [ART_DIR]

Prints one line per fault and exits 1 if there is any, 0 when all is well.
Besides the formats it regenerates the pixel art and the logo in memory and
compares them byte for byte with the committed files, so a map edited
without rerunning tools/make-art, or a generator that stopped being
deterministic, is caught. The scene is not re-rendered here: too slow.
"""

import importlib
import io
import os
import struct
import sys

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)

BACKGROUND = (191, 184, 191)
NARROW_ICONS = (2, 9, 11)
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
ICON_IMAGE_SIZES = {16: 296, 32: 744}
CURSOR_SIZE = 766
CURSOR_HOTSPOT = (12, 1)
# Every picture is drawn from its 1x file at 96 DPI and from its 2x one above.
SCALES = (1, 2)
SCENE_SIZE = (425, 331)                  # at 1x
# The 1x scene's byte budget; the 2x one has none settled, so only its format counts.
SCENE_BYTES = {1: (14 * 1024, 24 * 1024)}
LOGO_SIZE = 100                          # at 1x, square
LOGO_BYTES = {1: (5 * 1024, 12 * 1024), 2: (10 * 1024, 20 * 1024)}
# Hotspot rectangles (left, top, width, height) of the scene in twips, as the
# main window places them; a pixel is 15 twips at 1x and 15 / scale above.
# Each object's label must lie inside its rectangle and fill most of it.
SCENE_BOXES = {
    1: ("map", (360, 240, 2535, 1575)),
    2: ("clock", (5520, 600, 735, 2055)),
    3: ("monitor", (1920, 1200, 2295, 2295)),
    4: ("left loudspeaker", (1080, 1560, 735, 1695)),
    5: ("right loudspeaker", (4200, 1440, 780, 1830)),
    6: ("globe", (180, 2760, 675, 1230)),
    7: ("modem", (4200, 3240, 735, 495)),
    8: ("CDs", (4920, 3240, 735, 615)),
    10: ("hard-disk end of the case", (4395, 3765, 675, 435)),
    11: ("keyboard", (1440, 4200, 3885, 480)),
    12: ("mouse", (5760, 4200, 615, 375)),
    13: ("keys", (240, 4440, 855, 495)),
}
# The case and its hard-disk end together make up the case hotspot.
CASE_LABELS = (9, 10)
CASE_BOX = (990, 3720, 4065, 555)
TWIPS_PER_PIXEL = 15                     # at 1x
MIN_COVER = 0.6
LABEL_COUNT = 14                         # 0 is no object
# Share of the 1x label map that the 2x one, taken block by block, must repeat.
# Only pixels on an object's edge may honestly differ, about 5% of the scene,
# and even a one-sample 2x render differs on under 0.5%; a 2x map one 1x pixel
# out of place differs on more than 1%.
MIN_LABEL_AGREEMENT = 0.99


class Checker:
    def __init__(self, art):
        self.art = art
        self.faults = []
        self.checked = 0

    def fault(self, name, message):
        self.faults.append("art/%s: %s" % (name, message))

    def read(self, name):
        """The file's bytes, or None and a fault if it is missing."""
        path = os.path.join(self.art, name)
        self.checked += 1
        try:
            with open(path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            self.fault(name, "missing; tools/make-art makes it")
            return None

    def expect(self, name, what, got, want):
        if got != want:
            self.fault(name, "%s is %r, expected %r" % (what, got, want))
            return False
        return True


def scaled_name(name, scale):
    """The file holding `name`'s picture at `scale`: logo.gif, logo@2x.gif."""
    stem, ext = os.path.splitext(name)
    return name if scale == 1 else "%s@%dx%s" % (stem, scale, ext)


# ---------------------------------------------------------------- bitmaps

def rgb_name(rgb):
    return "RGB(%d,%d,%d)" % tuple(rgb)


def check_icon(ck, index):
    name = "icon%02d.bmp" % index
    data = ck.read(name)
    if data is None:
        return
    width = 15 if index in NARROW_ICONS else 16
    stride = (width * 3 + 3) & ~3
    if len(data) < 54:
        ck.fault(name, "only %d bytes, too short for a bitmap" % len(data))
        return
    magic, size, r1, r2, offset = struct.unpack_from("<2sIHHI", data, 0)
    (bi_size, w, h, planes, bpp, compression, image_size, _, _,
     clr_used, _) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    ok = all([
        ck.expect(name, "signature", magic, b"BM"),
        ck.expect(name, "header size", bi_size, 40),
        ck.expect(name, "size", (w, h), (width, 16)),
        ck.expect(name, "planes", planes, 1),
        ck.expect(name, "bits per pixel", bpp, 24),
        ck.expect(name, "compression", compression, 0),
        ck.expect(name, "colours used", clr_used, 0),
        ck.expect(name, "pixel data offset", offset, 54),
        ck.expect(name, "file size field", size, len(data)),
        ck.expect(name, "file length", len(data), 54 + stride * 16),
    ])
    ck.expect(name, "reserved fields", (r1, r2), (0, 0))
    if image_size not in (0, stride * 16):
        ck.fault(name, "image size field %d, expected 0 or %d" % (image_size, stride * 16))
    if not ok:
        return
    rows = [data[54 + stride * (15 - y):54 + stride * (16 - y)] for y in range(16)]
    if any(any(r[width * 3:]) for r in rows):
        ck.fault(name, "row padding bytes are not zero")
    px = np.array([list(r[:width * 3]) for r in rows], np.uint8).reshape(16, width, 3)[..., ::-1]
    for x, y in ((0, 0), (width - 1, 0), (0, 15), (width - 1, 15)):
        if tuple(px[y, x]) != BACKGROUND:
            ck.fault(name, "corner (%d,%d) is %s, expected the background %s"
                     % (x, y, rgb_name(px[y, x]), rgb_name(BACKGROUND)))
    bg = np.all(px == BACKGROUND, axis=-1).mean()
    if not 0.05 <= bg <= 0.8:
        ck.fault(name, "background covers %.0f%% of the icon; expected a picture on it" % (100 * bg))
    if not np.any(px.max(axis=-1) <= 40):
        ck.fault(name, "no dark outline pixels")
    if len(np.unique(px.reshape(-1, 3), axis=0)) < 4:
        ck.fault(name, "fewer than four colours; not a picture")


def parse_icon_image(ck, name, blob, size):
    """Checks a 4-bit icon image blob; returns (indices, transparent) arrays or None."""
    want = ICON_IMAGE_SIZES[size]
    if not ck.expect(name, "%dx%d image size in bytes" % (size, size), len(blob), want):
        return None
    (bi_size, w, h, planes, bpp, compression, image_size, _, _,
     clr_used, _) = struct.unpack_from("<IiiHHIIiiII", blob, 0)
    ok = all([
        ck.expect(name, "header size", bi_size, 40),
        ck.expect(name, "width", w, size),
        ck.expect(name, "height (XOR and AND bitmaps)", h, 2 * size),
        ck.expect(name, "planes", planes, 1),
        ck.expect(name, "bits per pixel", bpp, 4),
        ck.expect(name, "compression", compression, 0),
    ])
    if clr_used not in (0, 16):
        ck.fault(name, "colours used %d, expected 0 or 16" % clr_used)
        ok = False
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    if image_size not in (0, (xor_stride + and_stride) * size):
        ck.fault(name, "image size field %d" % image_size)
    palette = [tuple(blob[40 + 4 * i:43 + 4 * i][::-1]) for i in range(16)]
    if palette != VGA16:
        ck.fault(name, "palette is not the standard 16-colour palette")
        ok = False
    if not ok:
        return None
    xor_at = 40 + 64
    and_at = xor_at + xor_stride * size
    index = np.zeros((size, size), np.uint8)
    clear = np.zeros((size, size), bool)
    for y in range(size):
        xr = blob[xor_at + xor_stride * (size - 1 - y):]
        ar = blob[and_at + and_stride * (size - 1 - y):]
        for x in range(size):
            index[y, x] = (xr[x // 2] >> (0 if x % 2 else 4)) & 15
            clear[y, x] = bool(ar[x // 8] & (0x80 >> (x % 8)))
    if np.any(index[clear] != 0):
        ck.fault(name, "transparent pixels are not black in the XOR bitmap; they would invert the screen")
    share = clear.mean()
    if not 0.05 <= share <= 0.8:
        ck.fault(name, "%.0f%% of the pixels are transparent; expected a picture with a clear surround"
                 % (100 * share))
    return index, clear


def colours_present(index, clear):
    return {VGA16[i] for i in np.unique(index[~clear])}


def check_program_icon(ck):
    blobs = {}
    for size in (16, 32):
        name = "program%d.dib" % size
        blob = ck.read(name)
        if blob is None:
            continue
        parsed = parse_icon_image(ck, name, blob, size)
        if parsed is None:
            continue
        blobs[size] = blob
        present = colours_present(*parsed)
        if (255, 255, 0) not in present:
            ck.fault(name, "no yellow: the folder is missing")
        if not present & {(0, 0, 255), (0, 0, 128)}:
            ck.fault(name, "no blue: the hammer handle is missing")
        if not present & {(255, 0, 0), (128, 0, 0)}:
            ck.fault(name, "no red: the screwdriver handle is missing")
    name = "program.ico"
    data = ck.read(name)
    if data is None:
        return
    if len(data) < 6 + 32:
        ck.fault(name, "only %d bytes" % len(data))
        return
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if not (ck.expect(name, "reserved field", reserved, 0) and ck.expect(name, "type", kind, 1)
            and ck.expect(name, "image count", count, 2)):
        return
    end = 6 + 16 * count
    for i, size in enumerate((16, 32)):
        w, h, colours, res, planes, bpp, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        what = "entry %d" % i
        ck.expect(name, what + " size", (w, h), (size, size))
        ck.expect(name, what + " colour count", colours, 16)
        ck.expect(name, what + " planes/bits", (planes, bpp), (1, 4))
        if not ck.expect(name, what + " length", length, ICON_IMAGE_SIZES[size]):
            continue
        image = data[offset:offset + length]
        if size in blobs and image != blobs[size]:
            ck.fault(name, "%dx%d image differs from program%d.dib" % (size, size, size))
        end = max(end, offset + length)
    ck.expect(name, "file length", len(data), end)


def check_cursor(ck):
    name = "hand.cur"
    data = ck.read(name)
    if data is None:
        return
    if not ck.expect(name, "file length", len(data), CURSOR_SIZE):
        return
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    w, h, colours, res, hx, hy, length, offset = struct.unpack_from("<BBBBHHII", data, 6)
    ok = all([
        ck.expect(name, "reserved field", reserved, 0),
        ck.expect(name, "type (2 = cursor)", kind, 2),
        ck.expect(name, "image count", count, 1),
        ck.expect(name, "size", (w, h), (32, 32)),
        ck.expect(name, "hot spot", (hx, hy), CURSOR_HOTSPOT),
        ck.expect(name, "image length", length, ICON_IMAGE_SIZES[32]),
        ck.expect(name, "image offset", offset, 22),
    ])
    if colours not in (0, 16):
        ck.fault(name, "colour count %d" % colours)
    if not ok:
        return
    parsed = parse_icon_image(ck, name, data[offset:offset + length], 32)
    if parsed is None:
        return
    index, clear = parsed
    x, y = CURSOR_HOTSPOT
    if clear[y, x]:
        ck.fault(name, "the hot spot (%d,%d) is transparent; it must be the fingertip" % (x, y))
    if not clear[:y, :].all():
        ck.fault(name, "opaque pixels above the hot spot; the fingertip must be the top of the hand")
    present = colours_present(index, clear)
    for rgb, what in (((255, 255, 255), "white hand"), ((0, 0, 0), "black outline")):
        if rgb not in present:
            ck.fault(name, "no %s" % what)
    if not present & {(0, 0, 255), (0, 0, 128)}:
        ck.fault(name, "no blue cuff")


# ---------------------------------------------------------------- logo

def gif_blocks(data):
    """Yields (kind, payload) for each block after the colour table."""
    pos = 13
    flags = data[10]
    if flags & 0x80:
        pos += 3 * (2 << (flags & 7))

    def sub_blocks(p):
        chunks = []
        while True:
            n = data[p]
            p += 1
            if n == 0:
                return b"".join(chunks), p
            chunks.append(data[p:p + n])
            p += n

    while pos < len(data):
        tag = data[pos]
        if tag == 0x3B:
            yield "trailer", b""
            return
        if tag == 0x21:
            label = data[pos + 1]
            body, pos = sub_blocks(pos + 2)
            yield "ext%02X" % label, body
        elif tag == 0x2C:
            desc = data[pos + 1:pos + 10]
            pos += 10
            if desc[8] & 0x80:
                pos += 3 * (2 << (desc[8] & 7))
            pos += 1                                   # LZW minimum code size
            _, pos = sub_blocks(pos)
            yield "image", desc
        else:
            raise ValueError("unknown block 0x%02X at byte %d" % (tag, pos))
    raise ValueError("no trailer")


def check_logo(ck, scale):
    name = scaled_name("logo.gif", scale)
    size = LOGO_SIZE * scale
    data = ck.read(name)
    if data is None:
        return
    lo, hi = LOGO_BYTES[scale]
    if not lo <= len(data) <= hi:
        ck.fault(name, "%d bytes, expected %d..%d" % (len(data), lo, hi))
    if not ck.expect(name, "signature", data[:6], b"GIF89a"):
        return
    w, h, flags = struct.unpack_from("<HHB", data, 6)
    if not ck.expect(name, "size", (w, h), (size, size)):
        return
    if not flags & 0x80 or (flags & 7) != 7:
        ck.fault(name, "needs a global colour table of 256 entries")
    try:
        blocks = list(gif_blocks(data))
    except (ValueError, IndexError) as e:
        ck.fault(name, "cannot walk the blocks: %s" % e)
        return
    images = [b for k, b in blocks if k == "image"]
    controls = [b for k, b in blocks if k == "extF9"]
    ck.expect(name, "frame count", len(images), 1)
    for k, body in blocks:
        if k == "extFF" and body[:11] in (b"NETSCAPE2.0", b"ANIMEXTS1.0"):
            ck.fault(name, "has a looping (animation) extension")
    for desc in images:
        x, y, iw, ih, iflags = struct.unpack("<HHHHB", desc)
        ck.expect(name, "frame rectangle", (x, y, iw, ih), (0, 0, size, size))
        if iflags & 0x80:
            ck.fault(name, "frame has its own colour table")
        if iflags & 0x40:
            ck.fault(name, "frame is interlaced")
    if len(controls) != 1:
        ck.fault(name, "expected one graphic control extension, found %d" % len(controls))
    else:
        gce = controls[0]
        if not gce[0] & 1 or gce[3] != 255:
            ck.fault(name, "colour 255 must be the transparent colour")
    try:
        im = Image.open(io.BytesIO(data))
        im.load()
    except Exception as e:                      # any decoder complaint is a fault
        ck.fault(name, "does not decode: %s" % e)
        return
    index = np.asarray(im)
    last = size - 1
    for x, y in ((0, 0), (last, 0), (0, last), (last, last)):
        if index[y, x] != 255:
            ck.fault(name, "corner (%d,%d) is not transparent" % (x, y))
    centre = slice(size * 2 // 5, size * 3 // 5)
    if np.any(index[centre, centre] == 255):
        ck.fault(name, "the centre of the sphere is transparent")
    outside = (index == 255).mean()
    # A disc filling the square leaves 1 - pi/4 = 21% around it.
    if not 0.17 <= outside <= 0.26:
        ck.fault(name, "%.0f%% transparent; a sphere filling the square leaves about 21%%" % (100 * outside))


# ---------------------------------------------------------------- scene

def check_scene(ck, scale):
    """Checks the scene and its label map at `scale`; returns the labels or None."""
    size = (SCENE_SIZE[0] * scale, SCENE_SIZE[1] * scale)
    name = scaled_name("scene.jpg", scale)
    data = ck.read(name)
    if data is not None:
        if scale in SCENE_BYTES:
            lo, hi = SCENE_BYTES[scale]
            if not lo <= len(data) <= hi:
                ck.fault(name, "%d bytes, expected %d..%d" % (len(data), lo, hi))
        frames = []
        pos = 2
        if data[:2] != b"\xff\xd8":
            ck.fault(name, "not a JPEG file")
        else:
            while pos + 4 <= len(data) and data[pos] == 0xFF:
                marker = data[pos + 1]
                if marker == 0xDA:
                    break
                length = struct.unpack_from(">H", data, pos + 2)[0]
                if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
                    frames.append((marker, data[pos + 4:pos + 2 + length]))
                pos += 2 + length
            if len(frames) != 1:
                ck.fault(name, "expected one frame header, found %d" % len(frames))
            else:
                marker, sof = frames[0]
                if marker != 0xC2:
                    ck.fault(name, "frame type SOF%d, expected SOF2 (progressive)" % (marker - 0xC0))
                precision, h, w, ncomp = struct.unpack_from(">BHHB", sof, 0)
                ck.expect(name, "sample precision", precision, 8)
                ck.expect(name, "size", (w, h), size)
                if ck.expect(name, "component count", ncomp, 3):
                    sampling = [sof[6 + 3 * i + 1] for i in range(3)]
                    ck.expect(name, "sampling factors (Y, Cb, Cr)",
                              ["%dx%d" % (s >> 4, s & 15) for s in sampling], ["2x2", "1x1", "1x1"])
        try:
            Image.open(io.BytesIO(data)).load()
        except Exception as e:
            ck.fault(name, "does not decode: %s" % e)

    name = scaled_name("scene_labels.png", scale)
    data = ck.read(name)
    if data is None:
        return None
    try:
        im = Image.open(io.BytesIO(data))
        im.load()
    except Exception as e:
        ck.fault(name, "does not decode: %s" % e)
        return None
    if not ck.expect(name, "size", im.size, size):
        return None
    if im.mode not in ("L", "P", "I", "I;16"):
        ck.fault(name, "mode %s; expected one channel holding label numbers" % im.mode)
        return None
    labels = np.asarray(im).astype(np.int64)
    extra = sorted(set(np.unique(labels)) - set(range(LABEL_COUNT)))
    if extra:
        ck.fault(name, "unknown label values %s" % extra[:10])
    for label, (what, box) in sorted(SCENE_BOXES.items()):
        check_label(ck, name, "label %d (%s)" % (label, what), labels == label, box, scale)
    check_label(ck, name, "labels %d+%d (computer case)" % CASE_LABELS,
                np.isin(labels, CASE_LABELS), CASE_BOX, scale)
    return labels


def check_label(ck, name, what, mask, box, scale):
    ys, xs = np.nonzero(mask)
    if len(xs) == 0:
        ck.fault(name, "%s has no pixels" % what)
        return
    x0, y0, x1, y1 = xs.min(), ys.min(), xs.max() + 1, ys.max() + 1
    left, top, width, height = box
    bx0, by0, bx1, by1 = (scale * t / TWIPS_PER_PIXEL
                          for t in (left, top, left + width, top + height))
    # A label pixel is the object's when it covers most of it, so at 1x an object may reach up
    # to half a pixel past its box unseen. A finer map shows that half 1x pixel: allow it there.
    slack = 0 if scale == 1 else scale / 2
    if x0 < bx0 - slack or y0 < by0 - slack or x1 > bx1 + slack or y1 > by1 + slack:
        ck.fault(name, "%s spans x %d..%d, y %d..%d, outside its box x %g..%g, y %g..%g"
                 % (what, x0, x1 - 1, y0, y1 - 1, bx0, bx1 - 1, by0, by1 - 1))
    if (x1 - x0) < MIN_COVER * (bx1 - bx0) or (y1 - y0) < MIN_COVER * (by1 - by0):
        ck.fault(name, "%s is %dx%d, covers too little of its %gx%g box"
                 % (what, x1 - x0, y1 - y0, bx1 - bx0, by1 - by0))


def check_labels_agree(ck, labels, fine, scale):
    """The label map at `scale` shows the objects where the 1x one does."""
    name = scaled_name("scene_labels.png", scale)
    h, w = labels.shape
    blocks = fine.reshape(h, scale, w, scale)
    # Each block's most common label; ties go to the lower number, towards no object.
    counts = np.stack([(blocks == k).sum(axis=(1, 3)) for k in range(LABEL_COUNT)])
    agree = (counts.argmax(axis=0) == labels).mean()
    if agree < MIN_LABEL_AGREEMENT:
        ck.fault(name, "agrees with scene_labels.png on %.1f%% of the 1x pixels, expected %.0f%% or more"
                 % (100 * agree, 100 * MIN_LABEL_AGREEMENT))


# ---------------------------------------------------------------- generators

def load_module(folder, name):
    sys.dont_write_bytecode = True          # leave no caches in tools/
    sys.path.insert(0, os.path.join(HERE, folder))
    try:
        return importlib.import_module(name)
    finally:
        sys.path.pop(0)


def check_regenerated(ck):
    """The committed files are what the generators make from their sources now."""
    try:
        pixelart = load_module("pixelart", "make_pixelart")
        files, _ = pixelart.build()
    except Exception as e:
        ck.faults.append("tools/pixelart: generator failed: %s" % e)
        files = {}
    try:
        logo = load_module("logo", "make_logo")
        for scale in SCALES:
            files[scaled_name("logo.gif", scale)] = logo.build(scale)
    except Exception as e:
        ck.faults.append("tools/logo: generator failed: %s" % e)
    for name, data in sorted(files.items()):
        path = os.path.join(ck.art, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                if f.read() != data:
                    ck.fault(name, "differs from what its generator makes now; run tools/make-art")


def main(argv):
    art = argv[0] if argv else os.path.join(REPO, "art")
    ck = Checker(art)
    for i in range(13):
        check_icon(ck, i)
    check_program_icon(ck)
    check_cursor(ck)
    for scale in SCALES:
        check_logo(ck, scale)
    labels = {scale: check_scene(ck, scale) for scale in SCALES}
    for scale in SCALES[1:]:
        if labels[1] is not None and labels[scale] is not None:
            check_labels_agree(ck, labels[1], labels[scale], scale)
    check_regenerated(ck)
    for f in ck.faults:
        print(f)
    if ck.faults:
        print("check_art: %d fault(s)" % len(ck.faults))
        return 1
    print("check_art: %d files good" % ck.checked)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
