#!/usr/bin/python3
"""Render the desk scene of the main window and its hotspot label map.

    /usr/bin/python3 tools/scene/render_scene.py [out-dir] [--preview]

Writes scene.jpg (the picture) and scene_labels.png (one object number per
pixel, see LABELS) into out-dir, by default the repository's art/ folder.
--preview renders one sample per pixel without shadows, for quick layout
work; the committed art always comes from a full render.

The picture is ray marched: every object is a signed distance function in
centimetres, the walls and the desk top are planes.  Lighting is a soft area
light up front on the left (several shadow rays per camera sample), a violet
lamp low on the right that washes the side wall, a weak fill light and a sky
term darkened by ambient occlusion.  The desk top and the monitor glass send
one reflection ray each.  Every random number comes from a fixed seed, so a
run always writes the same bytes.

Coordinates: x to the right, y up (the desk top is y = 0), z away from the
camera.  The objects are placed so that each one falls inside its hotspot
rectangle of the main window; tools/check_art.py verifies that from the label map.
"""

import os
import sys
import time

import numpy as np
from PIL import Image

# --------------------------------------------------------------------------
# Output

WIDTH, HEIGHT = 425, 331
JPEG_QUALITY = 72          # lands the file near 18 KB
JPEG_QUALITY_2X = 50       # twice as fine, so its coarser steps show half as large
SEED = 1998

# Camera samples inside a pixel: an 8-point lattice with one sample in every
# row and column of an 8x8 grid, good on the near-vertical and near-horizontal
# edges this scene is full of.
PIXEL_SAMPLES = [((i + 0.5) / 8, ((3 * i) % 8 + 0.5) / 8) for i in range(8)]
LIGHT_SAMPLES = 4          # area-light shadow rays per camera sample
REFLECT_LIGHT_SAMPLES = 1  # ... per reflection ray

# Object numbers written to the label map.
LABELS = {
    'none': 0, 'map': 1, 'clock': 2, 'monitor': 3, 'left_speaker': 4,
    'right_speaker': 5, 'globe': 6, 'modem': 7, 'cds': 8, 'case': 9,
    'hard_disk': 10, 'keyboard': 11, 'mouse': 12, 'keys': 13,
}

# --------------------------------------------------------------------------
# Camera and room

# A pinhole a little above the desk looking straight at the back wall.  The
# image centre is shifted (a shifted lens), so verticals stay vertical while
# the horizon sits at row 170 and the desk top shows below it.
EYE = np.array([0.0, 25.5, 0.0])
FOCAL = 600.0              # pixels
CENTRE_X, CENTRE_Y = 212.5, 170.0

BACK_Z = 250.0             # back wall plane
RIGHT_X = 57.0             # right-hand wall plane
DESK_FRONT = 85.0          # front edge of the desk, just below the picture


# --------------------------------------------------------------------------
# Small helpers

def srgb(r, g, b):
    """An 8-bit sRGB colour as a linear RGB column vector."""
    return (np.array([r, g, b], dtype=np.float64) / 255.0) ** 2.2


def mix(a, b, t):
    return a + (b - a) * t


def cmix(a, b, t):
    """Blend colours (3,) or (3, N) by weights t (N,)."""
    a, b = np.asarray(a), np.asarray(b)
    a = a[:, None] if a.ndim == 1 else a
    b = b[:, None] if b.ndim == 1 else b
    return a + (b - a) * np.asarray(t)[None]


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def normalize(v):
    return v / np.maximum(np.sqrt((v * v).sum(axis=0)), 1e-12)


def dot(a, b):
    return (a * b).sum(axis=0)


def hash3(ix, iy, iz, seed):
    """Integer lattice -> pseudo-random float in [0, 1)."""
    h = (ix.astype(np.int64) * 73856093) ^ (iy.astype(np.int64) * 19349663) \
        ^ (iz.astype(np.int64) * 83492791) ^ (seed * 2654435761)
    h = h & 0xFFFFFFFF
    h = ((h >> 16) ^ h) * 0x45D9F3B & 0xFFFFFFFF
    h = ((h >> 16) ^ h) * 0x45D9F3B & 0xFFFFFFFF
    h = (h >> 16) ^ h
    return (h & 0xFFFFFF).astype(np.float64) / float(0x1000000)


def value_noise(x, y, z, seed=0):
    ix, iy, iz = np.floor(x), np.floor(y), np.floor(z)
    fx, fy, fz = x - ix, y - iy, z - iz
    ux, uy, uz = (f * f * (3 - 2 * f) for f in (fx, fy, fz))
    ix, iy, iz = ix.astype(np.int64), iy.astype(np.int64), iz.astype(np.int64)
    out = 0.0
    for dx in (0, 1):
        wx = ux if dx else 1 - ux
        for dy in (0, 1):
            wy = uy if dy else 1 - uy
            for dz in (0, 1):
                wz = uz if dz else 1 - uz
                out = out + wx * wy * wz * hash3(ix + dx, iy + dy, iz + dz, seed)
    return out


def fbm(x, y, z, octaves=4, seed=0):
    total, amp, norm = 0.0, 0.5, 0.0
    for o in range(octaves):
        total = total + amp * value_noise(x, y, z, seed + 17 * o)
        norm += amp
        x, y, z = x * 2.03 + 1.7, y * 2.03 - 3.1, z * 2.03 + 0.6
        amp *= 0.5
    return total / norm


# --------------------------------------------------------------------------
# Distance functions.  Arguments are coordinate arrays; sizes are half sizes.

def sd_box(x, y, z, bx, by, bz, r=0.0):
    qx, qy, qz = np.abs(x) - bx + r, np.abs(y) - by + r, np.abs(z) - bz + r
    out = np.sqrt(np.maximum(qx, 0) ** 2 + np.maximum(qy, 0) ** 2 + np.maximum(qz, 0) ** 2)
    return out + np.minimum(np.maximum(qx, np.maximum(qy, qz)), 0) - r


def sd_rect(x, y, bx, by, r=0.0):
    """2-D rounded rectangle."""
    qx, qy = np.abs(x) - bx + r, np.abs(y) - by + r
    return np.sqrt(np.maximum(qx, 0) ** 2 + np.maximum(qy, 0) ** 2) \
        + np.minimum(np.maximum(qx, qy), 0) - r


def sd_sphere(x, y, z, r):
    return np.sqrt(x * x + y * y + z * z) - r


def sd_cylinder(radial, axial, r, h, rounding=0.0):
    """Capped cylinder given the radial distance and the axial coordinate."""
    dx = radial - r + rounding
    dy = np.abs(axial) - h + rounding
    return np.minimum(np.maximum(dx, dy), 0) \
        + np.sqrt(np.maximum(dx, 0) ** 2 + np.maximum(dy, 0) ** 2) - rounding


def sd_torus(radial, axial, big_r, small_r):
    q = radial - big_r
    return np.sqrt(q * q + axial * axial) - small_r


