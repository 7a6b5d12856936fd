#!/usr/bin/env python3
"""Draws the installer's background (background.bmp) and icon (halvex.ico).

Standard library only and fully deterministic: running it again writes the same bytes.
Usage: python3 res/make_art.py [--check] [output folder, default: this script's folder]
--check writes nothing and fails when the files in the folder differ from what it draws.
"""

import math
import os
import struct
import sys
import zlib

BAR = (117, 130, 225)
WIDTH, HEIGHT = 560, 310


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


class Canvas:
    """Straight-alpha RGBA canvas of floats (colour 0..255, alpha 0..1)."""

    def __init__(self, width, height, colour=(0, 0, 0), alpha=1.0):
        self.w, self.h = width, height
        n = width * height
        self.r = [float(colour[0])] * n
        self.g = [float(colour[1])] * n
        self.b = [float(colour[2])] * n
        self.a = [float(alpha)] * n

    def over(self, i, colour, alpha):
        """Porter-Duff 'over' of one pixel."""
        if alpha <= 0.0:
            return
        da = self.a[i]
        oa = alpha + da * (1.0 - alpha)
        if oa <= 0.0:
            return
        k = da * (1.0 - alpha)
        self.r[i] = (colour[0] * alpha + self.r[i] * k) / oa
        self.g[i] = (colour[1] * alpha + self.g[i] * k) / oa
        self.b[i] = (colour[2] * alpha + self.b[i] * k) / oa
        self.a[i] = oa

    def paint(self, mask, colour, opacity=1.0, dx=0, dy=0):
        """Composites a coverage mask (list of floats, same size) in one colour."""
        w, h = self.w, self.h
        for y in range(h):
            sy = y - dy
            if not 0 <= sy < h:
                continue
            for x in range(w):
                sx = x - dx
                if 0 <= sx < w:
                    m = mask[sy * w + sx]
                    if m > 0.0:
                        self.over(y * w + x, colour, m * opacity)

    def shade(self, fn):
        """Per-pixel blend: fn(x, y) gives (colour, alpha) or None."""
        for y in range(self.h):
            for x in range(self.w):
                res = fn(x + 0.5, y + 0.5)
                if res is not None:
                    self.over(y * self.w + x, res[0], res[1])


# Masks are coverage lists the size of their canvas; shapes are signed distance
# fields sampled at pixel centres, so every edge is anti-aliased analytically.


def sdf_mask(w, h, sdf, box=None):
    mask = [0.0] * (w * h)
    x0, y0, x1, y1 = box if box else (0, 0, w, h)
    for y in range(max(0, y0), min(h, y1)):
        for x in range(max(0, x0), min(w, x1)):
            d = sdf(x + 0.5, y + 0.5)
            if d < 0.5:
                mask[y * w + x] = clamp01(0.5 - d)
    return mask


def rounded_rect_sdf(cx, cy, hw, hh, radius):
    def sdf(x, y):
        qx = abs(x - cx) - hw + radius
        qy = abs(y - cy) - hh + radius
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return sdf


def leaf_sdf(cx, cy, length, width, angle):
    """A pointed leaf: intersection of two discs (a vesica), rotated by angle."""
    half = length / 2.0
    # Radius of the two arcs through both tips with the given maximum width.
    rad = (half * half + (width / 2.0) ** 2) / width
    off = rad - width / 2.0
    ca, sa = math.cos(angle), math.sin(angle)

    def sdf(x, y):
        px, py = x - cx, y - cy
        u = px * ca + py * sa
        v = -px * sa + py * ca
        d1 = math.hypot(u, v - off) - rad
        d2 = math.hypot(u, v + off) - rad
        return max(d1, d2)

    return sdf


