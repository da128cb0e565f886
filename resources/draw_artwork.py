#!/usr/bin/env python3
"""Draws Corvane's window artwork: the banner, the picture buttons, the window
icon, the hand pointer and the ribbon tab's button pictures.

    python3 draw_artwork.py [OUTDIR]   write the files (default: this folder)
    python3 draw_artwork.py --check    redraw into a scratch folder, compare the
                                       result byte for byte with the files kept
                                       here and check their formats

Only the standard library is used and every step is plain arithmetic, so the
same files come out on every run. Letters are drawn from a small built-in
stroke font (a pen of elliptical nib traced along centre lines) and smoothed
by counting 8 x 8 samples per pixel.
"""

import math
import os
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# 8 x 8 samples per pixel: 64 levels of coverage, enough for smooth edges.
SS = 8

WHITE = (255, 255, 255)
INK = (0x1D, 0x33, 0x57)          # deep slate blue of all lettering
ACCENT = (0x2E, 0x7D, 0xC4)       # the indentation motif
RULE = (0xC6, 0xD2, 0xE1)         # hairline beside the wordmark


# --------------------------------------------------------------------------
# Coverage masks


class Mask:
    """Supersampled coverage of one shape over a pixel rectangle."""

    def __init__(self, x0, y0, w, h):
        self.x0, self.y0, self.w, self.h = x0, y0, w, h
        self.sw, self.sh = w * SS, h * SS
        self.bits = bytearray(self.sw * self.sh)

    def coverage(self):
        """Per pixel: number of covered samples, 0..SS*SS."""
        out = []
        sw, bits = self.sw, self.bits
        for py in range(self.h):
            row = [0] * self.w
            for sy in range(py * SS, py * SS + SS):
                base = sy * sw
                for px in range(self.w):
                    start = base + px * SS
                    row[px] += sum(bits[start:start + SS])
            out.append(row)
        return out


def q(v):
    """Snap a coordinate to 1/1024 pixel so that trigonometry cannot wobble."""
    return round(v * 1024) / 1024


def stamp_stroke(mask, pts, a, b, cap0='round', cap1='round', clip=None):
    """Trace an elliptical pen (half axes a across x, b across y) along a
    polyline given in image pixels. A 'butt' end is cut square to the path;
    ('cut', nx, ny) cuts along the line whose normal (pointing into the
    stroke) is given. clip = (ytop, ybottom) keeps only that band of rows."""
    n = len(pts)
    if n < 2:
        return
    seg_len = [math.hypot(pts[k + 1][0] - pts[k][0], pts[k + 1][1] - pts[k][1])
               for k in range(n - 1)]
    total = sum(seg_len)
    reach = 2.5 * max(a, b)

    def cut_of(cap, p, d):
        if cap == 'round':
            return None
        if cap == 'butt':
            ln = math.hypot(d[0], d[1])
            return (p[0], p[1], d[0] / ln, d[1] / ln)
        return (p[0], p[1], cap[1], cap[2])

    start_cut = cut_of(cap0, pts[0], (pts[1][0] - pts[0][0], pts[1][1] - pts[0][1]))
    end_cut = cut_of(cap1, pts[-1], (pts[-2][0] - pts[-1][0], pts[-2][1] - pts[-1][1]))

    bits, sw, sh = mask.bits, mask.sw, mask.sh
    ox, oy = mask.x0 * SS, mask.y0 * SS
    along = 0.0
    for k in range(n - 1):
        x0, y0 = pts[k]
        x1, y1 = pts[k + 1]
        cuts = []
        if start_cut and along < reach:
            cuts.append(start_cut)
        if end_cut and total - along - seg_len[k] < reach:
            cuts.append(end_cut)
        along += seg_len[k]
        dx, dy = (x1 - x0) / a, (y1 - y0) / b
        l2 = dx * dx + dy * dy
        sx0 = max(0, math.floor((min(x0, x1) - a) * SS) - ox)
        sx1 = min(sw, math.ceil((max(x0, x1) + a) * SS) - ox)
        sy0 = max(0, math.floor((min(y0, y1) - b) * SS) - oy)
        sy1 = min(sh, math.ceil((max(y0, y1) + b) * SS) - oy)
        for sy in range(sy0, sy1):
            py = (sy + oy + 0.5) / SS
            if clip and not (clip[0] <= py <= clip[1]):
                continue
            v = (py - y0) / b
            row = sy * sw
            for sx in range(sx0, sx1):
                if bits[row + sx]:
                    continue
                px = (sx + ox + 0.5) / SS
                u = (px - x0) / a
                t = (u * dx + v * dy) / l2 if l2 > 0 else 0.0
                if t < 0.0:
                    t = 0.0
                elif t > 1.0:
                    t = 1.0
                ex, ey = u - t * dx, v - t * dy
                if ex * ex + ey * ey > 1.0:
                    continue
                if any((px - c[0]) * c[2] + (py - c[1]) * c[3] < 0.0 for c in cuts):
                    continue
                bits[row + sx] = 1