def sd_ellipsoid(x, y, z, rx, ry, rz):
    k0 = np.sqrt((x / rx) ** 2 + (y / ry) ** 2 + (z / rz) ** 2)
    k1 = np.sqrt((x / rx ** 2) ** 2 + (y / ry ** 2) ** 2 + (z / rz ** 2) ** 2)
    return k0 * (k0 - 1.0) / np.maximum(k1, 1e-9)


def sd_capsule(x, y, z, a, b, r):
    pa = np.array([x - a[0], y - a[1], z - a[2]])
    ba = np.asarray(b, dtype=np.float64) - np.asarray(a, dtype=np.float64)
    h = np.clip((pa[0] * ba[0] + pa[1] * ba[1] + pa[2] * ba[2]) / ba.dot(ba), 0, 1)
    d = pa - ba[:, None] * h
    return np.sqrt((d * d).sum(axis=0)) - r


def rotate(a, b, angle):
    """Rotate the coordinate pair (a, b) by -angle (moves a shape by +angle)."""
    c, s = np.cos(angle), np.sin(angle)
    return c * a + s * b, -s * a + c * b


def smooth_min(a, b, k):
    h = np.clip(0.5 + 0.5 * (b - a) / k, 0, 1)
    return b + (a - b) * h - k * h * (1 - h)


class Union:
    """Minimum of several parts; optionally remembers which part is nearest."""

    def __init__(self, track):
        self.track = track
        self.d = None
        self.part = None

    def add(self, d, part):
        if self.d is None:
            self.d = d
            if self.track:
                self.part = np.full(np.shape(d), part, dtype=np.int16)
            return
        if self.track:
            self.part = np.where(d < self.d, part, self.part).astype(np.int16)
        self.d = np.minimum(self.d, d)

    def result(self):
        return (self.d, self.part) if self.track else self.d


# --------------------------------------------------------------------------
# Materials

class Mat:
    """Surface properties of a batch of hit points (arrays over points)."""

    def __init__(self, n, albedo, label):
        self.albedo = np.repeat(np.asarray(albedo, dtype=np.float64)[:, None], n, axis=1)
        self.ks = np.full(n, 0.3)         # highlight strength
        self.shine = np.full(n, 40.0)     # Blinn-Phong exponent
        self.refl = np.zeros(n)           # mirror reflectance at normal incidence
        self.emit = np.zeros((3, n))
        self.label = np.full(n, label, dtype=np.uint8)

    def paint(self, mask, colour=None, ks=None, shine=None, refl=None, emit=None, label=None):
        if colour is not None:
            colour = np.asarray(colour, dtype=np.float64)
            if colour.ndim == 1:
                colour = colour[:, None]
            self.albedo = np.where(mask[None, :], colour, self.albedo)
        for name, val in (('ks', ks), ('shine', shine), ('refl', refl)):
            if val is not None:
                setattr(self, name, np.where(mask, val, getattr(self, name)))
        if emit is not None:
            emit = np.asarray(emit, dtype=np.float64)
            if emit.ndim == 1:
                emit = emit[:, None]
            self.emit = np.where(mask[None, :], emit, self.emit)
        if label is not None:
            self.label = np.where(mask, label, self.label).astype(np.uint8)


CYAN = srgb(38, 186, 196)
CYAN_DARK = srgb(20, 120, 130)
GRILLE = srgb(34, 36, 42)
BRASS = srgb(200, 160, 70)


class Thing:
    """A scene object: a distance function, a bounding box and a material."""
    name = 'none'
    lo = hi = None          # axis-aligned bounds, must contain the surface

    def dist(self, x, y, z, track=False):
        raise NotImplementedError

    def material(self, p, n, part):
        raise NotImplementedError


# ------------------------------------------------------------- framed map

class Map(Thing):
    name = 'map'
    cx, cy = -42.9, 67.75     # centre on the back wall
    hw, hh = 34.4, 21.5       # half size of the frame
    depth = 2.4               # how far the frame stands off the wall
    border = 4.2              # frame width

    def __init__(self):
        self.lo = np.array([self.cx - self.hw - .1, self.cy - self.hh - .1, BACK_Z - self.depth - .1])
        self.hi = np.array([self.cx + self.hw + .1, self.cy + self.hh + .1, BACK_Z + .1])

    def dist(self, x, y, z, track=False):
        u, v, w = x - self.cx, y - self.cy, z - (BACK_Z - self.depth / 2)
        frame = sd_box(u, v, w, self.hw, self.hh, self.depth / 2, 0.7)
        # the opening is bevelled: wider at the front than at the picture
        ib = self.border - 1.2 * np.clip((w + self.depth / 2) / self.depth, 0, 1)
        hole = sd_rect(u, v, self.hw - ib, self.hh - ib, 0.3)
        hole = np.maximum(hole * 0.8, w - 0.1 - 0.3)    # stops at the picture
        frame = np.maximum(frame, -hole)
        picture = sd_box(u, v, w - 0.5, self.hw - self.border + 0.5, self.hh - self.border + 0.5, 0.4)
        un = Union(track)
        un.add(frame, 0)
        un.add(picture, 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(190, 100, 40), LABELS['map'])
        u, v = p[0] - self.cx, p[1] - self.cy
        grain = fbm(u * 0.08, v * 1.6 + u * 0.02, p[2] * 0.1, 3, seed=5)
        m.paint(part == 0, colour=cmix(srgb(140, 66, 22), srgb(205, 115, 45), grain), ks=0.35, shine=30)
        pic = part == 1
        # cloud-like land and sea, with a thin pale margin
        land = fbm(u * 0.09 + 3.0, v * 0.11 - 2.0, 0.3, 5, seed=11)
        fine = fbm(u * 0.5, v * 0.5, 1.7, 3, seed=12)
        sea = cmix(srgb(30, 90, 190), srgb(70, 150, 225), smoothstep(0.25, 0.5, land))
        green = cmix(srgb(40, 120, 40), srgb(140, 190, 70), fine)
        colour = cmix(sea, green, smoothstep(0.49, 0.53, land))
        edge = np.maximum(np.abs(u) - (self.hw - self.border - 0.6), np.abs(v) - (self.hh - self.border - 0.6))
        colour = np.where(edge[None] > 0, srgb(225, 215, 180)[:, None], colour)
        m.paint(pic, colour=colour, ks=0.15, shine=20)
        return m


# ------------------------------------------------------------- wall clock