def blur(mask, w, h, radius, passes=3):
    """Box blur repeated (close to a Gaussian); used for shadows and glows."""
    out = list(mask)
    for _ in range(passes):
        for horizontal in (True, False):
            src = out
            out = [0.0] * (w * h)
            n = 2 * radius + 1
            if horizontal:
                for y in range(h):
                    row = y * w
                    acc = sum(src[row + min(max(k, 0), w - 1)] for k in range(-radius, radius + 1))
                    for x in range(w):
                        out[row + x] = acc / n
                        acc += src[row + min(x + radius + 1, w - 1)]
                        acc -= src[row + max(x - radius, 0)]
            else:
                for x in range(w):
                    acc = sum(src[min(max(k, 0), h - 1) * w + x] for k in range(-radius, radius + 1))
                    for y in range(h):
                        out[y * w + x] = acc / n
                        acc += src[min(y + radius + 1, h - 1) * w + x]
                        acc -= src[max(y - radius, 0) * w + x]
    return out


# A rounded geometric sans drawn as strokes on centre lines. Units: 1000 per em,
# y upwards from the baseline. Each glyph is (advance, [polylines]).

STROKE = 104
BASE, XH, CAP, ASC = 52, 468, 668, 708


def arc(cx, cy, r, a0, a1, ry=None):
    steps = max(8, int(abs(a1 - a0) / 4))
    ry = r if ry is None else ry
    return [(cx + r * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def _glyphs():
    mid = (BASE + XH) / 2.0
    r = (XH - BASE) / 2.0
    f_top = ASC - 128
    half_cap = (BASE + CAP) / 2.0
    s_ry = (CAP - BASE) / 4.0
    r_ry = (CAP - BASE) * 0.26
    return {
        "A": (480, [[(0, BASE), (240, CAP), (480, BASE)], [(92, 226), (388, 226)]]),
        "E": (360, [[(360, CAP), (0, CAP), (0, BASE), (360, BASE)], [(0, half_cap), (310, half_cap)]]),
        "I": (0, [[(0, BASE), (0, CAP)]]),
        "L": (340, [[(0, CAP), (0, BASE), (340, BASE)]]),
        "R": (400, [[(0, BASE), (0, CAP), (210, CAP)] + arc(210, CAP - r_ry, r_ry, 90, -90)[1:]
                    + [(0, CAP - 2 * r_ry)], [(190, CAP - 2 * r_ry), (400, BASE)]]),
        "S": (400, [arc(200, CAP - s_ry, 200, 20, 270, s_ry) + arc(200, BASE + s_ry, 200, 90, -160, s_ry)[1:]]),
        "T": (440, [[(0, CAP), (440, CAP)], [(220, CAP), (220, BASE)]]),
        "H": (520, [[(0, BASE), (0, CAP)], [(520, BASE), (520, CAP)],
                    [(0, (BASE + CAP) / 2), (520, (BASE + CAP) / 2)]]),
        "N": (510, [[(0, BASE), (0, CAP), (510, BASE), (510, CAP)]]),
        "a": (2 * r, [arc(r, mid, r, 0, 360), [(2 * r, BASE), (2 * r, XH)]]),
        "l": (0, [[(0, BASE), (0, ASC)]]),
        "v": (404, [[(0, XH), (202, BASE), (404, XH)]]),
        "e": (2 * r, [[(0, mid), (2 * r, mid)] + arc(r, mid, r, 0, 312)[1:]]),
        "x": (400, [[(0, XH), (400, BASE)], [(0, BASE), (400, XH)]]),
        "f": (250, [[(70, BASE)] + arc(70 + 128, f_top, 128, 180, 48),
                    [(-18, XH), (250, XH)]]),
        "o": (2 * r + 12, [arc(r + 6, mid, r + 6, 0, 360)]),
        " ": (150, []),
    }


GLYPHS = _glyphs()
GAP = 78  # ink gap between neighbouring strokes, on top of the stroke width
KERN = {("e", "x"): -20, ("v", "e"): -14, ("l", "v"): -10, ("a", "l"): 0, ("N", "e"): -6}


def layout_text(text, size, left, baseline, tracking=0):
    """Returns pixel-space segments and the ink box for text of em size `size`."""
    scale = size / 1000.0
    segments = []
    pen = STROKE / 2.0
    prev = None
    for ch in text:
        adv, lines = GLYPHS[ch]
        pen += KERN.get((prev, ch), 0)
        for line in lines:
            pts = [(left + (pen + x) * scale, baseline - y * scale) for x, y in line]
            segments += list(zip(pts, pts[1:]))
        pen += adv + STROKE + GAP + tracking
        prev = ch
    width = (pen - GAP - tracking) * scale
    return segments, width


def text_width(text, size, tracking=0):
    return layout_text(text, size, 0, 0, tracking)[1]


def stroke_mask(w, h, segments, half_width):
    """Coverage of round-capped strokes along segments (union by nearest distance)."""
    dist = [1e9] * (w * h)
    reach = half_width + 1.5
    for (ax, ay), (bx, by) in segments:
        x0 = max(0, int(min(ax, bx) - reach))
        x1 = min(w, int(max(ax, bx) + reach) + 1)
        y0 = max(0, int(min(ay, by) - reach))
        y1 = min(h, int(max(ay, by) + reach) + 1)
        dx, dy = bx - ax, by - ay
        ll = dx * dx + dy * dy
        for y in range(y0, y1):
            py = y + 0.5
            for x in range(x0, x1):
                px = x + 0.5
                t = 0.0 if ll == 0 else clamp01(((px - ax) * dx + (py - ay) * dy) / ll)
                d = math.hypot(px - ax - t * dx, py - ay - t * dy)
                i = y * w + x
                if d < dist[i]:
                    dist[i] = d
    return [clamp01(half_width - d + 0.5) for d in dist]


def union(*masks):
    return [max(vals) for vals in zip(*masks)]


def emblem_masks(w, h, cx, cy, size):
    """The product emblem: a rounded square, and inside it an "H" whose bar is a leaf."""
    s = size / 128.0
    tile = sdf_mask(w, h, rounded_rect_sdf(cx, cy, 60 * s, 60 * s, 27 * s))
    half = 9.5 * s
    posts = stroke_mask(w, h, [((cx - 26 * s, cy - 31 * s), (cx - 26 * s, cy + 31 * s)),
                                ((cx + 26 * s, cy - 31 * s), (cx + 26 * s, cy + 31 * s))], half)
    tilt = math.radians(22)
    leaf = sdf_mask(w, h, leaf_sdf(cx, cy, 62 * s, 24 * s, -tilt))
    reach = 17 * s
    vein = stroke_mask(w, h, [((cx - reach * math.cos(tilt), cy + reach * math.sin(tilt)),
                               (cx + reach * math.cos(tilt), cy - reach * math.sin(tilt)))], 1.3 * s)
    return tile, posts, leaf, vein


def draw_emblem(canvas, cx, cy, size, shadow=True):
    w, h = canvas.w, canvas.h
    s = size / 128.0
    tile, posts, leaf, vein = emblem_masks(w, h, cx, cy, size)
    if shadow:
        canvas.paint(blur(tile, w, h, max(1, int(4 * s))), (18, 20, 70), 0.40, 0, int(round(4 * s)))
    top, bottom = (150, 162, 246), (82, 93, 200)
    rect_top, rect_bottom = cy - 60 * s, cy + 60 * s
    for y in range(h):
        for x in range(w):
            i = y * w + x
            m = tile[i]
            if m <= 0.0:
                continue
            t = clamp01(((x + 0.5 - (cx - 60 * s)) * 0.45 + (y + 0.5 - rect_top)) / (rect_bottom - rect_top + 54 * s))
            canvas.over(i, mix(top, bottom, t), m)
            # A soft sheen on the upper half of the tile.
            sheen = 0.16 * (1.0 - smoothstep(rect_top, cy + 6 * s, y + 0.5))
            canvas.over(i, (255, 255, 255), m * sheen)
    canvas.paint(blur(union(posts, leaf), w, h, max(1, int(2 * s))), (30, 34, 110), 0.35, 0, max(1, int(round(2 * s))))
    canvas.paint(leaf, (184, 242, 206))
    canvas.paint(vein, (88, 170, 128), 0.9)
    canvas.paint(posts, (255, 255, 255))


def make_background():
    w, h = WIDTH, HEIGHT
    c = Canvas(w, h)
    light, deep = (146, 160, 242), (50, 57, 150)

    # Diagonal gradient around the bar colour: lighter upper left, deep lower right.
    for y in range(h):
        for x in range(w):
            t = clamp01((x / w) * 0.55 + (y / h) * 0.75 - 0.12)
            col = mix(light, BAR, smoothstep(0.0, 0.5, t)) if t < 0.5 else mix(BAR, deep, smoothstep(0.5, 1.15, t))
            i = y * w + x
            c.r[i], c.g[i], c.b[i] = col

    # Large translucent glows and discs.
    def glow(cx, cy, radius, colour, strength):
        def fn(x, y):
            d = math.hypot(x - cx, y - cy) / radius
            return (colour, strength * (1.0 - smoothstep(0.0, 1.0, d)) ** 1.6) if d < 1.0 else None
        c.shade(fn)

    def disc(cx, cy, radius, colour, alpha):
        m = sdf_mask(w, h, lambda x, y: math.hypot(x - cx, y - cy) - radius)
        c.paint(m, colour, alpha)

    def ring(cx, cy, radius, width, colour, alpha):
        m = sdf_mask(w, h, lambda x, y: abs(math.hypot(x - cx, y - cy) - radius) - width / 2.0)
        c.paint(m, colour, alpha)

    glow(120, 40, 330, (214, 222, 255), 0.55)
    glow(470, 250, 260, (40, 30, 130), 0.35)
    disc(-30, 300, 190, (255, 255, 255), 0.07)
    disc(610, -60, 230, (40, 46, 140), 0.18)
    disc(430, 380, 210, (150, 120, 240), 0.13)
    ring(-30, 300, 236, 1.2, (255, 255, 255), 0.16)
    ring(430, 380, 250, 1.2, (255, 255, 255), 0.10)
    ring(610, -60, 276, 1.2, (255, 255, 255), 0.08)

    # Tiny sparkles along a gentle curve, like seeds in the wind.
    for k, (sx, sy, sr) in enumerate([(60, 212, 2.0), (88, 196, 1.4), (124, 186, 2.6), (380, 62, 1.6),
                                      (404, 52, 2.4), (436, 50, 1.3), (470, 74, 1.8)]):
        disc(sx, sy, sr, (255, 255, 255), 0.30 + 0.06 * (k % 3))

    # Keep the close glyph's corner and the bottom strip dark and quiet for white text.
    c.shade(lambda x, y: ((28, 32, 96), 0.48 * (1.0 - smoothstep(0.0, 1.0, math.hypot(x - 535, y - 25) / 118.0))))
    c.shade(lambda x, y: ((30, 34, 100), 0.62 * smoothstep(222.0, 300.0, y)))

    # Emblem and product name, centred as a group in the upper two thirds.
    name = "Halvex Nefo"
    size = 64
    emblem = 66
    gap = 18
    name_w = text_width(name, size)
    total = emblem + gap + name_w
    left = (w - total) / 2.0
    centre_y = 126
    draw_emblem(c, left + emblem / 2.0, centre_y, emblem)

    cap_px = (CAP + STROKE / 2.0 - (BASE - STROKE / 2.0)) * size / 1000.0
    baseline = centre_y + cap_px / 2.0 + (BASE - STROKE / 2.0) * size / 1000.0
    segs, _ = layout_text(name, size, left + emblem + gap, baseline)
    half = STROKE / 2.0 * size / 1000.0
    text = stroke_mask(w, h, segs, half)
    c.paint(blur(text, w, h, 3), (20, 22, 80), 0.45, 0, 3)
    c.paint(text, (255, 255, 255))

    # A small spaced tagline between two thin rules that fade outwards.
    tag, tag_size, tracking = "INSTALLER", 13, 420
    tag_w = text_width(tag, tag_size, tracking)
    mid_x = left + emblem + gap + name_w / 2.0
    tag_base = centre_y + 58
    segs, _ = layout_text(tag, tag_size, mid_x - tag_w / 2.0, tag_base, tracking)
    c.paint(stroke_mask(w, h, segs, 0.8), (255, 255, 255), 0.85)
    rule_y = tag_base - 4.5
    span = name_w / 2.0 - 6
    inner = tag_w / 2.0 + 14
    rules = stroke_mask(w, h, [((mid_x - span, rule_y), (mid_x - inner, rule_y)),
                               ((mid_x + inner, rule_y), (mid_x + span, rule_y))], 0.55)
    fade = [m * (1.0 - smoothstep(inner, span, abs((i % w) + 0.5 - mid_x))) for i, m in enumerate(rules)]
    c.paint(fade, (255, 255, 255), 0.7)

    return c


def make_icon():
    size = 128
    c = Canvas(size, size, (BAR[0], BAR[1], BAR[2]), 0.0)
    draw_emblem(c, 64, 64, 128 * 0.985, shadow=False)
    return c


def to_byte(v):
    return max(0, min(255, int(v + 0.5)))


def background_bmp(c):
    """24-bpp BI_RGB bottom-up DIB with a file header."""
    rows = []
    stride = (c.w * 3 + 3) & ~3
    # Ordered dithering keeps the wide gradients free of banding in 8 bits per channel.
    bayer = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]
    for y in range(c.h - 1, -1, -1):
        row = bytearray()
        for x in range(c.w):
            i = y * c.w + x
            d = (bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5
            row += bytes((to_byte(c.b[i] + d), to_byte(c.g[i] + d), to_byte(c.r[i] + d)))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered_row(row, prev, kind):
    """One PNG scanline with filter `kind` applied (4 bytes per pixel)."""
    out = bytearray((kind,))
    for i, x in enumerate(row):
        a = row[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((x - pred) & 0xFF)
    return out


def icon_png(c):
    """8-bit RGBA PNG (straight alpha); no ancillary chunks, so the bytes depend on the pixels only."""
    raw = bytearray()
    prev = bytes(c.w * 4)
    for y in range(c.h):
        row = bytearray()
        for x in range(c.w):
            i = y * c.w + x
            alpha = to_byte(c.a[i] * 255.0)
            # Clear pixels carry no colour, which also compresses best.
            row += bytes((to_byte(c.r[i]), to_byte(c.g[i]), to_byte(c.b[i]), alpha)) if alpha else b"\0\0\0\0"
        # The usual heuristic: per row, the filter whose output has the smallest sum of magnitudes.
        raw += min((filtered_row(row, prev, k) for k in range(5)),
                   key=lambda f: sum(v if v < 128 else 256 - v for v in f[1:]))
        prev = row
    ihdr = struct.pack(">IIBBBBB", c.w, c.h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def icon_ico(c):
    """One 32-bpp image stored as PNG, which icon resources accept since Windows Vista."""
    image = icon_png(c)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return header + entry + image


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    out = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    stale = []
    for name, data in (("background.bmp", background_bmp(make_background())),
                       ("halvex.ico", icon_ico(make_icon()))):
        path = os.path.join(out, name)
        if check:
            with open(path, "rb") as f:
                if f.read() != data:
                    stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        sys.exit("out of date, run res/make_art.py: " + ", ".join(stale))


if __name__ == "__main__":
    main()
