#!/usr/bin/env python3
"""Regenerates Quelvin's icons (src/icons/), the application icon of the
desktop theme (data/icons/: PNGs of 16 to 256 pixels and an SVG, all from
one description) and the checker texture used by the example scenes
(examples/textures/checker.png).

The build uses the committed PNGs; this script exists so the artwork can be
tweaked and rebuilt without an image editor.  It deliberately needs nothing
but the Python standard library, so every shape is described by a signed
distance function and rendered with 8x8 supersampling, which gives smooth
edges without a drawing library.

Usage: scripts/make_icons.py [repo-root]
"""

import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 8


# ---------------------------------------------------------------------------
# PNG output

def write_png(path, width, height, rows, channels=4):
    """rows: list of bytes objects, one per scanline, 8 bits per channel."""
    colour_type = {3: 2, 4: 6}[channels]
    raw = b"".join(b"\x00" + bytes(row) for row in rows)

    def chunk(tag, data):
        crc = zlib.crc32(tag + data) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", crc)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------
# Shapes.  Coordinates are icon pixels with y pointing down; pixel (i, j)
# covers [i, i+1] x [j, j+1].  sd(x, y) is negative inside the shape.
# Boxes are (x0, y0, x1, y1) and only need to be conservative.

class Shape:
    def sd(self, x, y):
        raise NotImplementedError

    def bbox(self):
        raise NotImplementedError

    def __or__(self, other):
        return Union(self, other)

    def __and__(self, other):
        return Intersection(self, other)

    def __sub__(self, other):
        return Difference(self, other)


class Circle(Shape):
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r

    def sd(self, x, y):
        return math.hypot(x - self.cx, y - self.cy) - self.r

    def bbox(self):
        return (self.cx - self.r, self.cy - self.r, self.cx + self.r, self.cy + self.r)