class Clock(Thing):
    name = 'clock'
    zc, yc = 184.7, 44.5      # centre on the right-hand wall
    radius = 16.6
    thick = 3.4               # how far the rim stands off the wall
    face = 2.7                # face sits this far off the wall

    def __init__(self):
        r = self.radius + .1
        self.lo = np.array([RIGHT_X - self.thick - 0.8, self.yc - r, self.zc - r])
        self.hi = np.array([RIGHT_X + .1, self.yc + r, self.zc + r])
        # ten past ten, as angles clockwise from twelve
        self.hands = [(np.radians(305.0), 0.52, 1.0, 0.35),    # hour
                      (np.radians(60.0), 0.80, 0.7, 0.6)]      # minute

    def local(self, x, y, z):
        # s out of the wall, u to the viewer's right (towards the camera), v up
        return RIGHT_X - x, self.zc - z, y - self.yc

    def dist(self, x, y, z, track=False):
        s, u, v = self.local(x, y, z)
        rho = np.sqrt(u * u + v * v)
        rim = sd_cylinder(rho, s - self.thick / 2, self.radius, self.thick / 2, 0.9)
        recess = np.maximum(rho - (self.radius - 1.7), self.face - s)
        body = np.maximum(rim, -recess)
        un = Union(track)
        un.add(body, 0)
        for i, (ang, length, width, lift) in enumerate(self.hands):
            a, b = rotate(u, v, -ang)          # b runs along the hand
            hl = length * self.radius / 2
            d2 = sd_rect(a, b - hl + 1.2, width, hl + 1.2, 0.3)
            d2 = np.maximum(d2, sd_rect(a, b - hl, width * (1.0 - 0.5 * np.clip(b / (2 * hl), 0, 1)), hl + 1.5))
            un.add(np.maximum(d2, np.abs(s - self.face - lift) - 0.12), 2)
        cap = sd_cylinder(rho, s - self.face - 0.6, 0.8, 0.4, 0.2)
        un.add(cap, 2)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(92, 50, 30), LABELS['clock'])
        s, u, v = self.local(p[0], p[1], p[2])
        rho = np.sqrt(u * u + v * v)
        m.paint(part == 0, ks=0.5, shine=60)
        on_face = (part == 0) & (rho < self.radius - 1.65) & (s < self.face + 0.2)
        ang = np.arctan2(u, v)
        step = 2 * np.pi / 12
        k = ang / step
        off = np.abs(k - np.round(k)) * step * rho            # arc distance to a tick
        hour_tick = (rho > 0.74 * self.radius) & (rho < 0.9 * self.radius) & (off < 0.45)
        k5 = ang / (step / 5)
        min_tick = (rho > 0.85 * self.radius) & (rho < 0.9 * self.radius) & \
            (np.abs(k5 - np.round(k5)) * step / 5 * rho < 0.15)
        face = cmix(srgb(236, 222, 184), srgb(220, 200, 160), smoothstep(0.3, 1.0, rho / self.radius))
        face = np.where((hour_tick | min_tick)[None], srgb(60, 45, 35)[:, None], face)
        m.paint(on_face, colour=face, ks=0.12, shine=20)
        m.paint(part == 2, colour=BRASS, ks=0.9, shine=70)
        return m


# ---------------------------------------------------------------- monitor

class Monitor(Thing):
    name = 'monitor'
    cx, cy = -1.75, 28.55     # centre of the front bezel
    front = 136.0
    hw, hh, hd = 17.6, 17.55, 3.2
    screen_hw, screen_hh, screen_dy = 13.6, 12.0, 1.3

    def __init__(self):
        self.lo = np.array([self.cx - self.hw - .1, 5.8, self.front - .1])
        self.hi = np.array([self.cx + self.hw + .1, self.cy + self.hh + .1, self.front + 32])
        self.foot_z = 145.0

    def dist(self, x, y, z, track=False):
        u, v = x - self.cx, y - self.cy
        zb = z - (self.front + self.hd)
        bezel = sd_box(u, v, zb, self.hw, self.hh, self.hd, 3.4)
        # tube housing behind the bezel, tapering to the back
        zt = z - (self.front + 2 * self.hd + 9.0)
        taper = 1.0 - 0.25 * np.clip((zt + 9.0) / 18.0, 0, 1)
        housing = sd_box(u / taper, v - 1.0, zt, self.hw - 2.5, self.hh - 2.5, 9.0, 4.0) * 0.75
        body = np.minimum(bezel, housing)
        vs = v - self.screen_dy
        opening = sd_rect(u, vs, self.screen_hw, self.screen_hh, 1.6)
        body = np.maximum(body, -np.maximum(opening, z - (self.front + 3.0)))
        # the glass bulges a little
        glass = np.maximum(opening, sd_sphere(u, vs, z - (self.front + 0.5 + 90.0), 90.0))
        un = Union(track)
        un.add(body, 0)
        un.add(glass, 1)
        # swivel foot on the case: neck and base
        neck = sd_box(u, y - 9.5, z - self.foot_z, 4.5, 3.2, 3.5, 1.0)
        base = sd_cylinder(np.sqrt((u / 1.5) ** 2 + (z - self.foot_z) ** 2), y - 6.6, 7.0, 0.7, 0.5) * 0.66
        un.add(np.minimum(neck, base), 2)
        # power lamp on the lower bezel
        lamp = sd_sphere(u - 13.0, v + self.hh - 2.3, z - self.front + 0.05, 0.45)
        un.add(lamp, 3)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], CYAN, LABELS['monitor'])
        m.paint(part == 0, ks=0.45, shine=45)
        m.paint(part == 1, colour=srgb(8, 10, 12), ks=0.9, shine=160, refl=0.02)
        m.paint(part == 2, colour=CYAN_DARK, ks=0.3, shine=30, label=LABELS['none'])
        m.paint(part == 3, colour=srgb(40, 200, 60), emit=srgb(60, 255, 90) * 0.8)
        return m


# ----------------------------------------------------------- loudspeakers

class Speaker(Thing):
    hw, hh, hd = 5.9, 14.0, 5.5
    plate = 0.5               # dark base plate under the cabinet

    def __init__(self, name, cx, bottom, front, yaw, stand):
        self.name = name
        self.bottom = bottom
        self.cx, self.cy = cx, bottom + self.plate + self.hh
        self.cz = front + self.hd
        self.yaw = yaw
        self.stand = stand        # post down to the desk behind the case
        r = np.hypot(self.hw, self.hd) + .2
        self.lo = np.array([cx - r, 0.0 if stand else bottom - .1, self.cz - r])
        self.hi = np.array([cx + r, self.cy + self.hh + .1, self.cz + r])

    def dist(self, x, y, z, track=False):
        u, w = rotate(x - self.cx, z - self.cz, self.yaw)
        v = y - self.cy
        body = sd_box(u, v, w, self.hw, self.hh, self.hd, 2.6)
        # the grille sits in a shallow recess of the front
        recess = np.maximum(self.grille(u, v), w + self.hd - 0.45)
        body = np.maximum(body, -recess)
        un = Union(track)
        un.add(body, 0)
        base = sd_box(u, y - self.bottom - self.plate / 2, w + 0.25, self.hw + 0.1, self.plate / 2,
                      self.hd + 0.1, 0.2)
        if self.stand:
            base = np.minimum(base, sd_cylinder(np.sqrt(u * u + w * w), y - self.bottom / 2, 1.3,
                                                self.bottom / 2, 0.2))
        un.add(base, 2)
        return un.result()

    def grille(self, u, v):
        return sd_rect(u, v - 0.6, self.hw - 1.3, self.hh - 1.8, 1.8)

    def material(self, p, n, part):
        m = Mat(p.shape[1], CYAN, LABELS[self.name])
        m.paint(part == 0, ks=0.45, shine=45)
        u, w = rotate(p[0] - self.cx, p[2] - self.cz, self.yaw)
        v = p[1] - self.cy
        cloth_here = (part == 0) & (self.grille(u, v) < 0.02) & (w > -self.hd + 0.3)
        # perforated grille with the two drivers showing through as rings
        holes = (np.abs(np.mod(u, 0.55) - 0.275) < 0.14) & (np.abs(np.mod(v, 0.55) - 0.275) < 0.14)
        drivers = np.minimum(np.abs(np.hypot(u, v - 6.5) - 3.2), np.abs(np.hypot(u, v + 3.2) - 4.3))
        cloth = cmix(srgb(60, 64, 72), GRILLE, holes.astype(float))
        cloth = cloth * (0.75 + 0.25 * smoothstep(0.0, 0.5, drivers))[None]
        m.paint(cloth_here, colour=cloth, ks=0.15, shine=15)
        m.paint(part == 2, colour=srgb(40, 42, 48), ks=0.5, shine=50, label=LABELS['none'])
        return m


