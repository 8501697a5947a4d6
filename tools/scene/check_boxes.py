#!/usr/bin/python3
"""Check a scene label map against the hotspot rectangles.

    /usr/bin/python3 tools/scene/check_boxes.py [scene_labels.png]

For every object prints the bounding box of its pixels next to its hotspot
(x, y, width, height in pixels) and how much of the hotspot's width and
height the object spans.  Fails if a label shows outside its hotspot or
spans less than MIN_SPAN of it either way.
"""

import os
import sys

import numpy as np
from PIL import Image

MIN_SPAN = 0.70

# label numbers (several for a hotspot made of parts) -> hotspot rectangle
HOTSPOTS = [
    ('map', (1,), (24, 16, 169, 105)),
    ('clock', (2,), (368, 40, 49, 137)),
    ('monitor', (3,), (128, 80, 153, 153)),
    ('left speaker', (4,), (72, 104, 49, 113)),
    ('right speaker', (5,), (280, 96, 52, 122)),
    ('globe', (6,), (12, 184, 45, 82)),
    ('modem', (7,), (280, 216, 49, 33)),
    ('CDs', (8,), (328, 216, 49, 41)),
    ('computer case', (9, 10), (66, 248, 271, 37)),
    ('hard disk', (10,), (293, 251, 45, 29)),
    ('keyboard', (11,), (96, 280, 259, 32)),
    ('mouse', (12,), (384, 280, 41, 25)),
    ('keys', (13,), (16, 296, 57, 33)),
]


def check(path):
    labels = np.asarray(Image.open(path))
    assert labels.shape == (331, 425), labels.shape
    ok = True
    for name, numbers, (bx, by, bw, bh) in HOTSPOTS:
        ys, xs = np.nonzero(np.isin(labels, numbers))
        if not len(xs):
            print('%-14s missing' % name)
            ok = False
            continue
        x0, x1, y0, y1 = xs.min(), xs.max() + 1, ys.min(), ys.max() + 1
        inside = x0 >= bx and y0 >= by and x1 <= bx + bw and y1 <= by + bh
        span_w, span_h = (x1 - x0) / bw, (y1 - y0) / bh
        good = inside and span_w >= MIN_SPAN and span_h >= MIN_SPAN
        ok &= good
        print('%-14s object %3d,%3d %3dx%3d  hotspot %3d,%3d %3dx%3d  span %3.0f%% x %3.0f%%  %s' % (
            name, x0, y0, x1 - x0, y1 - y0, bx, by, bw, bh, 100 * span_w, 100 * span_h,
            'ok' if good else ('OUTSIDE' if not inside else 'TOO SMALL')))
    return ok


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', '..', 'art', 'scene_labels.png')
    sys.exit(0 if check(path) else 1)