def stamp_polygon(mask, poly):
    """Fill a polygon (image pixels, even-odd rule)."""
    ys = [p[1] for p in poly]
    ox, oy = mask.x0 * SS, mask.y0 * SS
    sy0 = max(0, math.floor(min(ys) * SS) - oy)
    sy1 = min(mask.sh, math.ceil(max(ys) * SS) - oy)
    edges = list(zip(poly, poly[1:] + poly[:1]))
    for sy in range(sy0, sy1):
        py = (sy + oy + 0.5) / SS
        xs = []
        for (xa, ya), (xb, yb) in edges:
            if (ya <= py) != (yb <= py):
                xs.append(xa + (py - ya) * (xb - xa) / (yb - ya))
        xs.sort()
        row = sy * mask.sw
        for i in range(0, len(xs) - 1, 2):
            s0 = max(0, math.ceil(xs[i] * SS - 0.5) - ox)
            s1 = min(mask.sw, math.ceil(xs[i + 1] * SS - 0.5) - ox)
            for sx in range(s0, s1):
                mask.bits[row + sx] = 1


# --------------------------------------------------------------------------
# Images


class Image:
    def __init__(self, w, h, colour=WHITE):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def paint(self, mask, colour):
        """Blend a colour (or a function of the row giving one) through a mask."""
        cov = mask.coverage()
        full = SS * SS
        for my, row in enumerate(cov):
            y = mask.y0 + my
            if not 0 <= y < self.h:
                continue
            c = colour(y) if callable(colour) else colour
            line = self.px[y]
            for mx, n in enumerate(row):
                x = mask.x0 + mx
                if n == 0 or not 0 <= x < self.w:
                    continue
                if n == full:
                    line[x] = c
                else:
                    old = line[x]
                    line[x] = tuple((old[i] * (full - n) + c[i] * n) / full for i in range(3))

    def rgb(self):
        return [[tuple(min(255, max(0, int(v + 0.5))) for v in p) for p in row]
                for row in self.px]


def mix(c0, c1, t):
    return tuple(c0[i] + (c1[i] - c0[i]) * t for i in range(3))


def rounded_rect(x0, y0, x1, y1, r):
    """Outline of a rectangle with quarter-circle corners, as a polygon."""
    pts = []
    corners = ((x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180))
    for cx, cy, start in corners:
        for i in range(17):
            t = math.radians(start + 90 * i / 16)
            pts.append((q(cx + r * math.cos(t)), q(cy + r * math.sin(t))))
    return pts


def fill_shape(img, poly, colour):
    xs = [p[0] for p in poly]
    ys = [p[1] for p in poly]
    x0, y0 = math.floor(min(xs)), math.floor(min(ys))
    m = Mask(x0, y0, math.ceil(max(xs)) - x0, math.ceil(max(ys)) - y0)
    stamp_polygon(m, poly)
    img.paint(m, colour)


# --------------------------------------------------------------------------
# The stroke font. Glyphs are centre lines in a frame with y up from the
# baseline and x from the glyph's left ink edge; each glyph function returns
# (ink width, strokes, left side kind, right side kind).


class Face:
    def __init__(self, cap, xh, a, b, overshoot, side, tracking=0.0):
        self.H, self.X = cap, xh          # cap height, x-height (pixels)
        self.a, self.b = a, b             # pen half width: vertical and horizontal strokes
        self.ov = overshoot               # how far round letters pass the guide lines
        self.side = side                  # side bearing next to a straight stem
        self.tracking = tracking


def arc(cx, cy, rx, ry, t0, t1):
    """Points of an elliptical arc from angle t0 to t1 (degrees, counter-clockwise)."""
    span = abs(t1 - t0)
    n = max(8, int(math.ceil(span / 360.0 * 2 * math.pi * max(rx, ry) / 0.25)))
    return [(cx + rx * math.cos(math.radians(t0 + (t1 - t0) * i / n)),
             cy + ry * math.sin(math.radians(t0 + (t1 - t0) * i / n))) for i in range(n + 1)]