# ------------------------------------------------------------------ globe

class Globe(Thing):
    name = 'globe'
    cx, cz = -49.9, 166.8
    base_r = 5.2
    centre_y = 15.3
    radius = 5.4
    tilt = np.radians(23.0)

    def __init__(self):
        r = self.radius + 1.4
        self.lo = np.array([self.cx - r, 0.0, self.cz - r])
        self.hi = np.array([self.cx + r, self.centre_y + r, self.cz + r])
        self.axis = np.array([np.sin(self.tilt), np.cos(self.tilt), 0.0])

    def dist(self, x, y, z, track=False):
        u, v, w = x - self.cx, y - self.centre_y, z - self.cz
        un = Union(track)
        un.add(sd_sphere(u, v, w, self.radius), 0)
        base = sd_cylinder(np.sqrt(u * u + w * w), y - 0.55, self.base_r, 0.55, 0.35)
        post = sd_cylinder(np.sqrt(u * u + w * w), y - 4.0, 0.55, 4.0, 0.1)
        # half meridian ring in the picture plane, on the right-hand side
        ring_r = self.radius + 0.75
        ring = sd_torus(np.sqrt(u * u + v * v), w, ring_r, 0.32)
        perp = u * np.cos(self.tilt) - v * np.sin(self.tilt)
        ring = np.maximum(ring, -perp - 0.2)
        pins = sd_capsule(u, v, w, -self.axis * (self.radius - 0.3), -self.axis * (ring_r + 0.2), 0.28)
        pins = np.minimum(pins, sd_capsule(u, v, w, self.axis * (self.radius - 0.3), self.axis * (ring_r + 0.2), 0.28))
        un.add(np.minimum(np.minimum(base, post), np.minimum(ring, pins)), 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(40, 32, 28), LABELS['globe'])
        m.paint(part == 1, ks=0.6, shine=50)
        u, v, w = p[0] - self.cx, p[1] - self.centre_y, p[2] - self.cz
        # texture coordinates turn with the tilted axis
        a, b = rotate(u, v, -self.tilt)
        a, w2 = rotate(a, w, 0.9)
        k = 0.33
        land = fbm(a * k + 4.0, b * k, w2 * k, 4, seed=21)
        sea = cmix(srgb(25, 80, 180), srgb(60, 130, 215), smoothstep(0.3, 0.5, land))
        earth = cmix(srgb(50, 140, 50), srgb(130, 160, 70), fbm(a, b, w2, 2, seed=22))
        colour = cmix(sea, earth, smoothstep(0.5, 0.54, land))
        m.paint(part == 0, colour=colour, ks=0.55, shine=60)
        return m


# ------------------------------------------------------------------ modem

class Modem(Thing):
    name = 'modem'
    cx, cy, cz = 23.4, 9.865, 155.5
    hw, hh, hd = 5.25, 3.965, 6.5

    def __init__(self):
        self.lo = np.array([self.cx - self.hw - .1, self.cy - self.hh - .1, self.cz - self.hd - .1])
        self.hi = np.array([self.cx + self.hw + .1, self.cy + self.hh + .1, self.cz + self.hd + .1])

    def dist(self, x, y, z, track=False):
        u, v, w = x - self.cx, y - self.cy, z - self.cz
        body = sd_box(u, v, w, self.hw, self.hh, self.hd, 0.8)
        un = Union(track)
        un.add(body, 0)
        # row of status lamps on the front
        lu = np.clip(np.round((u + 3.0) / 1.2), 0, 5) * 1.2 - 3.0
        lamps = sd_sphere(u - lu, v - 0.8, w + self.hd - 0.05, 0.3)
        un.add(lamps, 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(200, 28, 28), LABELS['modem'])
        u, v = p[0] - self.cx, p[1] - self.cy
        m.paint(part == 0, ks=0.5, shine=50)
        front = (part == 0) & (n[2] < -0.7)
        strip = front & (np.abs(v - 0.8) < 1.05) & (np.abs(u) < 4.2)
        m.paint(strip, colour=srgb(50, 40, 42), ks=0.6, shine=80)
        lit = np.round((u + 3.0) / 1.2) % 3 != 1
        m.paint((part == 1) & lit, colour=srgb(60, 255, 80), emit=srgb(90, 255, 110), ks=0.8, shine=90)
        m.paint((part == 1) & ~lit, colour=srgb(30, 90, 40), ks=0.8, shine=90)
        return m


# -------------------------------------------------------------- CD stack

class CDStack(Thing):
    name = 'cds'
    cx, cz = 42.1, 182.3
    count = 10
    thick = 1.04
    hw, hd = 5.8, 6.0

    def __init__(self):
        rng = np.random.default_rng(SEED + 7)
        self.turn = rng.uniform(-0.04, 0.04, self.count)
        self.shift = rng.uniform(-0.35, 0.35, (self.count, 2))
        r = np.hypot(self.hw, self.hd) + 0.6
        self.lo = np.array([self.cx - r, 0.0, self.cz - r])
        self.hi = np.array([self.cx + r, self.count * self.thick + .1, self.cz + r])

    def dist(self, x, y, z, track=False):
        un = Union(track)
        for i in range(self.count):
            u, w = rotate(x - self.cx - self.shift[i, 0], z - self.cz - self.shift[i, 1], self.turn[i])
            un.add(sd_box(u, y - (i + 0.5) * self.thick, w, self.hw, self.thick / 2 - 0.02, self.hd, 0.18), i)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(80, 200, 215), LABELS['cds'])
        # each case: a clear cyan lid over a darker tray with a spine line
        frac = np.mod(p[1] / self.thick, 1.0)
        tint = np.where(part % 3 == 0, 1.0, np.where(part % 3 == 1, 0.85, 0.7))
        base = srgb(70, 190, 205)[:, None] * tint[None]
        base = np.where(((frac > 0.42) & (frac < 0.58))[None], srgb(20, 80, 95)[:, None], base)
        top = n[1] > 0.7
        insert = fbm(p[0] * 0.4, p[2] * 0.4, 3.0, 2, seed=31)
        base = np.where(top[None], cmix(srgb(220, 120, 60), srgb(90, 60, 160), insert), base)
        m.paint(np.ones(p.shape[1], bool), colour=base, ks=0.9, shine=120)
        return m


