#!/usr/bin/env python3
"""Checks the artwork files as the windows will load them.

    python3 check_artwork.py [DIR]     (default: this folder)

Reads every file with its own parser, independent of the drawing script, so
that a fault in the writer shows up here: BMP headers and sizes, the icon's
two 16-colour images, the pointer's two images and hot spot, transparency
masks, and a few facts about the pictures themselves (ink where it belongs,
labels centred, pressed buttons darker than released ones).
"""

import os
import struct
import sys

BANNER = ('banner.bmp', 565, 34)
BUTTONS = ('ok', 'cancel', 'yes', 'no')
UP_SIZE, DOWN_SIZE = (121, 27), (121, 25)
HOTSPOT = (6, 1)

VGA = [(0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
       (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
       (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
       (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]


class Bad(Exception):
    pass


def need(cond, msg):
    if not cond:
        raise Bad(msg)


def read_bmp24(data):
    """Rows of (r, g, b), top row first."""
    need(len(data) >= 54 and data[:2] == b'BM', 'not a BMP file')
    file_size, _r1, _r2, offset = struct.unpack_from('<IHHI', data, 2)
    hsize, w, h, planes, bpp, comp, img_size = struct.unpack_from('<IiiHHII', data, 14)
    need(file_size == len(data), 'file size field %d, file has %d bytes' % (file_size, len(data)))
    need(hsize == 40, 'info header of %d bytes, expected 40' % hsize)
    need(planes == 1 and bpp == 24 and comp == 0, 'expected 24-bit uncompressed, got %d bits, compression %d' % (bpp, comp))
    need(w > 0 and h > 0, 'expected positive width and bottom-up height, got %d x %d' % (w, h))
    stride = (w * 3 + 3) // 4 * 4
    need(offset == 54, 'pixel data at %d, expected 54' % offset)
    need(img_size == stride * h and len(data) == offset + stride * h,
         'pixel data of %d bytes, expected %d' % (len(data) - offset, stride * h))
    rows = []
    for y in range(h):
        start = offset + (h - 1 - y) * stride
        line = data[start:start + stride]
        need(not any(line[w * 3:]), 'row padding is not zero')
        rows.append([(line[3 * x + 2], line[3 * x + 1], line[3 * x]) for x in range(w)])
    return w, h, rows


def luma(c):
    return (299 * c[0] + 587 * c[1] + 114 * c[2]) / 1000


def ink_box(rows, limit=110):
    """Bounding box (x0, y0, x1, y1) of the dark pixels (lettering)."""
    pts = [(x, y) for y, row in enumerate(rows) for x, c in enumerate(row) if luma(c) < limit]
    if not pts:
        return None
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def label_ink(rows):
    """How much of each pixel inside a button's frame is lettering (0..1),
    measured against the face colour of its row."""
    h, w = len(rows), len(rows[0])
    ink = {}
    for y in range(3, h - 3):
        bg = luma(rows[y][3])
        for x in range(4, w - 4):
            dark = bg - luma(rows[y][x])
            if dark > 8:
                ink[(x, y)] = min(1.0, dark / max(1.0, bg - 50))
    return ink


def centroid(ink):
    total = sum(ink.values())
    return (sum(x * v for (x, _), v in ink.items()) / total,
            sum(y * v for (_, y), v in ink.items()) / total)


def check_banner(folder):
    w, h, rows = read_bmp24(open(os.path.join(folder, BANNER[0]), 'rb').read())
    need((w, h) == BANNER[1:], 'is %d x %d, expected %d x %d' % (w, h, BANNER[1], BANNER[2]))
    for x, y in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
        need(rows[y][x] == (255, 255, 255), 'corner (%d, %d) is not white like the windows' % (x, y))
    box = ink_box(rows)
    need(box is not None, 'has no lettering')
    need(box[3] - box[1] >= 18, 'lettering only %d pixels tall' % (box[3] - box[1]))


def check_buttons(folder):
    problems = []
    label_tops = {}
    for name in BUTTONS:
        looks = {}
        for state, size in (('up', UP_SIZE), ('down', DOWN_SIZE)):
            fname = '%s_%s.bmp' % (name, state)
            try:
                w, h, rows = read_bmp24(open(os.path.join(folder, fname), 'rb').read())
                need((w, h) == size, 'is %d x %d, expected %d x %d' % (w, h, size[0], size[1]))
                need(rows[0][0] == (255, 255, 255) and rows[-1][-1] == (255, 255, 255),
                     'corners are not white: the rounded frame must sit on the white window')
                ink = label_ink(rows)
                need(sum(ink.values()) > 40, 'has no label')
                solid = [p for p, v in ink.items() if v > 0.4]
                x0, x1 = min(p[0] for p in solid), max(p[0] for p in solid) + 1
                shift = 1 if state == 'down' else 0
                centre = (x0 + x1) / 2 - shift
                need(abs(centre - w / 2) <= 1.5, 'label centred at x %.1f, expected %.1f' % (centre, w / 2))
                face = [luma(c) for row in rows[3:h - 3] for c in row[6:w - 6]]
                looks[state] = (sum(face) / len(face), centroid(ink), min(p[1] for p in solid))
            except (OSError, Bad) as e:
                problems.append('%s: %s' % (fname, e))
        if len(looks) == 2:
            (up_l, up_c, up_top), (down_l, down_c, _) = looks['up'], looks['down']
            if not down_l < up_l - 8:
                problems.append('%s_down.bmp: not visibly pressed (face brightness %.0f vs %.0f released)'
                                % (name, down_l, up_l))
            if abs(down_c[0] - up_c[0] - 1) > 0.2 or abs(down_c[1] - up_c[1] - 1) > 0.2:
                problems.append('%s_down.bmp: label should sit one pixel right of and below the released one'
                                ' (moved by %.2f, %.2f)' % (name, down_c[0] - up_c[0], down_c[1] - up_c[1]))
            label_tops[name] = up_top
    if len(set(label_tops.values())) > 1:
        # every label starts with a capital, so all tops must line up
        problems.append('button labels do not share one cap line: %s' % label_tops)
    return problems


def read_icon_dir(data, kind):
    need(len(data) >= 6, 'too short')
    reserved, typ, count = struct.unpack_from('<HHH', data, 0)
    need(reserved == 0 and typ == kind, 'header type %d, expected %d' % (typ, kind))
    need(len(data) >= 6 + 16 * count, 'directory cut short')
    entries = []
    for i in range(count):
        w, h, colours, res, f1, f2, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        need(res == 0, 'entry %d: reserved byte set' % i)
        need(offset >= 6 + 16 * count and offset + size <= len(data), 'entry %d: data outside the file' % i)
        entries.append((w or 256, h or 256, colours, f1, f2, size, offset))
    spans = sorted((e[6], e[6] + e[5]) for e in entries)
    need(all(a[1] <= b[0] for a, b in zip(spans, spans[1:])), 'image data overlap')
    return entries


def read_masked_dib(data, entry):
    """Returns (bpp, palette, pixels) with None for transparent pixels."""
    w, h, _colours, _f1, _f2, size, offset = entry
    hsize, bw, bh, planes, bpp, comp = struct.unpack_from('<IiiHHI', data, offset)
    clr_used, = struct.unpack_from('<I', data, offset + 32)
    need(hsize == 40, 'bitmap header of %d bytes' % hsize)
    need((bw, bh) == (w, 2 * h), 'bitmap %d x %d, directory says %d x %d (height doubled)' % (bw, bh, w, 2 * h))
    need(planes == 1 and comp == 0, 'planes %d, compression %d' % (planes, comp))
    need(bpp in (1, 4), 'unexpected %d bits per pixel' % bpp)
    ncol = clr_used or (1 << bpp)
    need(ncol == 1 << bpp, 'palette of %d colours for %d bits' % (ncol, bpp))
    xor_stride = (w * bpp + 31) // 32 * 4
    and_stride = (w + 31) // 32 * 4
    need(size == 40 + 4 * ncol + (xor_stride + and_stride) * h,
         'image of %d bytes, expected %d' % (size, 40 + 4 * ncol + (xor_stride + and_stride) * h))
    pal = [tuple(data[offset + 40 + 4 * i: offset + 43 + 4 * i][::-1]) for i in range(ncol)]
    xo = offset + 40 + 4 * ncol
    ao = xo + xor_stride * h
    pixels = []
    for y in range(h):
        src = h - 1 - y
        row = []
        for x in range(w):
            bit = x * bpp
            idx = (data[xo + src * xor_stride + bit // 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
            clear = (data[ao + src * and_stride + x // 8] >> (7 - x % 8)) & 1
            # a masked pixel must have colour 0, or it would invert the screen
            need(not (clear and idx), 'pixel (%d, %d) is masked but not black: it would invert' % (x, y))
            row.append(None if clear else idx)
        pixels.append(row)
    opaque = sum(p is not None for row in pixels for p in row)
    need(0 < opaque < w * h, 'image is entirely %s' % ('transparent' if opaque == 0 else 'opaque'))
    return bpp, pal, pixels


def check_icon(folder):
    data = open(os.path.join(folder, 'corvane.ico'), 'rb').read()
    entries = read_icon_dir(data, 1)
    need(sorted((e[0], e[1]) for e in entries) == [(16, 16), (32, 32)],
         'images %s, expected 32 x 32 and 16 x 16' % [(e[0], e[1]) for e in entries])
    for e in entries:
        need(e[2] == 16 and e[3] == 1 and e[4] == 4,
             '%d x %d: %d colours, %d planes, %d bits; expected 16, 1, 4' % (e[0], e[1], e[2], e[3], e[4]))
        bpp, pal, _pixels = read_masked_dib(data, e)
        need(bpp == 4 and pal == VGA, '%d x %d: not the standard 16-colour palette' % (e[0], e[1]))


def check_cursor(folder):
    data = open(os.path.join(folder, 'hand.cur'), 'rb').read()
    entries = read_icon_dir(data, 2)
    need(len(entries) == 2, '%d images, expected 2' % len(entries))
    depths = []
    for e in entries:
        need((e[0], e[1]) == (32, 32), 'image %d x %d, expected 32 x 32' % (e[0], e[1]))
        need((e[3], e[4]) == HOTSPOT, 'hot spot (%d, %d), expected %s' % (e[3], e[4], HOTSPOT))
        bpp, pal, pixels = read_masked_dib(data, e)
        need(e[2] == 1 << bpp, '%d-bit image listed with %d colours' % (bpp, e[2]))
        if bpp == 4:
            need(pal == VGA, '16-colour image without the standard palette')
        else:
            need(pal == [(0, 0, 0), (255, 255, 255)], 'monochrome palette is not black and white')
        x, y = HOTSPOT
        need(pixels[y][x] is not None, '%d-bit image: hot spot is on a transparent pixel' % bpp)
        need(all(pixels[r][x] is None for r in range(y)), '%d-bit image: hot spot is not the fingertip' % bpp)
        depths.append(bpp)
    need(sorted(depths) == [1, 4], 'colour depths %s, expected 4 and 1 bits' % depths)


RIBBON = ('format', 'remove', 'calibrate', 'settings', 'about', 'help')


def check_ribbon(folder, name):
    """A ribbon picture: 32 x 32 and 16 x 16, 32-bit with alpha, the AND mask
    set exactly where a pixel is fully transparent, and a picture in each."""
    data = open(os.path.join(folder, 'ribbon_%s.ico' % name), 'rb').read()
    entries = read_icon_dir(data, 1)
    need(sorted((e[0], e[1]) for e in entries) == [(16, 16), (32, 32)],
         'images %s, expected 32 x 32 and 16 x 16' % [(e[0], e[1]) for e in entries])
    for w, h, _colours, _planes, _bits, size, offset in entries:
        _hsize, bw, bh, _p, bpp, comp = struct.unpack_from('<IiiHHI', data, offset)
        and_stride = (w + 31) // 32 * 4
        need((bw, bh, bpp, comp) == (w, 2 * h, 32, 0), '%d x %d: not an uncompressed 32-bit image' % (w, h))
        need(size == 40 + (4 * w + and_stride) * h, '%d x %d: image of %d bytes' % (w, h, size))
        alphas = [data[offset + 40 + 4 * i + 3] for i in range(w * h)]
        mo = offset + 40 + 4 * w * h
        for i, a in enumerate(alphas):
            x, y = i % w, i // w
            clear = (data[mo + y * and_stride + x // 8] >> (7 - x % 8)) & 1
            need(clear == (a == 0), '%d x %d: mask and alpha disagree at (%d, %d)' % (w, h, x, h - 1 - y))
        solid = sum(a >= 128 for a in alphas)
        need(w * h // 10 < solid < w * h, '%d x %d: %d of %d pixels mostly opaque' % (w, h, solid, w * h))


def validate(folder):
    """All problems found, as messages; empty when everything is in order."""
    problems = []
    for name, fn in (('banner.bmp', check_banner), ('corvane.ico', check_icon), ('hand.cur', check_cursor)):
        try:
            fn(folder)
        except (OSError, Bad, struct.error) as e:
            problems.append('%s: %s' % (name, e))
    for name in RIBBON:
        try:
            check_ribbon(folder, name)
        except (OSError, Bad, struct.error) as e:
            problems.append('ribbon_%s.ico: %s' % (name, e))
    try:
        problems += check_buttons(folder)
    except struct.error as e:
        problems.append('buttons: %s' % e)
    return problems


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    problems = validate(folder)
    for p in problems:
        print('artwork: ' + p, file=sys.stderr)
    if not problems:
        print('artwork: all files are well-formed')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
