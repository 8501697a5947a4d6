#!/usr/bin/python3
"""Turns the text pixel maps in this folder into the program's small bitmaps.

Each map is a text file:

    # comments anywhere
    format bmp24 | ico4 | cur4
    hotspot X Y              (cursors only)
    palette
    C R G B [name]           one line per colour; C is a single character
    C transparent [name]     (ico4/cur4 only: set in the AND mask)
    grid
    <rows of palette characters, all the same length>

Outputs (into the folder given on the command line, art/ by default):
    iconNN.txt    -> iconNN.bmp       24-bit BI_RGB bitmap
    programNN.txt -> programNN.dib    icon image blob (header, palette, XOR, AND)
                     program.ico      both program images in one icon file
    hand.txt      -> hand.cur         one-image cursor

The 4-bit formats use the standard 16-colour palette, so every colour of
an ico4/cur4 map must be one of its entries. The bytes are written by hand
with struct: Pillow cannot produce these exact layouts. The output depends
only on the maps, so running it twice gives the same bytes.

    make_pixelart.py [OUT_DIR] [--preview PNG]
"""

import argparse
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# The 16-colour palette every 4-bit Windows icon and cursor assumes.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Expected outputs, so a missing or misnamed map is an error, not a gap.
ICON_WIDTHS = {i: (15 if i in (2, 9, 11) else 16) for i in range(13)}
PROGRAM_SIZES = (16, 32)
CURSOR_HOTSPOT = (12, 1)


class MapError(Exception):
    pass


def parse_map(path):
    fmt = None
    hotspot = None
    palette = {}
    rows = []
    section = None
    with open(path, encoding="ascii") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            where = "%s:%d" % (os.path.basename(path), lineno)
            if section == "grid":
                # Grid rows may not contain comments; blank lines end nothing.
                if line.strip() == "":
                    continue
                rows.append(line.strip())
                continue
            text = line.split("#", 1)[0].strip()
            if not text:
                continue
            words = text.split()
            if words[0] == "format":
                fmt = words[1]
            elif words[0] == "hotspot":
                hotspot = (int(words[1]), int(words[2]))
            elif words[0] in ("palette", "grid"):
                section = words[0]
            elif section == "palette":
                ch = words[0]
                if len(ch) != 1:
                    raise MapError("%s: palette key must be one character" % where)
                if ch in palette:
                    raise MapError("%s: palette key %r defined twice" % (where, ch))
                if words[1:2] == ["transparent"]:
                    palette[ch] = None
                elif len(words) >= 4 and all(v.isdigit() for v in words[1:4]):
                    rgb = tuple(int(v) for v in words[1:4])
                    if not all(0 <= v <= 255 for v in rgb):
                        raise MapError("%s: colour out of range" % where)
                    palette[ch] = rgb
                else:
                    raise MapError("%s: expected 'C R G B [name]' or 'C transparent'" % where)
            else:
                raise MapError("%s: unexpected line %r" % (where, text))
    name = os.path.basename(path)
    if fmt not in ("bmp24", "ico4", "cur4"):
        raise MapError("%s: missing or unknown format %r" % (name, fmt))
    if not rows:
        raise MapError("%s: empty grid" % name)
    width = len(rows[0])
    for y, row in enumerate(rows):
        if len(row) != width:
            raise MapError("%s: grid row %d is %d wide, expected %d" % (name, y, len(row), width))
        for ch in row:
            if ch not in palette:
                raise MapError("%s: grid row %d uses %r, not in the palette" % (name, y, ch))
    if fmt == "bmp24" and None in palette.values():
        raise MapError("%s: a 24-bit bitmap has no transparency" % name)
    if fmt in ("ico4", "cur4"):
        for ch, rgb in palette.items():
            if rgb is not None and rgb not in VGA16:
                raise MapError("%s: %r = %s is not in the 16-colour palette" % (name, ch, rgb))
    pixels = [[palette[ch] for ch in row] for row in rows]
    return {"name": name, "format": fmt, "hotspot": hotspot,
            "width": width, "height": len(rows), "pixels": pixels}