# ---------------------------------------------------------- computer case

class Case(Thing):
    name = 'case'
    x0, x1 = -32.47, 27.6
    height = 5.9
    z0, z1 = 133.6, 149.8
    drive_x = 19.6            # left edge of the disk/grille end
    disk_z = 144.2            # the hard-disk end takes the front strip of the top

    def __init__(self):
        self.lo = np.array([self.x0 - .1, -0.1, self.z0 - .1])
        self.hi = np.array([self.x1 + .1, self.height + .1, self.z1 + .1])
        self.c = np.array([(self.x0 + self.x1) / 2, self.height / 2, (self.z0 + self.z1) / 2])
        self.h = np.array([(self.x1 - self.x0) / 2, self.height / 2, (self.z1 - self.z0) / 2])

    def dist(self, x, y, z, track=False):
        u, v, w = x - self.c[0], y - self.c[1], z - self.c[2]
        body = sd_box(u, v, w, self.h[0], self.h[1], self.h[2], 0.7)
        front = z - self.z0
        slot = sd_box(x + 2.0, y - 3.4, front, 6.0, 0.28, 1.0)              # floppy slot
        seam = sd_box(x - self.drive_x, y - self.height / 2, front, 0.12, 2.2, 0.25)
        body = np.maximum(body, -np.minimum(slot, seam))
        button = sd_box(x + 2.0 + 4.5, y - 1.9, front, 0.9, 0.35, 0.25, 0.1)
        power = sd_cylinder(np.hypot(x - self.x0 - 3.0, y - 3.0), front, 0.8, 0.3, 0.1)
        un = Union(track)
        un.add(body, 0)
        un.add(np.minimum(button, power), 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], CYAN, LABELS['case'])
        x, y, z = p
        m.paint(part == 0, ks=0.4, shine=40)
        front = n[2] < -0.6
        # darker drive bezel round the slot
        bay = front & (np.abs(x + 2.0) < 7.2) & (np.abs(y - 3.1) < 1.7)
        m.paint(bay, colour=CYAN_DARK)
        m.paint(front & (np.abs(x + 2.0) < 6.1) & (np.abs(y - 3.4) < 0.4), colour=srgb(15, 20, 22))
        # ventilation grille at the right-hand end
        grille = front & (x > self.drive_x + 1.0) & (x < self.x1 - 1.2) & (y > 1.1) & (y < 4.9)
        slit = np.abs(np.mod(y - 1.1, 0.63) - 0.315) < 0.16
        m.paint(grille & slit, colour=srgb(16, 40, 44), ks=0.1)
        lamp = front & (np.hypot(x - self.drive_x - 1.3, y - 0.75) < 0.3)
        m.paint(lamp, colour=srgb(255, 170, 40), emit=srgb(255, 170, 40) * 0.7)
        m.paint(part == 1, colour=srgb(210, 220, 220), ks=0.4, shine=40)
        m.paint((part == 1) & (x < self.x0 + 5.0), colour=srgb(60, 200, 90), emit=srgb(50, 160, 70))
        disk = (x > self.drive_x) & (z < self.disk_z) & (y > 1.3)
        m.paint(disk, label=LABELS['hard_disk'])
        return m


# ---------------------------------------------------------------- keyboard

class Keyboard(Thing):
    name = 'keyboard'
    x0, x1 = -20.15, 25.05
    z0, z1 = 108.0, 121.7
    slope = np.radians(3.5)
    pitch = 1.9

    def __init__(self):
        self.lo = np.array([self.x0 - .1, -0.1, self.z0 - .1])
        self.hi = np.array([self.x1 + .1, 3.4, self.z1 + .1])
        self.cx = (self.x0 + self.x1) / 2
        self.cz = (self.z0 + self.z1) / 2

    def frame(self, x, y, z):
        # tilt the keyboard up towards the back
        w, v = rotate(z - self.cz, y - 1.55, self.slope)
        return x - self.cx, v, w

    def dist(self, x, y, z, track=False):
        u, v, w = self.frame(x, y, z)
        hw, hd = (self.x1 - self.x0) / 2, (self.z1 - self.z0) / 2
        base = sd_box(u, v, w, hw, 1.0, hd, 0.6)
        base = np.maximum(base, -y)                   # flat underneath
        # main block of 15 columns, gap, keypad of 4 columns, 5 rows
        p = self.pitch
        row = np.clip(np.round((w + 0.2) / p), -2, 2)
        wr = w + 0.2 - row * p
        ku = u + 4.2
        col = np.clip(np.round(ku / p), -7, 7)
        main = sd_box(ku - col * p, v - 1.25, wr, 0.78, 0.38, 0.74, 0.25)
        space = sd_box(ku + 0.9, v - 1.25, w + 0.2 + 2 * p, 5.6, 0.38, 0.74, 0.25)
        main = np.where((row == -2) & (np.abs(ku + 0.9) < 6.6), space, main)
        kp = u - 17.4
        colp = np.clip(np.round(kp / p + 0.5) - 0.5, -1.5, 1.5)
        pad = sd_box(kp - colp * p, v - 1.25, wr, 0.78, 0.38, 0.74, 0.25)
        un = Union(track)
        un.add(base, 0)
        un.add(np.minimum(main, pad), 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(165, 168, 172), LABELS['keyboard'])
        m.paint(part == 0, ks=0.3, shine=30)
        m.paint(part == 1, colour=srgb(60, 200, 215), ks=0.45, shine=50)
        u, v, w = self.frame(p[0], p[1], p[2])
        # three status lamps above the keypad
        lamp = (part == 0) & (np.abs(w - 6.05) < 0.35) & (np.abs(np.mod(u - 15.9, 1.5) - 0.75) < 0.3) & (u > 15.9) & (u < 20.4)
        m.paint(lamp, colour=srgb(80, 230, 90), emit=srgb(60, 200, 80) * 0.5)
        return m


# ------------------------------------------------------------------- mouse

class Mouse(Thing):
    name = 'mouse'
    cx, cz = 38.1, 119.2
    yaw = np.radians(-8.0)

    def __init__(self):
        self.lo = np.array([self.cx - 11.0, -0.1, self.cz - 6.0])
        self.hi = np.array([self.cx + 6.0, 3.5, 149.0])
        # the cable runs back into the side of the computer case
        self.cable = [(self.cx + 0.5, 0.3, self.cz + 5.2), (self.cx - 0.6, 0.3, self.cz + 12.0),
                      (self.cx - 4.0, 0.3, self.cz + 20.0), (self.cx - 8.5, 0.3, self.cz + 26.0),
                      (self.cx - 10.6, 2.0, self.cz + 28.5)]

    def dist(self, x, y, z, track=False):
        u, w = rotate(x - self.cx, z - self.cz, self.yaw)
        # a rounded slab with the palm hump towards the near end
        slab_ = sd_box(u, y - 1.1, w - 0.4, 3.1, 1.1, 4.9, 1.0)
        hump = sd_ellipsoid(u, y - 0.2, w - 0.1, 2.95, 3.0, 4.4)
        body = np.maximum(smooth_min(slab_, hump, 1.2), -y)
        un = Union(track)
        un.add(body, 0)
        cable = None
        for a, b in zip(self.cable[:-1], self.cable[1:]):
            c = sd_capsule(x, y, z, a, b, 0.28)
            cable = c if cable is None else np.minimum(cable, c)
        un.add(cable, 1)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(226, 222, 206), LABELS['mouse'])
        u, w = rotate(p[0] - self.cx, p[2] - self.cz, self.yaw)
        m.paint(part == 0, ks=0.5, shine=60)
        buttons = (part == 0) & (w > 1.2) & (n[1] > 0.3)
        m.paint(buttons, colour=srgb(200, 198, 188))
        seam = buttons & ((np.abs(u) < 0.16) | (w < 1.45))
        m.paint(seam, colour=srgb(95, 92, 88))
        m.paint(part == 1, colour=srgb(60, 60, 64), ks=0.3, shine=30, label=LABELS['none'])
        return m


