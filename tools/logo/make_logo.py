#!/usr/bin/python3
"""Renders the About window's logo: a shaded sphere with swirling green and
white cloud bands, transparent around it, written as a 100x100 GIF89a, or
at --scale 2 as the 200x200 one drawn above 96 DPI.

    make_logo.py [OUT.gif] [--scale N] [--preview PNG]

The file has one frame, a 256-entry global colour table and colour 255 as
the transparent colour; the sphere uses at most the other 255 entries. All
randomness comes from a fixed integer hash, so the output is the same bytes
on every run. The GIF is written by hand (LZW included) because Pillow
decides the table size, block order and extensions itself.
"""

import argparse
import os
import struct
import sys

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

SIZE = 100
SUPER = 4                     # samples per pixel along each axis
TRANSPARENT = 255
# Shows through wherever a viewer ignores transparency: the About window's yellow.
TRANSPARENT_RGB = (255, 255, 0)
# How each scale picks its 255 colours: (method, k-means passes). 1x keeps the
# median cut its file has always been made with. At 2x maximum coverage with
# one k-means pass makes the file a fifth smaller at the same mean colour error
# and half the worst: it spends fewer colours on the near-black shadow and more
# on the highlight, where the median cut shows bands.
QUANTISERS = {1: (Image.Quantize.MEDIANCUT, 0), 2: (Image.Quantize.MAXCOVERAGE, 1)}

GREEN = np.array([22, 150, 48], float)
DEEP_GREEN = np.array([6, 84, 30], float)
WHITE = np.array([246, 250, 244], float)
LIGHT = np.array([-0.55, -0.65, 0.52])      # from the upper left, towards the viewer


# ---------------------------------------------------------------- noise

def _hash(ix, iy, iz, seed):
    """Integer lattice hash to [0, 1); numpy uint32 arithmetic wraps."""
    h = (ix.astype(np.uint32) * np.uint32(0x8DA6B343)
         ^ iy.astype(np.uint32) * np.uint32(0xD8163841)
         ^ iz.astype(np.uint32) * np.uint32(0xCB1AB31F)
         ^ np.uint32((seed * 0x9E3779B9) & 0xFFFFFFFF))
    h ^= h >> np.uint32(15)
    h *= np.uint32(0x2C1B3C6D)
    h ^= h >> np.uint32(12)
    h *= np.uint32(0x297A2D39)
    h ^= h >> np.uint32(15)
    return (h >> np.uint32(8)).astype(np.float64) / float(1 << 24)


def value_noise(p, seed):
    """Smooth 3-D value noise in [0, 1) at points p (..., 3)."""
    i = np.floor(p).astype(np.int64)
    f = p - i
    u = f * f * (3.0 - 2.0 * f)
    out = 0.0
    for dx in (0, 1):
        wx = u[..., 0] if dx else 1.0 - u[..., 0]
        for dy in (0, 1):
            wy = u[..., 1] if dy else 1.0 - u[..., 1]
            for dz in (0, 1):
                wz = u[..., 2] if dz else 1.0 - u[..., 2]
                out = out + wx * wy * wz * _hash(i[..., 0] + dx, i[..., 1] + dy,
                                                 i[..., 2] + dz, seed)
    return out


def fbm(p, octaves, seed):
    """Fractal sum of value noise, centred on 0, roughly in [-1, 1]."""
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total = total + amp * (value_noise(p * (2.0 ** o), seed + 17 * o) - 0.5)
        norm += amp
        amp *= 0.5
    return 2.0 * total / norm


# ---------------------------------------------------------------- picture