def bezier(p0, p1, p2, p3, n=24):
    out = []
    for i in range(n + 1):
        t = i / n
        s = 1 - t
        out.append((s * s * s * p0[0] + 3 * s * s * t * p1[0] + 3 * s * t * t * p2[0] + t * t * t * p3[0],
                    s * s * s * p0[1] + 3 * s * s * t * p1[1] + 3 * s * t * t * p2[1] + t * t * t * p3[1]))
    return out


def S(pts, cap0='round', cap1='round', clip=None):
    return (pts, cap0, cap1, clip)


def extend(p, towards, by):
    """p moved away from towards by the given length (to push a clipped end out)."""
    dx, dy = p[0] - towards[0], p[1] - towards[1]
    ln = math.hypot(dx, dy)
    return (p[0] + dx / ln * by, p[1] + dy / ln * by)


def bowl(f, width):
    """Centre ellipse of a round x-height letter of the given ink width."""
    return (width / 2, f.X / 2, width / 2 - f.a, f.X / 2 + f.ov - f.b)


def g_o(f):
    w = round(f.X * 1.06)
    cx, cy, rx, ry = bowl(f, w)
    return w, [S(arc(cx, cy, rx, ry, 0, 360))], 'round', 'round'


def g_c(f):
    w = round(f.X * 1.06)
    cx, cy, rx, ry = bowl(f, w)
    return round(w * 0.9), [S(arc(cx, cy, rx, ry, 48, 312), 'butt', 'butt')], 'round', 'open'


def g_e(f):
    w = round(f.X * 1.06)
    cx, cy, rx, ry = bowl(f, w)
    bar = cy + f.b * 0.3
    strokes = [S([(cx - rx, bar), (cx + rx, bar)]),
               S(arc(cx, cy, rx, ry, math.degrees(math.asin((bar - cy) / ry)), 322), 'round', 'butt')]
    return w, strokes, 'round', 'open'


def arch(f, left, right):
    """The shoulder of n, r and the top of a: half ellipse between two stems."""
    rx = (right - left) / 2
    ry = rx * 0.92
    cy = f.X + f.ov * 0.5 - f.b - ry
    return (left + right) / 2, cy, rx, ry


def g_n(f):
    w = round(f.X * 0.98)
    a = f.a
    cx, cy, rx, ry = arch(f, a, w - a)
    strokes = [S([(a, 0), (a, f.X)], 'butt', 'butt'),
               S(arc(cx, cy, rx, ry, 180, 0) + [(w - a, 0)], 'round', 'butt')]
    return w, strokes, 'straight', 'straight'


def g_r(f):
    wn = round(f.X * 0.98)
    a = f.a
    cx, cy, rx, ry = arch(f, a, wn - a)
    end = 62
    w = round(cx + rx * math.cos(math.radians(end)) + a * 0.8)
    strokes = [S([(a, 0), (a, f.X)], 'butt', 'butt'),
               S(arc(cx, cy, rx, ry, 180, end), 'round', 'butt')]
    return w, strokes, 'straight', 'open'


def g_a(f):
    w = round(f.X * 0.92)
    a, b = f.a, f.b
    stem = w - a
    # top: a hook that comes down into the stem
    cx, cy, rx, ry = arch(f, a * 0.9, stem)
    top = arc(cx, cy, rx, ry, 152, 0)
    # bowl: from the stem across at mid height, round the left, back into the stem foot
    yb = f.X * 0.56
    bl = b - f.ov
    mid = (yb + bl) / 2
    bx = w * 0.52
    bowl_pts = ([(stem, yb), (bx, yb)] +
                arc(bx, mid, bx - a, (yb - bl) / 2, 90, 270)[1:] +
                bezier((bx, bl), (bx + (stem - bx) * 0.6, bl), (stem, bl + (mid - bl) * 0.3), (stem, mid), 16)[1:])
    strokes = [S(top + [(stem, 0)], 'butt', 'butt'), S(bowl_pts)]
    return w, strokes, 'round', 'straight'


def g_s(f):
    w = round(f.X * 0.78)
    a, b = f.a, f.b
    top, bot = f.X + f.ov - b, -f.ov + b
    ry = (top - bot) / 4
    rx = w / 2 - a
    cx = w / 2
    yu, yl = top - ry, bot + ry
    k = ry * 0.9
    pts = (arc(cx, yu, rx, ry, 28, 180) +
           bezier((cx - rx, yu), (cx - rx, yu - k), (cx + rx, yl + k), (cx + rx, yl), 24)[1:] +
           arc(cx, yl, rx, ry, 0, -150)[1:])
    return w, [S(pts, 'butt', 'butt')], 'round', 'round'