# -------------------------------------------------------------------- keys

class Keys(Thing):
    """A key ring with four keys fanned out towards the front of the desk."""
    name = 'keys'
    ring_c = np.array([-29.4, 0.95, 108.6])
    ring_r = 1.45
    ring_tilt = np.radians(32.0)     # back of the ring rests on the key heads

    def __init__(self):
        # hole end (on the ring), tip end (on the desk), roll, head colour
        self.keys = [
            ((-30.6, 1.2, 107.6), (-32.2, 0.12, 101.0), 0.3, srgb(225, 40, 40)),
            ((-29.6, 1.5, 107.3), (-29.9, 0.12, 99.3), -0.1, srgb(250, 200, 30)),
            ((-28.6, 1.3, 107.5), (-26.8, 0.12, 100.4), -0.3, srgb(40, 90, 225)),
            ((-28.0, 0.9, 108.0), (-25.4, 0.12, 103.4), -0.4, srgb(40, 175, 70)),
        ]
        self.frames = []
        for start, tip, roll, _ in self.keys:
            start, tip = np.array(start), np.array(tip)
            axis = (tip - start) / np.linalg.norm(tip - start)
            across = np.cross([0.0, 1.0, 0.0], axis)
            across /= np.linalg.norm(across)
            face = np.cross(axis, across)
            c, s_ = np.cos(roll), np.sin(roll)
            across, face = c * across + s_ * face, -s_ * across + c * face
            self.frames.append((start, axis, across, face, np.linalg.norm(tip - start)))
        self.ring_n = np.array([0.0, np.cos(self.ring_tilt), -np.sin(self.ring_tilt)])
        ends = np.array([e for start, tip, _, _ in self.keys for e in (start, tip)])
        ends = np.vstack([ends, self.ring_c - self.ring_r, self.ring_c + self.ring_r])
        self.lo = np.maximum(ends.min(axis=0) - 1.7, [-np.inf, -0.1, -np.inf])
        self.hi = ends.max(axis=0) + 1.7

    def dist(self, x, y, z, track=False):
        un = Union(track)
        rx, ry, rz = x - self.ring_c[0], y - self.ring_c[1], z - self.ring_c[2]
        axial = rx * self.ring_n[0] + ry * self.ring_n[1] + rz * self.ring_n[2]
        radial = np.sqrt(np.maximum(rx * rx + ry * ry + rz * rz - axial * axial, 0))
        un.add(sd_torus(radial, axial, self.ring_r, 0.17), 0)
        for i, (start, axis, across, face, length) in enumerate(self.frames):
            px, py, pz = x - start[0], y - start[1], z - start[2]
            u = px * axis[0] + py * axis[1] + pz * axis[2]
            t = px * across[0] + py * across[1] + pz * across[2]
            s = px * face[0] + py * face[1] + pz * face[2]
            head = sd_box(u - 1.0, t, s, 1.45, 1.25, 0.3, 1.0)
            head = np.maximum(head, -(np.hypot(u - 0.1, t) - 0.4))
            blade_len = length - 2.4
            bu = u - 2.4 - blade_len / 2
            # saw-tooth bit along one edge, plain shank near the head
            teeth = 0.22 * np.abs(np.mod(bu * 1.7, 1.0) - 0.5) * (bu > -blade_len / 2 + 1.0)
            blade = sd_box(bu, t + 0.05 + teeth * 0.5, s, blade_len / 2, 0.5 - teeth * 0.5, 0.1, 0.08)
            un.add(head, 1 + 2 * i)
            un.add(blade * 0.8, 2 + 2 * i)
        return un.result()

    def material(self, p, n, part):
        m = Mat(p.shape[1], srgb(150, 152, 158), LABELS['keys'])
        m.paint(np.ones(p.shape[1], bool), ks=0.8, shine=90)
        for i, (_, _, _, colour) in enumerate(self.keys):
            m.paint(part == 1 + 2 * i, colour=colour, ks=0.5, shine=50)
        m.paint(part == 4, colour=srgb(210, 175, 85))     # a brass key
        return m


THINGS = [Map(), Clock(), Monitor(),
          Speaker('left_speaker', cx=-29.9, bottom=13.3, front=151.0, yaw=np.radians(10.0), stand=True),
          Speaker('right_speaker', cx=23.3, bottom=13.83, front=147.6, yaw=np.radians(-8.0), stand=False),
          Globe(), Modem(), CDStack(), Case(), Keyboard(), Mouse(), Keys()]

# --------------------------------------------------------------------------
# Room surfaces: back wall, right-hand wall, desk top (ids 0..2; things 3..).
# Reflection rays that leave through the open front of the room see OUTSIDE.

BACK, RIGHT, DESK = 0, 1, 2
N_ROOM = 3
OUTSIDE = -1
FAR = 1.0e4


def trace_room(ro, rd):
    """The room is convex, so the exit point is the nearest plane ahead."""
    with np.errstate(divide='ignore', invalid='ignore'):
        tb = np.where(rd[2] > 1e-9, (BACK_Z - ro[2]) / rd[2], np.inf)
        tr = np.where(rd[0] > 1e-9, (RIGHT_X - ro[0]) / rd[0], np.inf)
        td = np.where(rd[1] < -1e-9, -ro[1] / rd[1], np.inf)
    t = np.minimum(np.minimum(tb, tr), td)
    which = np.where(t == tb, BACK, np.where(t == tr, RIGHT, DESK))
    # past the front edge of the desk there is only the dim room behind us
    out = ~np.isfinite(t) | ((which == DESK) & (ro[2] + rd[2] * t < DESK_FRONT))
    return np.where(out, FAR, t), np.where(out, OUTSIDE, which)


def slab(ro, rd, lo, hi):
    with np.errstate(divide='ignore', invalid='ignore'):
        inv = 1.0 / np.where(np.abs(rd) < 1e-12, 1e-12, rd)
        t0 = (lo[:, None] - ro) * inv
        t1 = (hi[:, None] - ro) * inv
    tn = np.minimum(t0, t1).max(axis=0)
    tf = np.maximum(t0, t1).min(axis=0)
    return tn, tf


MAX_STEPS = 110