def smoothstep(a, b, x):
    t = np.clip((x - a) / (b - a), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def render(scale=1):
    """Returns (rgb uint8 HxWx3, opaque bool HxW) for the logo at `scale` times
    its 1x size. Every scale samples the same sphere and texture, only finer."""
    size = SIZE * scale
    n = size * SUPER
    c = (np.arange(n) + 0.5) / n * 2.0 - 1.0          # -1..1 across the square
    x, y = np.meshgrid(c, c)
    r2 = x * x + y * y
    inside = r2 <= 1.0
    # Only the samples on the sphere are shaded, as a flat list of normals.
    z = np.sqrt(1.0 - r2[inside])
    normal = np.stack([x[inside], y[inside], z], axis=-1)

    # Texture space: the sphere turned a little so the bands run at a slant.
    a, b = 0.42, -0.30
    rot_z = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
    rot_x = np.array([[1, 0, 0], [0, np.cos(b), -np.sin(b)], [0, np.sin(b), np.cos(b)]])
    p = normal @ (rot_x @ rot_z).T

    # Domain warping twists the latitude bands into cloud-like swirls.
    warp = np.stack([fbm(p * 1.3 + 3.1, 4, 11), fbm(p * 1.3 + 7.7, 4, 23),
                     fbm(p * 1.3 + 1.3, 4, 37)], axis=-1)
    q = p + 0.6 * warp
    warp2 = np.stack([fbm(q * 2.6 + 5.3, 4, 101), fbm(q * 2.6 + 2.9, 4, 113),
                      fbm(q * 2.6 + 8.1, 4, 127)], axis=-1)
    q = q + 0.3 * warp2
    band = np.sin(q[..., 1] * 11.0 + 2.0 * fbm(q * 2.3, 5, 51))
    cloud = smoothstep(-0.5, 0.7, band)
    detail = fbm(q * 7.0, 3, 71)
    cloud = np.clip(cloud + 0.35 * detail, 0.0, 1.0)
    greens = GREEN + (DEEP_GREEN - GREEN) * \
        smoothstep(-0.3, 0.5, fbm(q * 3.0, 3, 89))[..., None]
    albedo = greens + (WHITE - greens) * cloud[..., None]

    # Lambert light from the upper left plus a little ambient.
    light = LIGHT / np.linalg.norm(LIGHT)
    lambert = np.clip(normal @ light, 0.0, 1.0)
    shade = 0.08 + 0.95 * lambert
    # Towards the bottom the colours drain to grey and then to black.
    fall = smoothstep(-0.1, 0.95, normal[..., 1])
    grey = albedo @ np.array([0.30, 0.59, 0.11])
    albedo = albedo + (grey[..., None] - albedo) * (0.85 * fall)[..., None]
    shade = shade * (1.0 - 0.9 * fall)

    half = light + np.array([0.0, 0.0, 1.0])
    half /= np.linalg.norm(half)
    shine = np.clip(normal @ half, 0.0, 1.0) ** 36 * 0.75

    rgb = np.zeros((n, n, 3))
    rgb[inside] = np.clip(albedo * shade[..., None] + 255.0 * shine[..., None], 0.0, 255.0)

    # Down to the final size: colour averaged over the samples that hit the
    # sphere, so its rim is not mixed with any background.
    shape = (size, SUPER, size, SUPER)
    hits = inside.reshape(shape).sum(axis=(1, 3))
    total = rgb.reshape(shape + (3,)).sum(axis=(1, 3))
    opaque = hits >= (SUPER * SUPER) / 2
    colour = total / np.maximum(hits, 1)[..., None]
    return np.rint(colour).astype(np.uint8), opaque


def quantise(rgb, opaque, scale=1):
    """Indexed pixels (255 = transparent) and a 256-entry palette."""
    colours = rgb[opaque].reshape(1, -1, 3)
    strip = Image.fromarray(colours, "RGB")
    method, kmeans = QUANTISERS[scale]
    q = strip.quantize(colors=255, method=method, kmeans=kmeans, dither=Image.Dither.NONE)
    used = len(q.getcolors(256))
    palette = q.getpalette()[:3 * used]
    if used > 255:
        raise RuntimeError("quantiser returned %d colours" % used)
    index = np.full(opaque.shape, TRANSPARENT, np.uint8)
    index[opaque] = np.asarray(q, np.uint8).reshape(-1)
    palette = palette + [0] * (3 * 256 - len(palette))
    palette[3 * TRANSPARENT:3 * TRANSPARENT + 3] = TRANSPARENT_RGB
    return index, bytes(palette)


# ---------------------------------------------------------------- GIF

def lzw(data, min_size=8):
    """GIF LZW code stream for a sequence of colour indices."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc, nbits = 0, 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {}, end + 1, min_size + 1

    table, nxt, width = reset()
    emit(clear, width)
    w = data[0]
    for c in data[1:]:
        key = (w, c)
        if key in table:
            w = table[key]
            continue
        emit(w, width)
        if nxt < 4096:
            table[key] = nxt
            nxt += 1
            # The decoder widens its codes one entry later than we add them.
            if nxt > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, nxt, width = reset()
        w = c
    emit(w, width)
    if nxt < 4096:
        nxt += 1
        if nxt > (1 << width) and width < 12:
            width += 1
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif(index, palette):
    h, w = index.shape
    out = bytearray(b"GIF89a")
    # Global colour table present, 8-bit colour resolution, 256 entries.
    out += struct.pack("<HHBBB", w, h, 0xF7, TRANSPARENT, 0)
    out += palette
    # Graphic control extension: no disposal, no delay, transparent index.
    out += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, 0x01, 0, TRANSPARENT, 0)
    out += struct.pack("<BHHHHB", 0x2C, 0, 0, w, h, 0)
    out.append(8)
    codes = lzw(index.reshape(-1).tolist())
    for i in range(0, len(codes), 255):
        chunk = codes[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    out.append(0x3B)
    return bytes(out)


def build(scale=1):
    rgb, opaque = render(scale)
    index, palette = quantise(rgb, opaque, scale)
    return gif(index, palette)


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("out", nargs="?", help="the GIF to write; art/logo.gif or art/logo@2x.gif by default")
    parser.add_argument("--scale", type=int, choices=sorted(QUANTISERS), default=1,
                        help="times the 1x size of 100x100")
    parser.add_argument("--preview", help="also write an enlarged PNG to look at")
    args = parser.parse_args(argv)
    scale, preview = args.scale, args.preview
    out = args.out or os.path.join(REPO, "art", "logo.gif" if scale == 1 else "logo@2x.gif")
    data = build(scale)
    with open(out, "wb") as f:
        f.write(data)
    if preview:
        # What the About window shows: stretched to 78x78 (at 1x) on its yellow.
        s = scale
        logo = Image.open(out).convert("RGBA")
        sheet = Image.new("RGB", ((100 + 78 + 30) * s, 110 * s), (255, 255, 0))
        sheet.paste(logo, (5 * s, 5 * s), logo)
        small = logo.resize((78 * s, 78 * s), Image.BILINEAR)
        sheet.paste(small, (120 * s, 5 * s), small)
        sheet.resize((sheet.width * 4, sheet.height * 4), Image.NEAREST).save(preview)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