def g_l(f):
    w = round(2 * f.a)
    return w, [S([(f.a, 0), (f.a, f.H * 1.04)], 'butt', 'butt')], 'straight', 'straight'


def g_v(f):
    w = round(f.X * 0.96)
    a, b = f.a, f.b
    top_l, top_r, foot = (a * 0.95, f.X), (w - a * 0.95, f.X), (w / 2, b * 0.35)
    pts = [extend(top_l, foot, 2 * b), foot, extend(top_r, foot, 2 * b)]
    return w, [S(pts, clip=(0, f.X))], 'diagonal', 'diagonal'


def g_C(f):
    w = round(f.H * 0.98)
    cx, cy = w / 2, f.H / 2
    rx, ry = w / 2 - f.a, f.H / 2 + f.ov - f.b
    return round(w * 0.93), [S(arc(cx, cy, rx, ry, 46, 314), 'butt', 'butt')], 'round', 'open'


def g_O(f):
    w = round(f.H * 1.06)
    cx, cy = w / 2, f.H / 2
    rx, ry = w / 2 - f.a, f.H / 2 + f.ov - f.b
    return w, [S(arc(cx, cy, rx, ry, 0, 360))], 'round', 'round'


def g_K(f):
    w = round(f.H * 0.74)
    a = f.a
    H = f.H
    arm0, arm1 = (a, H * 0.3), (w - a * 0.9, H)
    t = 0.42
    join = (arm0[0] + (arm1[0] - arm0[0]) * t, arm0[1] + (arm1[1] - arm0[1]) * t)
    leg1 = (w - a * 0.8, 0)
    strokes = [S([(a, 0), (a, H)], 'butt', 'butt'),
               S([arm0, extend(arm1, arm0, 2 * f.b)], clip=(0, H)),
               S([join, extend(leg1, join, 2 * f.b)], clip=(0, H))]
    return w, strokes, 'straight', 'diagonal'


def g_Y(f):
    w = round(f.H * 0.8)
    a, H = f.a, f.H
    fork = (w / 2, H * 0.44)
    strokes = [S([extend((a * 0.95, H), fork, 2 * f.b), fork], clip=(0, H)),
               S([extend((w - a * 0.95, H), fork, 2 * f.b), fork], clip=(0, H)),
               S([fork, (w / 2, 0)], 'round', 'butt')]
    return w, strokes, 'diagonal', 'diagonal'


def g_N(f):
    w = round(f.H * 0.8)
    a, H = f.a, f.H
    strokes = [S([(a, 0), (a, H)], 'butt', 'butt'),
               S([(w - a, 0), (w - a, H)], 'butt', 'butt'),
               S([extend((a, H), (w - a, 0), 2 * f.b), extend((w - a, 0), (a, H), 2 * f.b)], clip=(0, H))]
    return w, strokes, 'straight', 'straight'


GLYPHS = {'o': g_o, 'c': g_c, 'e': g_e, 'n': g_n, 'r': g_r, 'a': g_a, 's': g_s,
          'l': g_l, 'v': g_v, 'C': g_C, 'O': g_O, 'K': g_K, 'Y': g_Y, 'N': g_N}

# How much of the plain side bearing each kind of glyph edge gets: round and
# slanted edges look farther away than they are, so they sit closer.
SIDE = {'straight': 1.0, 'round': 0.7, 'open': 0.55, 'diagonal': 0.3}


def layout(text, f):
    """Place the glyphs of a word: [(x offset, glyph result)], total ink width.
    Offsets are whole pixels so that stems fall on pixel edges."""
    placed, x, prev = [], 0.0, None
    for ch in text:
        w, strokes, left, right = GLYPHS[ch](f)
        if prev is not None:
            x += f.side * (SIDE[prev] + SIDE[left]) + f.tracking
        xi = round(x)
        placed.append((xi, w, strokes))
        x = xi + w
        prev = right
    return placed, placed[-1][0] + placed[-1][1]