def march(thing, ro, rd, t_start, t_end):
    """Sphere-trace one thing; returns (index, t) of the rays that hit it."""
    n = ro.shape[1]
    t = t_start.copy()
    active = np.arange(n)
    hit_idx, hit_t = [], []
    for _ in range(MAX_STEPS):
        if not len(active):
            break
        p = ro[:, active] + rd[:, active] * t[active]
        d = thing.dist(p[0], p[1], p[2])
        ta = t[active]
        hit = d < 0.004 + 0.0003 * ta
        hit_idx.append(active[hit])
        hit_t.append(ta[hit])
        t[active] = ta + d * 0.9
        alive = (~hit) & (t[active] < t_end[active])
        active = active[alive]
    if hit_idx:
        return np.concatenate(hit_idx), np.concatenate(hit_t)
    return np.zeros(0, int), np.zeros(0)


def trace(ro, rd, t_min=0.0):
    """Nearest hit among room and things: (t, surface id)."""
    t_best, who = trace_room(ro, rd)
    for k, thing in enumerate(THINGS):
        tn, tf = slab(ro, rd, thing.lo, thing.hi)
        tn = np.maximum(tn, t_min)
        tf = np.minimum(tf, t_best)
        idx = np.nonzero(tn < tf)[0]
        if not len(idx):
            continue
        hi, ht = march(thing, ro[:, idx], rd[:, idx], tn[idx], tf[idx])
        sel = idx[hi]
        closer = ht < t_best[sel]
        t_best[sel[closer]] = ht[closer]
        who[sel[closer]] = N_ROOM + k
    return t_best, who


def occluded(ro, rd, t_max):
    """True where a thing blocks the segment (room planes cast no shadows)."""
    blocked = np.zeros(ro.shape[1], bool)
    for thing in THINGS:
        tn, tf = slab(ro, rd, thing.lo, thing.hi)
        tn = np.maximum(tn, 0.0)
        tf = np.minimum(tf, t_max)
        idx = np.nonzero((tn < tf) & ~blocked)[0]
        if not len(idx):
            continue
        hi, _ = march(thing, ro[:, idx], rd[:, idx], tn[idx], tf[idx])
        blocked[idx[hi]] = True
    return blocked


def scene_dist(p, reach):
    """Distance to the nearest surface, exact only up to `reach` (for AO)."""
    d = np.minimum(np.minimum(BACK_Z - p[2], RIGHT_X - p[0]), p[1])
    for thing in THINGS:
        q = np.maximum(np.maximum(thing.lo[:, None] - p, p - thing.hi[:, None]), 0)
        near = np.nonzero(np.sqrt((q * q).sum(axis=0)) < reach)[0]
        if len(near):
            pn = p[:, near]
            d[near] = np.minimum(d[near], thing.dist(pn[0], pn[1], pn[2]))
    return d


def normals(p, who):
    n = np.zeros_like(p)
    n[:, who == BACK] = np.array([[0.0], [0.0], [-1.0]])
    n[:, who == RIGHT] = np.array([[-1.0], [0.0], [0.0]])
    n[:, who == DESK] = np.array([[0.0], [1.0], [0.0]])
    h = 0.01
    taps = np.array([[1, -1, -1], [-1, -1, 1], [-1, 1, -1], [1, 1, 1]], dtype=np.float64)
    for k, thing in enumerate(THINGS):
        idx = np.nonzero(who == N_ROOM + k)[0]
        if not len(idx):
            continue
        q = p[:, idx]
        g = 0.0
        for e in taps:
            d = thing.dist(q[0] + e[0] * h, q[1] + e[1] * h, q[2] + e[2] * h)
            g = g + e[:, None] * d[None]
        n[:, idx] = normalize(g)
    return n


# --------------------------------------------------------------------------
# Room materials

BACK_BLUE = srgb(74, 128, 236)
SIDE_BLUE = srgb(60, 70, 180)
DESK_BROWN = srgb(116, 64, 32)
OUTSIDE_COLOUR = srgb(40, 50, 90)


def room_material(p, who):
    n = p.shape[1]
    m = Mat(n, BACK_BLUE, LABELS['none'])
    plaster = fbm(p[0] * 0.08, p[1] * 0.08, p[2] * 0.08, 3, seed=41)
    wall = mix(0.93, 1.05, plaster)[None]
    m.albedo = BACK_BLUE[:, None] * wall
    m.ks[:] = 0.05
    m.shine[:] = 8
    side = who == RIGHT
    m.paint(side, colour=SIDE_BLUE[:, None] * wall)
    m.paint(who == OUTSIDE, colour=np.zeros(3), ks=0.0, emit=OUTSIDE_COLOUR)
    desk = who == DESK
    x, z = p[0], p[2]
    # long grain running across the desk, gently wavy
    warp = fbm(x * 0.012, z * 0.08, 0.5, 3, seed=43)
    grain = 0.5 + 0.5 * np.sin((z + 14.0 * warp) * 0.9)
    streak = fbm(x * 0.015, z * 0.9, 1.0, 4, seed=45)
    wood = cmix(DESK_BROWN * 0.75, DESK_BROWN * 1.3, 0.35 * grain + 0.65 * streak)
    m.paint(desk, colour=wood, ks=0.6, shine=90, refl=0.05)
    return m


def material(p, n, who):
    mat = room_material(p, who)
    for k, thing in enumerate(THINGS):
        idx = np.nonzero(who == N_ROOM + k)[0]
        if not len(idx):
            continue
        q = p[:, idx]
        _, part = thing.dist(q[0], q[1], q[2], track=True)
        sub = thing.material(q, n[:, idx], part)
        mat.albedo[:, idx] = sub.albedo
        mat.ks[idx], mat.shine[idx], mat.refl[idx] = sub.ks, sub.shine, sub.refl
        mat.emit[:, idx] = sub.emit
        mat.label[idx] = sub.label
    return mat


# --------------------------------------------------------------------------
# Lights

KEY_CENTRE = np.array([-75.0, 150.0, -25.0])       # soft box up front on the left
KEY_EDGE_U = np.array([50.0, 0.0, -20.0])
KEY_EDGE_V = np.array([0.0, 25.0, 45.0])
KEY_COLOUR = np.array([1.0, 0.96, 0.9]) * 1.35
KEY_DIST = 260.0                                   # where the light is exactly KEY_COLOUR

VIOLET_POS = np.array([45.0, 6.0, 166.0])          # small lamp beside the CDs
VIOLET_AIM = normalize(np.array([[0.8], [0.12], [0.55]]))[:, 0]   # washing the side wall
VIOLET_COLOUR = srgb(225, 70, 255) * 2.2
VIOLET_DIST = 55.0

FILL_DIR = normalize(np.array([[0.5], [0.35], [-1.0]]))[:, 0]
FILL_COLOUR = np.array([0.75, 0.8, 1.0]) * 0.25
SKY = srgb(150, 175, 235) * 0.32
GROUND = srgb(120, 80, 60) * 0.22