def bmp24(m):
    w, h = m["width"], m["height"]
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(m["pixels"]):          # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        data += line
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 0, 0, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + bytes(data)


def icon_image(m):
    """Icon/cursor image blob: BITMAPINFOHEADER, 16 colours, XOR and AND bitmaps."""
    w, h = m["width"], m["height"]
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(m["pixels"]):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, rgb in enumerate(row):
            # Transparent pixels are black in the XOR bitmap, so the screen is
            # left as it is rather than inverted.
            index = 0 if rgb is None else VGA16.index(rgb)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if rgb is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 4, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    return info + palette + bytes(xor) + bytes(mask)


def icon_dir(kind, entries):
    """An .ico (kind 1) or .cur (kind 2) file from (map, blob) pairs."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for m, blob in entries:
        if kind == 1:
            field1, field2 = 1, 4               # planes, bits per pixel
        else:
            field1, field2 = m["hotspot"]       # hot spot x, y
        out += struct.pack("<BBBBHHII", m["width"] % 256, m["height"] % 256, 16, 0,
                           field1, field2, len(blob), offset + len(body))
        body += blob
    return out + body


def load(name, fmt, size):
    m = parse_map(os.path.join(HERE, name))
    if m["format"] != fmt:
        raise MapError("%s: expected format %s" % (name, fmt))
    if (m["width"], m["height"]) != size:
        raise MapError("%s: grid is %dx%d, expected %dx%d"
                       % (name, m["width"], m["height"], size[0], size[1]))
    return m


def build():
    """Returns ({output name: bytes}, [maps in display order])."""
    files = {}
    maps = []
    for i, w in ICON_WIDTHS.items():
        m = load("icon%02d.txt" % i, "bmp24", (w, 16))
        files["icon%02d.bmp" % i] = bmp24(m)
        maps.append(m)
    program = []
    for size in PROGRAM_SIZES:
        m = load("program%d.txt" % size, "ico4", (size, size))
        blob = icon_image(m)
        files["program%d.dib" % size] = blob
        program.append((m, blob))
        maps.append(m)
    files["program.ico"] = icon_dir(1, program)
    m = load("hand.txt", "cur4", (32, 32))
    if m["hotspot"] != CURSOR_HOTSPOT:
        raise MapError("hand.txt: hot spot must be %s" % (CURSOR_HOTSPOT,))
    files["hand.cur"] = icon_dir(2, [(m, icon_image(m))])
    maps.append(m)
    return files, maps


def write_preview(maps, path, scale=8, per_row=7):
    """Contact sheet of every map, enlarged, transparency shown as a checker."""
    from PIL import Image
    gap = 8
    tiles = []
    for m in maps:
        img = Image.new("RGB", (m["width"], m["height"]))
        for y, row in enumerate(m["pixels"]):
            for x, rgb in enumerate(row):
                if rgb is None:
                    rgb = (255, 255, 0) if (x + y) % 2 else (0, 160, 160)
                img.putpixel((x, y), rgb)
        tiles.append(img.resize((m["width"] * scale, m["height"] * scale), Image.NEAREST))
    rows = [tiles[i:i + per_row] for i in range(0, len(tiles), per_row)]
    width = max(sum(t.width + gap for t in r) for r in rows) + gap
    height = sum(max(t.height for t in r) + gap for r in rows) + gap
    sheet = Image.new("RGB", (width, height), (255, 255, 255))
    y = gap
    for r in rows:
        x = gap
        for t in r:
            sheet.paste(t, (x, y))
            x += t.width + gap
        y += max(t.height for t in r) + gap
    sheet.save(path)


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("out_dir", nargs="?", default=os.path.join(REPO, "art"), help="folder for the images")
    parser.add_argument("--preview", help="also write an enlarged PNG to look at")
    args = parser.parse_args(argv)
    out_dir, preview = args.out_dir, args.preview
    try:
        files, maps = build()
    except MapError as e:
        print("make_pixelart: %s" % e, file=sys.stderr)
        return 1
    os.makedirs(out_dir, exist_ok=True)
    for name, data in sorted(files.items()):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
    if preview:
        write_preview(maps, preview)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