def text_mask(text, f, ox, baseline, margin=4):
    placed, width = layout(text, f)
    top = math.floor(baseline - f.H * 1.1) - margin
    m = Mask(ox - margin, top, width + 2 * margin, baseline - top + margin)
    for gx, _w, strokes in placed:
        for pts, cap0, cap1, clip in strokes:
            img_pts = [(q(ox + gx + x), q(baseline - y)) for x, y in pts]

            def flip(cap):
                return cap if isinstance(cap, str) else (cap[0], cap[1], -cap[2])
            img_clip = (baseline - clip[1], baseline - clip[0]) if clip else None
            stamp_stroke(m, img_pts, f.a, f.b, flip(cap0), flip(cap1), img_clip)
    return m, width


# --------------------------------------------------------------------------
# The pictures


BANNER_FACE = Face(cap=22, xh=16, a=1.75, b=1.45, overshoot=0.45, side=2.4, tracking=0.2)
BUTTON_FACE = Face(cap=10, xh=8, a=1.0, b=0.8, overshoot=0.25, side=1.2, tracking=0.0)


def draw_banner():
    img = Image(565, 34)
    # Motif: a formula laid out by level - lines stepping in at each opening
    # parenthesis and short closing lines stepping back out.
    m = Mask(0, 0, 40, 34)
    for level, length, y in ((0, 21, 4.5), (1, 17, 10.5), (2, 13, 16.5), (1, 7, 22.5), (0, 7, 28.5)):
        x = 2 + 6 * level
        stamp_stroke(m, [(x + 1.5, y), (x + length - 1.5, y)], 1.5, 1.5)
    img.paint(m, ACCENT)
    baseline = 28
    m, width = text_mask('Corvane', BANNER_FACE, 40, baseline)
    img.paint(m, INK)
    # A hairline that runs out to the right edge, fading away.
    start, end = 40 + width + 14, 565
    line = Mask(start, baseline - 1, end - start, 1)
    stamp_stroke(line, [(start, baseline - 0.5), (end, baseline - 0.5)], 1.0, 0.5, 'butt', 'butt')
    cov = line.coverage()[0]
    y = baseline - 1
    for i, n in enumerate(cov):
        x = start + i
        t = i / (end - start)
        c = mix(RULE, WHITE, t * t)
        img.px[y][x] = mix(img.px[y][x], c, n / (SS * SS))
    return img


BUTTON_W, BUTTON_UP_H, BUTTON_DOWN_H = 121, 27, 25


def draw_button(label, pressed):
    h = BUTTON_DOWN_H if pressed else BUTTON_UP_H
    img = Image(BUTTON_W, h)
    face_h = BUTTON_DOWN_H  # the released look adds a 2-pixel ledge below the face
    if pressed:
        border = (0x4F, 0x66, 0x85)
        top, bottom = (0xC9, 0xD4, 0xE2), (0xE4, 0xEA, 0xF2)
    else:
        fill_shape(img, rounded_rect(0, 0, BUTTON_W, BUTTON_UP_H, 4.5), (0x8C, 0x9D, 0xB4))
        border = (0x71, 0x85, 0xA1)
        top, bottom = (0xFF, 0xFF, 0xFF), (0xDF, 0xE6, 0xEF)
    fill_shape(img, rounded_rect(0, 0, BUTTON_W, face_h, 4.5), border)
    fill_shape(img, rounded_rect(1, 1, BUTTON_W - 1, face_h - 1, 3.5),
               lambda y: mix(top, bottom, max(0.0, min(1.0, (y - 1) / (face_h - 3)))))
    if pressed:
        # inner shadow along the top edge: the face sits below the frame
        shade = Mask(1, 1, BUTTON_W - 2, 2)
        stamp_polygon(shade, [(4, 1), (BUTTON_W - 4, 1), (BUTTON_W - 2, 3), (2, 3)])
        img.paint(shade, lambda y: (0xB4, 0xC1, 0xD3) if y == 1 else (0xC2, 0xCE, 0xDD))
    f = BUTTON_FACE
    _placed, width = layout(label, f)
    ox = round((BUTTON_W - width) / 2)
    baseline = 17
    if pressed:
        ox += 1
        baseline += 1
    m, _ = text_mask(label, f, ox, baseline, margin=3)
    img.paint(m, INK)
    return img


# --------------------------------------------------------------------------
# Icon and pointer: 16-colour pixel art