def ambient_occlusion(p, n):
    occ = np.zeros(p.shape[1])
    for h, w in ((0.6, 0.9), (1.8, 0.35), (4.0, 0.12), (7.0, 0.05)):
        q = p + n * h
        occ += w * np.maximum(h - scene_dist(q, 7.5), 0) / h
    return np.clip(1.0 - occ, 0.25, 1.0)


def shade(p, n, view, mat, light_samples, rng, shadows=True):
    """Direct light and ambient at the hit points; returns linear RGB (3, N)."""
    count = p.shape[1]
    origin = p + n * 0.03
    colour = np.zeros((3, count))
    seen = np.zeros(count)
    # area light, stratified over its surface
    side = int(np.ceil(np.sqrt(light_samples)))
    for s in range(light_samples):
        cu = (s % side + rng.random(count)) / side - 0.5
        cv = (s // side + rng.random(count)) / side - 0.5
        lp = KEY_CENTRE[:, None] + KEY_EDGE_U[:, None] * cu + KEY_EDGE_V[:, None] * cv
        to = lp - origin
        dist = np.sqrt((to * to).sum(axis=0))
        ldir = to / dist
        ndl = np.maximum(dot(n, ldir), 0)
        lit = ndl > 0
        if shadows:
            idx = np.nonzero(lit)[0]
            blocked = occluded(origin[:, idx], ldir[:, idx], dist[idx])
            lit[idx[blocked]] = False
        fall = (KEY_DIST / dist) ** 2
        w = np.where(lit, ndl * fall, 0) / light_samples
        colour += KEY_COLOUR[:, None] * w
        seen += lit / light_samples
    # highlights aim at the middle of the light, dimmed by how much of it is
    # hidden; sampling them per shadow ray would only add grain
    to = KEY_CENTRE[:, None] - origin
    dist = np.sqrt((to * to).sum(axis=0))
    half = normalize(to / dist - view)
    shine = np.maximum(dot(n, half), 0) ** mat.shine * mat.ks * seen * (KEY_DIST / dist) ** 2
    highlight = KEY_COLOUR[:, None] * (shine * (mat.shine + 8) / 64.0)[None]
    # violet lamp, no shadows
    to = VIOLET_POS[:, None] - p
    dist = np.sqrt((to * to).sum(axis=0))
    ldir = to / dist
    vfall = 1.0 / (1.0 + (dist / VIOLET_DIST) ** 2) * smoothstep(0.45, 0.9, -dot(ldir, VIOLET_AIM[:, None]))
    colour += VIOLET_COLOUR[:, None] * (np.maximum(dot(n, ldir), 0) * vfall)[None]
    colour += FILL_COLOUR[:, None] * np.maximum(dot(n, FILL_DIR[:, None]), 0)[None]
    ao = ambient_occlusion(p, n)
    hemi = mix(GROUND[:, None], SKY[:, None], (0.5 + 0.5 * n[1])[None])
    colour += hemi * ao[None]
    return mat.albedo * colour + highlight + mat.emit


def fresnel(cos_i, f0):
    return f0 + (1 - f0) * (1 - cos_i) ** 5


def render_rays(ro, rd, rng, light_samples, reflect, shadows=True):
    t, who = trace(ro, rd)
    p = ro + rd * t
    n = normals(p, who)
    mat = material(p, n, who)
    col = shade(p, n, rd, mat, light_samples, rng, shadows)
    if reflect:
        shiny = np.nonzero(mat.refl > 0)[0]
        if len(shiny):
            ns, vs = n[:, shiny], rd[:, shiny]
            # a little roughness blurs the reflection like a waxed top
            r = normalize(vs - 2 * dot(vs, ns) * ns + rng.normal(0, 0.006, (3, len(shiny))))
            cos_i = np.clip(-dot(vs, ns), 0, 1)
            f = fresnel(cos_i, mat.refl[shiny]) * np.where(who[shiny] == DESK, 0.55, 1.0)
            rc, _ = render_rays(p[:, shiny] + ns * 0.05, r, rng, REFLECT_LIGHT_SAMPLES, False, shadows)
            col[:, shiny] = col[:, shiny] * (1 - f) + rc * f
    return col, mat.label


def camera_rays(dx, dy, scale=1):
    # At 2x each pixel is half as wide, seen by the same camera: px and py stay in 1x pixels.
    px, py = np.meshgrid((np.arange(WIDTH * scale) + dx) / scale,
                         (np.arange(HEIGHT * scale) + dy) / scale)
    d = np.stack([(px.ravel() - CENTRE_X) / FOCAL, -(py.ravel() - CENTRE_Y) / FOCAL,
                  np.ones(px.size)])
    d = normalize(d)
    o = np.repeat(EYE[:, None], d.shape[1], axis=1)
    return o, d


def tone(linear):
    """Soft shoulder, then sRGB gamma."""
    x = linear / (1.0 + 0.12 * linear)
    return np.clip(x, 0, 1) ** (1 / 2.2)


def render(preview=False, scale=1):
    rng = np.random.default_rng(SEED)
    samples = [(0.5, 0.5)] if preview else PIXEL_SAMPLES
    w, h = WIDTH * scale, HEIGHT * scale
    acc = np.zeros((3, w * h))
    votes = np.zeros((len(LABELS), w * h), np.int32)
    for (dx, dy) in samples:
        o, d = camera_rays(dx, dy, scale)
        col, label = render_rays(o, d, rng, LIGHT_SAMPLES if not preview else 1,
                                 reflect=True, shadows=not preview)
        acc += col
        votes[label, np.arange(label.size)] += 1
    acc /= len(samples)
    rgb = (tone(acc) * 255 + 0.5).astype(np.uint8).T.reshape(h, w, 3)
    # ties go to the lower number, i.e. towards the background
    labels = votes.argmax(axis=0).astype(np.uint8).reshape(h, w)
    return rgb, labels


def main(argv):
    args = [a for a in argv[1:] if not a.startswith('--')]
    preview = '--preview' in argv
    here = os.path.dirname(os.path.abspath(__file__))
    out = args[0] if args else os.path.join(here, '..', '..', 'art')
    os.makedirs(out, exist_ok=True)
    only_2x = '--only-2x' in argv
    start = time.process_time()
    if not only_2x:
        rgb, labels = render(preview)
        Image.fromarray(rgb, 'RGB').save(os.path.join(out, 'scene.jpg'), 'JPEG', quality=JPEG_QUALITY,
                                         progressive=True, subsampling=2, optimize=True)
        Image.fromarray(labels, 'L').save(os.path.join(out, 'scene_labels.png'), optimize=True)
    # The same camera at twice the pixels, for displays above 96 DPI.
    rgb, labels = render(preview, 2)
    Image.fromarray(rgb, 'RGB').save(os.path.join(out, 'scene@2x.jpg'), 'JPEG',
                                     quality=JPEG_QUALITY_2X, progressive=True, subsampling=2,
                                     optimize=True)
    Image.fromarray(labels, 'L').save(os.path.join(out, 'scene_labels@2x.png'), optimize=True)
    print('scene rendered in %.1f s cpu' % (time.process_time() - start), file=sys.stderr)


if __name__ == '__main__':
    main(sys.argv)