class EllipseLine(Shape):
    """The outline of an axis-aligned ellipse.  The distance is a first-order
    estimate, which is plenty for strokes a pixel or so wide."""

    def __init__(self, cx, cy, rx, ry, width):
        self.cx, self.cy, self.rx, self.ry, self.w = cx, cy, rx, ry, width

    def sd(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        f = (dx / self.rx) ** 2 + (dy / self.ry) ** 2 - 1.0
        gx, gy = 2 * dx / self.rx ** 2, 2 * dy / self.ry ** 2
        g = math.hypot(gx, gy)
        d = abs(f) / g if g > 1e-9 else max(self.rx, self.ry)
        return d - self.w / 2

    def bbox(self):
        h = self.w
        return (self.cx - self.rx - h, self.cy - self.ry - h,
                self.cx + self.rx + h, self.cy + self.ry + h)


def _seg_dist(x, y, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    wx, wy = x - ax, y - ay
    ll = vx * vx + vy * vy
    t = 0.0 if ll == 0 else max(0.0, min(1.0, (wx * vx + wy * vy) / ll))
    return math.hypot(wx - t * vx, wy - t * vy)


class Polyline(Shape):
    """A stroked open path with round caps and joins."""

    def __init__(self, points, width):
        self.pts, self.w = points, width

    def sd(self, x, y):
        p = self.pts
        d = min(_seg_dist(x, y, *p[i], *p[i + 1]) for i in range(len(p) - 1))
        return d - self.w / 2

    def bbox(self):
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        h = self.w / 2
        return (min(xs) - h, min(ys) - h, max(xs) + h, max(ys) + h)


class Polygon(Shape):
    def __init__(self, points):
        self.pts = points

    def sd(self, x, y):
        p = self.pts
        n = len(p)
        d = float("inf")
        inside = False
        for i in range(n):
            ax, ay = p[i]
            bx, by = p[(i + 1) % n]
            d = min(d, _seg_dist(x, y, ax, ay, bx, by))
            if (ay > y) != (by > y):
                if x < ax + (y - ay) * (bx - ax) / (by - ay):
                    inside = not inside
        return -d if inside else d

    def bbox(self):
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        return (min(xs), min(ys), max(xs), max(ys))


class Arc(Shape):
    """A stroked circular arc from angle a0 to a1 (degrees, increasing
    clockwise on screen because y points down), butt ends."""

    def __init__(self, cx, cy, r, width, a0, a1):
        self.cx, self.cy, self.r, self.w = cx, cy, r, width
        self.a0, self.a1 = a0, a1

    def sd(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        ang = math.degrees(math.atan2(dy, dx))
        while ang < self.a0:
            ang += 360
        band = abs(math.hypot(dx, dy) - self.r) - self.w / 2
        if ang <= self.a1:
            return band
        # Outside the sweep: distance to the nearer flat end.
        best = float("inf")
        for a in (self.a0, self.a1):
            ux, uy = math.cos(math.radians(a)), math.sin(math.radians(a))
            along = dx * ux + dy * uy
            across = abs(dx * -uy + dy * ux)
            radial = abs(along - self.r) - self.w / 2
            best = min(best, max(radial, across))
        return max(band, best)

    def bbox(self):
        h = self.r + self.w
        return (self.cx - h, self.cy - h, self.cx + h, self.cy + h)


class Union(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b

    def sd(self, x, y):
        return min(self.a.sd(x, y), self.b.sd(x, y))

    def bbox(self):
        a, b = self.a.bbox(), self.b.bbox()
        return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


class Intersection(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b

    def sd(self, x, y):
        return max(self.a.sd(x, y), self.b.sd(x, y))

    def bbox(self):
        a, b = self.a.bbox(), self.b.bbox()
        return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))


class Difference(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b

    def sd(self, x, y):
        return max(self.a.sd(x, y), -self.b.sd(x, y))

    def bbox(self):
        return self.a.bbox()


class Offset(Shape):
    """Grows (d > 0) or shrinks (d < 0) a shape."""

    def __init__(self, shape, d):
        self.s, self.d = shape, d

    def sd(self, x, y):
        return self.s.sd(x, y) - self.d

    def bbox(self):
        b = self.s.bbox()
        d = max(self.d, 0)
        return (b[0] - d, b[1] - d, b[2] + d, b[3] + d)


class Outline(Shape):
    """A band of the given width centred on a shape's edge."""

    def __init__(self, shape, width):
        self.s, self.w = shape, width

    def sd(self, x, y):
        return abs(self.s.sd(x, y)) - self.w / 2

    def bbox(self):
        b = self.s.bbox()
        h = self.w
        return (b[0] - h, b[1] - h, b[2] + h, b[3] + h)


def union(*shapes):
    result = shapes[0]
    for s in shapes[1:]:
        result = result | s
    return result


# ---------------------------------------------------------------------------
# Paints: either an (r, g, b[, a]) tuple with 0-255 channels or a callable
# (x, y) -> such a tuple.

def _mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    c0 = tuple(c0) + (255,) * (4 - len(c0))
    c1 = tuple(c1) + (255,) * (4 - len(c1))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def linear(x0, y0, c0, x1, y1, c1):
    vx, vy = x1 - x0, y1 - y0
    ll = vx * vx + vy * vy

    def paint(x, y):
        return _mix(c0, c1, ((x - x0) * vx + (y - y0) * vy) / ll)
    return paint


def radial(cx, cy, r, c0, c1):
    def paint(x, y):
        return _mix(c0, c1, math.hypot(x - cx, y - cy) / r)
    return paint


# ---------------------------------------------------------------------------
# Canvas: composites at the supersampled resolution in premultiplied alpha,
# then box-filters down.

class Canvas:
    def __init__(self, width, height, supersample=SUPERSAMPLE):
        self.w, self.h = width, height
        self.s = supersample
        self.W, self.H = width * supersample, height * supersample
        self.buf = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.W * self.H)]

    def fill(self, shape, paint, opacity=1.0):
        x0, y0, x1, y1 = shape.bbox()
        s = self.s
        sx0 = max(0, int(math.floor(x0 * s)) - 1)
        sy0 = max(0, int(math.floor(y0 * s)) - 1)
        sx1 = min(self.W, int(math.ceil(x1 * s)) + 1)
        sy1 = min(self.H, int(math.ceil(y1 * s)) + 1)
        solid = None if callable(paint) else _mix(paint, paint, 0)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / s
            row = sy * self.W
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / s
                if shape.sd(x, y) > 0:
                    continue
                r, g, b, a = solid if solid else _mix(paint(x, y), paint(x, y), 0)
                a = a / 255.0 * opacity
                px = self.buf[row + sx]
                k = 1.0 - a
                px[0] = r / 255.0 * a + px[0] * k
                px[1] = g / 255.0 * a + px[1] * k
                px[2] = b / 255.0 * a + px[2] * k
                px[3] = a + px[3] * k

    def rows(self):
        s = self.s
        n = float(s * s)
        out = []
        for j in range(self.h):
            row = bytearray()
            for i in range(self.w):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(j * s, j * s + s):
                    base = sy * self.W + i * s
                    for px in self.buf[base:base + s]:
                        acc[0] += px[0]
                        acc[1] += px[1]
                        acc[2] += px[2]
                        acc[3] += px[3]
                a = acc[3] / n
                if a <= 1e-6:
                    row += b"\x00\x00\x00\x00"
                    continue
                row += bytes(min(255, int(round(c / n / a * 255))) for c in acc[:3])
                row.append(min(255, int(round(a * 255))))
            out.append(bytes(row))
        return out

    def save(self, path):
        write_png(path, self.w, self.h, self.rows())


def closed(points):
    return list(points) + [points[0]]


# ---------------------------------------------------------------------------
# The icons

def icon_open_folder():
    c = Canvas(24, 24)
    ink = (110, 74, 16)
    back = Polygon([(1.5, 4.5), (8.5, 4.5), (10.5, 6.5), (19.5, 6.5),
                    (19.5, 20.5), (1.5, 20.5)])
    c.fill(back, linear(0, 4, (214, 164, 60), 0, 20, (170, 120, 30)))
    c.fill(Outline(back, 1.0), ink)
    sheet = Polygon([(4.5, 8.5), (17.5, 8.5), (17.5, 16), (4.5, 16)])
    c.fill(sheet, (252, 252, 248))
    c.fill(Outline(sheet, 0.8), (150, 150, 150))
    for yy in (10.5, 12.5):
        c.fill(Polyline([(6.5, yy), (15.5, yy)], 0.8), (170, 180, 200))
    front = Polygon([(6.0, 10.5), (23.0, 10.5), (19.5, 20.5), (1.5, 20.5)])
    c.fill(front, linear(0, 10, (255, 226, 130), 0, 21, (232, 180, 64)))
    c.fill(Polyline([(6.6, 11.6), (21.6, 11.6)], 0.8), (255, 244, 200), 0.8)
    c.fill(Outline(front, 1.0), ink)
    return c


def _arrow_shape(pointing_left):
    pts = [(2.5, 12), (12, 3.5), (12, 8), (21.5, 8), (21.5, 16), (12, 16), (12, 20.5)]
    if not pointing_left:
        pts = [(24 - x, y) for x, y in pts]
    return Polygon(pts)


def icon_arrow(pointing_left):
    c = Canvas(24, 24)
    shape = _arrow_shape(pointing_left)
    c.fill(shape, linear(0, 4, (120, 176, 240), 0, 20, (28, 86, 178)))
    # A soft sheen on the upper half reads as a raised button at this size.
    sheen = Intersection(Offset(shape, -1.6), Polygon([(0, 0), (24, 0), (24, 11.5), (0, 11.5)]))
    c.fill(sheen, (255, 255, 255), 0.25)
    c.fill(Outline(shape, 1.0), (18, 52, 116))
    return c


def icon_redo():
    c = Canvas(24, 24)
    body = Arc(11.5, 14.5, 7.0, 3.2, 150, 360)
    head = Polygon([(14.0, 12.5), (23.0, 12.5), (18.5, 20.5)])
    shape = body | head
    c.fill(Offset(shape, 0.9), (18, 52, 116))
    c.fill(shape, linear(0, 6, (120, 176, 240), 0, 21, (36, 96, 190)))
    return c


def icon_delete():
    c = Canvas(32, 32)
    disc = Circle(16, 16, 14.5)
    c.fill(disc, radial(11, 9, 22, (246, 110, 96), (168, 18, 16)))
    c.fill(Outline(Circle(16, 16, 14.0), 1.2), (112, 10, 10))
    cross = Polyline([(10.5, 10.5), (21.5, 21.5)], 3.8) | Polyline([(21.5, 10.5), (10.5, 21.5)], 3.8)
    c.fill(Offset(cross, 0.7), (120, 10, 10), 0.45)
    c.fill(cross, (255, 255, 255))
    gloss = Intersection(Circle(16, 16, 12.8), Circle(16, -9, 20))
    c.fill(gloss, linear(0, 2, (255, 255, 255, 120), 0, 11, (255, 255, 255, 0)))
    return c


def icon_globe():
    c = Canvas(32, 32)
    cx, cy, r = 16.0, 16.0, 13.5
    disc = Circle(cx, cy, r)
    c.fill(disc, radial(11, 10, 20, (110, 180, 250), (16, 64, 150)))
    land = union(Circle(10, 11, 4.2), Circle(13, 16, 3.2), Circle(8.5, 17, 2.6),
                 Circle(21.5, 21, 4.0), Circle(24, 17.5, 2.6), Circle(19, 8, 2.2))
    c.fill(land & Offset(disc, -0.6), radial(11, 10, 20, (130, 204, 96), (40, 112, 36)))
    grid = (255, 255, 255)
    lines = Polyline([(cx, cy - r), (cx, cy + r)], 0.9)
    for k in (1, 2):
        rx = r * math.sin(math.radians(30 * k))
        lines = lines | EllipseLine(cx, cy, rx, r, 0.9)
    for lat in (-40, 0, 40):
        yy = cy + r * math.sin(math.radians(lat))
        half = r * math.cos(math.radians(lat))
        lines = lines | Polyline([(cx - half, yy), (cx + half, yy)], 0.9)
    c.fill(lines & Offset(disc, -0.4), grid, 0.55)
    gloss = Intersection(Circle(cx, cy, r - 1.2), Circle(cx - 3, cy - 16, 16))
    c.fill(gloss, linear(0, 2, (255, 255, 255, 110), 0, 12, (255, 255, 255, 0)))
    c.fill(Outline(disc, 1.0), (12, 40, 100))
    return c


def icon_check():
    c = Canvas(24, 24)
    mark = Polyline([(4.5, 12.5), (9.5, 17.5), (19.5, 5.5)], 3.6)
    c.fill(Offset(mark, 1.0), (20, 96, 20))
    c.fill(mark, linear(0, 5, (120, 220, 90), 0, 20, (40, 156, 36)))
    return c


# The application icon, a lit cube, described once in a 30-unit square so
# that the PNGs of every size and the SVG agree.  Faces: points, gradient
# (from, colour, to, colour).
APP_FACES = [
    ([(15, 2.5), (26.5, 8.25), (15, 14), (3.5, 8.25)], (9, 5, (252, 226, 140), 21, 11, (226, 184, 84))),
    ([(3.5, 8.25), (15, 14), (15, 27.5), (3.5, 21.75)], (4, 10, (214, 162, 60), 15, 26, (170, 120, 36))),
    ([(15, 14), (26.5, 8.25), (26.5, 21.75), (15, 27.5)], (15, 14, (150, 104, 30), 26, 22, (106, 70, 18))),
]
APP_RIDGES = [[(3.5, 8.25), (15, 14), (26.5, 8.25)], [(15, 14), (15, 27.5)]]
APP_RIDGE = ((255, 240, 190), 0.75, 0.9)       # colour, opacity, width
APP_HULL = [(15, 2.5), (26.5, 8.25), (26.5, 21.75), (15, 27.5), (3.5, 21.75), (3.5, 8.25)]
APP_EDGE = ((84, 54, 12), 1.0)                 # colour, width
APP_SIZES = [16, 32, 48, 64, 128, 256]


def icon_app(size=30):
    # Pure Python: large sizes need fewer samples per pixel to stay quick.
    c = Canvas(size, size, SUPERSAMPLE if size <= 64 else 3)
    k = size / 30.0

    def scaled(points):
        return [(x * k, y * k) for x, y in points]

    for points, (x0, y0, c0, x1, y1, c1) in APP_FACES:
        c.fill(Polygon(scaled(points)), linear(x0 * k, y0 * k, c0, x1 * k, y1 * k, c1))
    colour, opacity, width = APP_RIDGE
    c.fill(union(*[Polyline(scaled(line), width * k) for line in APP_RIDGES]), colour, opacity)
    colour, width = APP_EDGE
    # Below a pixel the edge would fade into the faces.
    c.fill(Outline(Polygon(scaled(APP_HULL)), max(width * k, 0.9)), colour)
    return c


def app_svg():
    def pts(points):
        return " ".join("%g,%g" % p for p in points)

    def rgb(c):
        return "#%02x%02x%02x" % c

    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="30" height="30" viewBox="0 0 30 30">',
           '  <defs>']
    for i, (_, (x0, y0, c0, x1, y1, c1)) in enumerate(APP_FACES):
        out.append('    <linearGradient id="face%d" gradientUnits="userSpaceOnUse" '
                   'x1="%g" y1="%g" x2="%g" y2="%g">' % (i, x0, y0, x1, y1))
        out.append('      <stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/>'
                   % (rgb(c0), rgb(c1)))
        out.append('    </linearGradient>')
    out.append('  </defs>')
    for i, (points, _) in enumerate(APP_FACES):
        out.append('  <polygon points="%s" fill="url(#face%d)"/>' % (pts(points), i))
    colour, opacity, width = APP_RIDGE
    for line in APP_RIDGES:
        out.append('  <polyline points="%s" fill="none" stroke="%s" stroke-opacity="%g" '
                   'stroke-width="%g" stroke-linecap="round" stroke-linejoin="round"/>'
                   % (pts(line), rgb(colour), opacity, width))
    colour, width = APP_EDGE
    out.append('  <polygon points="%s" fill="none" stroke="%s" stroke-width="%g" stroke-linejoin="round"/>'
               % (pts(APP_HULL), rgb(colour), width))
    out.append('</svg>')
    return "\n".join(out) + "\n"


def checker_rows(size=64, square=8, a=(204, 24, 24), b=(255, 255, 255)):
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            row += bytes(a if ((x // square) + (y // square)) % 2 == 0 else b)
        rows.append(bytes(row))
    return rows


ICONS = [
    ("linguist-fileopen.png", icon_open_folder),
    ("previous.png", lambda: icon_arrow(True)),
    ("next.png", lambda: icon_arrow(False)),
    ("linguist-editredo.png", icon_redo),
    ("delete32.png", icon_delete),
    ("World2.png", icon_globe),
    ("Check.png", icon_check),
    ("quelvin_3d_30.png", icon_app),
]


def write_qrc(path):
    lines = ["<!DOCTYPE RCC>", '<RCC version="1.0">', '<qresource prefix="/icons">']
    lines += ["    <file>%s</file>" % name for name, _ in ICONS]
    lines += ["</qresource>", "</RCC>", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    icon_dir = os.path.join(root, "src", "icons")
    for name, draw in ICONS:
        path = os.path.join(icon_dir, name)
        draw().save(path)
        print("wrote", os.path.normpath(path))
    write_qrc(os.path.join(icon_dir, "quelvin.qrc"))
    theme_dir = os.path.join(root, "data", "icons")
    for size in APP_SIZES:
        path = os.path.join(theme_dir, str(size), "quelvin.png")
        icon_app(size).save(path)
        print("wrote", os.path.normpath(path))
    svg = os.path.join(theme_dir, "quelvin.svg")
    with open(svg, "w") as f:
        f.write(app_svg())
    print("wrote", os.path.normpath(svg))
    checker = os.path.join(root, "examples", "textures", "checker.png")
    write_png(checker, 64, 64, checker_rows(), channels=3)
    print("wrote", os.path.normpath(checker))


if __name__ == "__main__":
    main()