# The standard 16-colour VGA palette, in the order Windows uses.
VGA = [(0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
       (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
       (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
       (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]
BLACK, OLIVE, NAVY, SILVER, GREY, YELLOW, WHITE_I = 0, 3, 4, 7, 8, 11, 15
CLEAR = -1


def ruler_layer(size, length, width, rising, marks, face, shade, ink):
    """One ruler lying across the square at 45 degrees: a grid of palette
    indices (CLEAR outside). rising: from the lower left to the upper right.
    marks = (spacing, short, long, long_every): the scale along one edge."""
    c = size / 2
    every, short, long_, long_every = marks

    def frame(x, y):
        dx, dy = x + 0.5 - c, y + 0.5 - c
        # u runs along the ruler, v across it; both step by 1 per pixel
        # sideways, so they are whole numbers at pixel centres.
        if rising:
            return round(dx - dy), round(dx + dy)
        return round(dx + dy), round(dy - dx)

    def inside(x, y):
        if not (0 <= x < size and 0 <= y < size):
            return False
        u, v = frame(x, y)
        return abs(u) <= length and abs(v) <= width

    grid = [[CLEAR] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if not inside(x, y):
                continue
            u, v = frame(x, y)
            if not all(inside(x + ex, y + ey) for ex, ey in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                grid[y][x] = BLACK
            elif u % every == 0 and abs(u) < length - 1 and \
                    v < -width + 1 + (long_ if u % (every * long_every) == 0 else short):
                grid[y][x] = ink
            elif v >= width - (2 if size > 16 else 1):
                grid[y][x] = shade
            else:
                grid[y][x] = face
    return grid


def draw_icon(size):
    if size == 32:
        under = ruler_layer(32, 27, 7, False, (4, 3, 6, 2), SILVER, GREY, NAVY)
        over = ruler_layer(32, 27, 7, True, (4, 3, 6, 2), YELLOW, OLIVE, BLACK)
    else:
        under = ruler_layer(16, 13, 4, False, (2, 1, 1, 1), SILVER, GREY, NAVY)
        over = ruler_layer(16, 13, 4, True, (2, 3, 3, 1), YELLOW, OLIVE, BLACK)
    return [[o if o != CLEAR else u for o, u in zip(ro, ru)] for ro, ru in zip(over, under)]


# The pointer: a hand with the index finger raised, its tip at (6, 1).
# K black outline, W white, S silver shading; '.' is transparent.
HAND = """
................................
.....KKK........................
....KWWWK.......................
....KWWWK.......................
....KWWWK.......................
....KWWWK.......................
....KWWWK.......................
....KWWWKKK.....................
....KWWWKWWKKK..................
....KWWWKWWKWWKKK...............
....KWWWKWWKWWKWWK..............
.KK.KWWWKWWKWWKWSK..............
KWWKKWWWKWWKWWKWSK..............
KWWWKWWWWWWWWWWWSK..............
.KWWWWWWWWWWWWWWSK..............
.KWWWWWWWWWWWWWWSK..............
..KWWWWWWWWWWWWWSK..............
..KWWWWWWWWWWWWSK...............
...KWWWWWWWWWWWSK...............
...KWWWWWWWWWWWSK...............
....KWWWWWWWWWSK................
....KWWWWWWWWWSK................
....KKKKKKKKKKKK................
................................
................................
................................
................................
................................
................................
................................
................................
................................
"""

HAND_HOTSPOT = (6, 1)


def hand_grid(mono):
    rows = [r for r in HAND.strip('\n').split('\n')]
    if mono:  # palette of two: 0 black, 1 white
        codes = {'.': CLEAR, 'K': 0, 'W': 1, 'S': 1}
    else:
        codes = {'.': CLEAR, 'K': BLACK, 'W': WHITE_I, 'S': SILVER}
    return [[codes[ch] for ch in r] for r in rows]


# --------------------------------------------------------------------------
# Ribbon pictures: one per button of the ribbon tab, drawn at the ribbon's
# two sizes (16 and 32 pixels) on a transparent ground, kept as 32-bit icons
# with alpha. Shapes are given in a 32-unit square and scaled, so both sizes
# show the same picture; pens are never thinner than one pixel.


RED = (0xC4, 0x3B, 0x2E)
RULER_FACE, RULER_EDGE = (0xF2, 0xC9, 0x4C), (0x9A, 0x74, 0x12)


class Canvas:
    """Straight (not premultiplied) colour with coverage: (r, g, b, alpha 0..1)."""

    def __init__(self, size):
        self.w = self.h = size
        self.px = [[(0, 0, 0, 0.0)] * size for _ in range(size)]

    def paint(self, mask, colour):
        full = SS * SS
        for my, row in enumerate(mask.coverage()):
            line = self.px[mask.y0 + my]
            for mx, n in enumerate(row):
                if n == 0:
                    continue
                x = mask.x0 + mx
                r, g, b, a = line[x]
                ca = n / full
                out = ca + a * (1 - ca)
                line[x] = tuple((colour[i] * ca + (r, g, b)[i] * a * (1 - ca)) / out for i in range(3)) + (out,)

    def rgba(self):
        return [[tuple(min(255, max(0, int(v + 0.5))) for v in p[:3]) + (int(p[3] * 255 + 0.5),) for p in row]
                for row in self.px]


def ribbon_picture(size, shapes):
    """shapes: ('line', points, pen) or ('poly', points), each with a colour,
    in 32 units; painted in order."""
    k = size / 32
    img = Canvas(size)
    for shape in shapes:
        m = Mask(0, 0, size, size)
        if shape[0] == 'line':
            _kind, pts, pen, colour = shape
            r = max(0.5, pen * k)
            stamp_stroke(m, [(x * k, y * k) for x, y in pts], r, r)
        else:
            _kind, pts, colour = shape
            stamp_polygon(m, [(x * k, y * k) for x, y in pts])
        img.paint(m, colour)
    return img


def circle(cx, cy, r):
    return [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a))) for a in range(0, 360, 10)]


def steps(ink):
    """The indentation motif: lines stepping in by level and back out."""
    return [('line', [(x, y), (x + n, y)], 1.6, ink)
            for x, n, y in ((3, 20, 6), (9, 16, 12), (15, 12, 18), (9, 4, 24), (3, 4, 30))]


RIBBON_PICTURES = {
    'format': steps(ACCENT) + [('line', [(24, 26), (30, 26)], 1.6, INK), ('line', [(27, 23), (30, 26), (27, 29)], 1.6, INK)],
    'remove': [('line', [(3, 26), (29, 26)], 1.6, ACCENT),
               ('line', [(9, 5), (9, 17)], 1.6, INK), ('line', [(23, 5), (23, 17)], 1.6, INK),
               ('line', [(5, 13), (9, 18), (13, 13)], 1.6, INK), ('line', [(19, 13), (23, 18), (27, 13)], 1.6, INK)],
    'calibrate': [('poly', [(2, 9), (30, 9), (30, 23), (2, 23)], RULER_EDGE),
                  ('poly', [(3.5, 10.5), (28.5, 10.5), (28.5, 21.5), (3.5, 21.5)], RULER_FACE)] +
                 [('line', [(x, 11), (x, 15 if i % 2 else 18)], 0.8, INK) for i, x in enumerate(range(6, 28, 4))],
    'settings': [('line', [(3, 9), (29, 9)], 1.4, INK), ('line', [(3, 23), (29, 23)], 1.4, INK),
                 ('poly', circle(11, 9, 5), ACCENT), ('poly', circle(21, 23, 5), ACCENT)],
    'about': [('poly', circle(16, 16, 14.5), ACCENT), ('poly', circle(16, 9, 2.6), WHITE),
              ('line', [(16, 15), (16, 25)], 2.2, WHITE)],
    'help': [('poly', circle(16, 16, 14.5), ACCENT),
             ('line', arc(16, 12, 5, 4.5, 180, 360) + [(21, 12), (16, 17), (16, 19.5)], 2.2, WHITE),
             ('poly', circle(16, 24.5, 2.4), WHITE)],
}

# --------------------------------------------------------------------------
# File formats. Every header field has a fixed value: nothing depends on the
# clock or the machine.

PELS_PER_METRE = 3780  # 96 dots per inch


def bmp24(img):
    rows = img.rgb()
    stride = (img.w * 3 + 3) // 4 * 4
    body = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        body += line
    info = struct.pack('<IiiHHIIiiII', 40, img.w, img.h, 1, 24, 0, len(body),
                       PELS_PER_METRE, PELS_PER_METRE, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(body), 0, 0, 14 + len(info))
    return head + info + bytes(body)


def dib_with_mask(grid, bpp, palette):
    """A bitmap as icons and cursors hold it: header of double height, palette,
    colour bits, then the transparency (AND) mask, all rows bottom-up."""
    h, w = len(grid), len(grid[0])
    xor_stride = (w * bpp + 31) // 32 * 4
    and_stride = (w + 31) // 32 * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(grid):
        bits = bytearray(xor_stride)
        mbits = bytearray(and_stride)
        for x, idx in enumerate(row):
            if idx == CLEAR:
                mbits[x // 8] |= 0x80 >> (x % 8)
                idx = 0
            pos = x * bpp
            bits[pos // 8] |= idx << (8 - bpp - pos % 8)
        xor += bits
        mask += mbits
    info = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, bpp, 0, len(xor) + len(mask), 0, 0, 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return info + pal + bytes(xor) + bytes(mask)


def icon_file(kind, images):
    """kind 1 = icon, 2 = cursor. images: (grid, bpp, palette, hotspot or None)."""
    out = struct.pack('<HHH', 0, kind, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for grid, bpp, palette, hotspot in images:
        blob = dib_with_mask(grid, bpp, palette)
        h, w = len(grid), len(grid[0])
        colours = 1 << bpp if bpp < 8 else 0
        if kind == 1:
            f1, f2 = 1, bpp  # planes, bit count
        else:
            f1, f2 = hotspot
        out += struct.pack('<BBBBHHII', w % 256, h % 256, colours, 0, f1, f2, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b''.join(blobs)


def icon32(images):
    """An icon of 32-bit images with alpha (rows bottom-up, blue-green-red-
    alpha) and the AND mask set where a pixel is fully transparent."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for img in images:
        rows, w, h = img.rgba(), img.w, img.h
        and_stride = (w + 31) // 32 * 4
        colour, mask = bytearray(), bytearray()
        for row in reversed(rows):
            mbits = bytearray(and_stride)
            for x, (r, g, b, a) in enumerate(row):
                colour += bytes((b, g, r, a)) if a else bytes(4)
                if a == 0:
                    mbits[x // 8] |= 0x80 >> (x % 8)
            mask += mbits
        info = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
        blob = info + bytes(colour) + bytes(mask)
        out += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b''.join(blobs)


# --------------------------------------------------------------------------


BUTTON_LABELS = {'ok': 'OK', 'cancel': 'Cancel', 'yes': 'Yes', 'no': 'No'}


def artwork():
    """All files: name -> bytes."""
    files = {'banner.bmp': bmp24(draw_banner())}
    for name, label in BUTTON_LABELS.items():
        files[name + '_up.bmp'] = bmp24(draw_button(label, False))
        files[name + '_down.bmp'] = bmp24(draw_button(label, True))
    files['corvane.ico'] = icon_file(1, [(draw_icon(32), 4, VGA, None),
                                         (draw_icon(16), 4, VGA, None)])
    files['hand.cur'] = icon_file(2, [(hand_grid(False), 4, VGA, HAND_HOTSPOT),
                                      (hand_grid(True), 1, [(0, 0, 0), (255, 255, 255)], HAND_HOTSPOT)])
    for name, shapes in RIBBON_PICTURES.items():
        files['ribbon_%s.ico' % name] = icon32([ribbon_picture(32, shapes), ribbon_picture(16, shapes)])
    return files


def write_all(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, data in artwork().items():
        with open(os.path.join(outdir, name), 'wb') as fh:
            fh.write(data)


def check():
    """Redraw into a scratch folder and compare with the kept files."""
    import check_artwork
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        write_all(tmp)
        for name in sorted(os.listdir(tmp)):
            kept = os.path.join(HERE, name)
            with open(os.path.join(tmp, name), 'rb') as fh:
                fresh = fh.read()
            if not os.path.exists(kept):
                problems.append('%s: missing here; run draw_artwork.py' % name)
                continue
            with open(kept, 'rb') as fh:
                old = fh.read()
            if old != fresh:
                first = next((i for i, (p, r) in enumerate(zip(old, fresh)) if p != r), min(len(old), len(fresh)))
                problems.append('%s: differs from a fresh drawing (%d vs %d bytes, first difference at byte %d)'
                                % (name, len(old), len(fresh), first))
    problems += check_artwork.validate(HERE)
    for p in problems:
        print('artwork: ' + p, file=sys.stderr)
    if not problems:
        print('artwork: all files reproduce exactly and are well-formed')
    return 1 if problems else 0


def main(argv):
    if argv[1:] == ['--check']:
        sys.dont_write_bytecode = True  # leave no cache files beside the artwork
        sys.path.insert(0, HERE)
        return check()
    if len(argv) > 2 or (len(argv) == 2 and argv[1].startswith('-')):
        print('usage: draw_artwork.py [OUTDIR] | --check', file=sys.stderr)
        return 2
    write_all(argv[1] if len(argv) == 2 else HERE)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
