#!/usr/bin/env python3
"""Draws Clipnote's icons and bitmaps and writes them as PNG files.

Run it from anywhere (python3 res/make_pictures.py); it rewrites the files
under res/icons, res/bitmaps and res/appicon. Only the standard library is used, and the
output is the same on every run, so the committed PNGs can be checked by
running it again and looking at `git status`. Names on the command line
(icon142, bitmap144.png, ...) redraw only those pictures. New files must also
be listed in res/resources.qrc and in src/platform/resources.cpp.

Every picture is colour keyed: where it is to be transparent it is exactly
magenta (#FF00FF), and magenta appears nowhere else. Shapes are signed
distance functions rendered with supersampling. A pixel is transparent when
fewer than half of its samples land on a shape; otherwise it takes the mean
colour of the samples that do. Outer edges are therefore hard (a soft edge
would mix towards magenta and leave a pink fringe once the key is applied),
while edges between two shapes inside a picture stay smooth.

The program's icon for the desktop (res/appicon/clipnote_<size>.png, the
sizes of the hicolor icon theme) is the same drawing as icon128 with a real
alpha channel instead of the key: a desktop shows it on any background, so
its outer edge is smooth too. These files are installed, not compiled in.
"""

import math
import os
import struct
import sys
import zlib

MAGENTA = (255, 0, 255)

# A friendly flat palette.
BLUE = (59, 130, 196)
BLUE_DARK = (36, 88, 142)
BLUE_MID = (96, 158, 214)
BLUE_LIGHT = (156, 202, 240)
BLUE_PALE = (228, 238, 250)
GREEN = (64, 182, 104)
GREEN_DARK = (36, 130, 70)
GREEN_LIGHT = (110, 208, 142)
RED = (226, 70, 66)
RED_DARK = (166, 40, 38)
RED_LIGHT = (242, 120, 112)
AMBER = (242, 166, 52)
AMBER_DARK = (190, 118, 20)
AMBER_LIGHT = (252, 206, 128)
GREY = (164, 170, 176)
GREY_DARK = (110, 116, 124)
GREY_LIGHT = (214, 218, 222)
WHITE = (255, 255, 255)
SLATE = (104, 124, 166)
SLATE_LIGHT = (162, 176, 206)
CARD_EDGE = (186, 194, 228)


# --------------------------------------------------------------------------
# Shapes: a signed distance (negative inside) and a bounding box.


class Shape:
    def __init__(self, sdf, box):
        self.sdf = sdf
        self.box = box  # (x0, y0, x1, y1)

    def __or__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: min(a(x, y), b(x, y)), _box_union(self.box, other.box))

    def __and__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: max(a(x, y), b(x, y)), _box_meet(self.box, other.box))

    def __sub__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: max(a(x, y), -b(x, y)), self.box)

    def grow(self, d):
        f = self.sdf
        x0, y0, x1, y1 = self.box
        return Shape(lambda x, y: f(x, y) - d, (x0 - d, y0 - d, x1 + d, y1 + d))

    def shrink(self, d):
        return self.grow(-d)

    def moved(self, dx, dy):
        f = self.sdf
        x0, y0, x1, y1 = self.box
        return Shape(lambda x, y: f(x - dx, y - dy), (x0 + dx, y0 + dy, x1 + dx, y1 + dy))


def _box_union(a, b):
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def _box_meet(a, b):
    return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def rrect(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return Shape(f, (x0, y0, x1, y1))


def polygon(points):
    pts = list(points)
    n = len(pts)

    def f(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            d = math.hypot(wx - ex * t, wy - ey * t)
            best = min(best, d)
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        return -best if inside else best

    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(f, (min(xs), min(ys), max(xs), max(ys)))


def capsule(ax, ay, bx, by, r):
    ex, ey = bx - ax, by - ay
    ll = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - ax, y - ay
        t = 0.0 if ll == 0 else max(0.0, min(1.0, (wx * ex + wy * ey) / ll))
        return math.hypot(wx - ex * t, wy - ey * t) - r

    return Shape(f, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r))


def polyline(points, r):
    shape = None
    for a, b in zip(points, points[1:]):
        seg = capsule(a[0], a[1], b[0], b[1], r)
        shape = seg if shape is None else shape | seg
    return shape


def vgradient(top, bottom, y0, y1):
    def colour(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))

    return colour


# --------------------------------------------------------------------------
# Pictures: layers painted in order, later layers over earlier ones.


class Picture:
    def __init__(self, width, height):
        self.width = width  # design units
        self.height = height
        self.layers = []

    def fill(self, shape, colour):
        self.layers.append((shape, colour))
        return self

    def coverage(self, out_w, out_h, ss=4):
        """Per row of the output, per pixel: the summed colour of the samples
        that land on a shape (the topmost one at each sample) and how many of
        the ss * ss samples do."""
        sx = self.width / out_w
        sy = self.height / out_h
        offsets = [(k + 0.5) / ss for k in range(ss)]
        for j in range(out_h):
            py0, py1 = j * sy, (j + 1) * sy
            row_layers = [
                (shape.sdf, shape.box, colour)
                for shape, colour in self.layers
                if shape.box[1] < py1 and shape.box[3] > py0
            ]
            cells = []
            for i in range(out_w):
                px0, px1 = i * sx, (i + 1) * sx
                here = [(f, c) for f, b, c in row_layers if b[0] < px1 and b[2] > px0]
                here.reverse()
                r = g = b = 0.0
                hits = 0
                for oy in offsets if here else ():
                    y = (j + oy) * sy
                    for ox in offsets:
                        x = (i + ox) * sx
                        for f, c in here:
                            if f(x, y) <= 0.0:
                                if callable(c):
                                    c = c(x, y)
                                r += c[0]
                                g += c[1]
                                b += c[2]
                                hits += 1
                                break
                cells.append((r, g, b, hits))
            yield cells

    def render(self, out_w, out_h, ss=4):
        """Rows of RGB pixels, the colour key where fewer than half of the
        samples land on a shape."""
        need = (ss * ss + 1) // 2
        rows = []
        for cells in self.coverage(out_w, out_h, ss):
            row = bytearray()
            for r, g, b, hits in cells:
                if hits >= need:
                    px = (round(r / hits), round(g / hits), round(b / hits))
                    if near_magenta(px):
                        raise ValueError("a drawn colour is too close to the colour key")
                else:
                    px = MAGENTA
                row += bytes(px)
            rows.append(bytes(row))
        return rows

    def render_rgba(self, out_w, out_h, ss=4):
        """Rows of RGBA pixels: the colour is the mean of the samples that land
        on a shape, the opacity the share of samples that do."""
        samples = ss * ss
        rows = []
        for cells in self.coverage(out_w, out_h, ss):
            row = bytearray()
            for r, g, b, hits in cells:
                if hits:
                    alpha = round(255 * hits / samples)
                    row += bytes((round(r / hits), round(g / hits), round(b / hits), alpha))
                else:
                    row += bytes(4)
            rows.append(bytes(row))
        return rows


def near_magenta(px):
    return px[0] >= 200 and px[1] <= 80 and px[2] >= 200


# --------------------------------------------------------------------------
# Motifs shared by several pictures.


def person(cx, top, scale):
    """A head and shoulders; top is the top of the head, scale its radius."""
    r = scale
    head = circle(cx, top + r, r)
    shoulders = rrect(cx - 2.55 * r, top + 2.35 * r, cx + 2.55 * r, top + 6.0 * r, 1.7 * r)
    return head, shoulders


def camera_shape(x0, y0, w, h):
    """A video camera: a rounded body and a lens cone on its right."""
    body = rrect(x0, y0, x0 + w * 0.66, y0 + h, h * 0.18)
    cone = polygon(
        [
            (x0 + w * 0.62, y0 + h * 0.5),
            (x0 + w, y0 + h * 0.08),
            (x0 + w, y0 + h * 0.92),
        ]
    ).grow(h * 0.04)
    return body, cone


def round_button(pic, main, dark, light):
    """The record indicator's round button with a bezel and a soft highlight."""
    pic.fill(circle(16, 16, 15.1), dark)
    pic.fill(circle(16, 16, 13.2), main)
    pic.fill(circle(16, 16, 13.2) - circle(16, 20.5, 14.5), light)
    return pic


# --------------------------------------------------------------------------
# The pictures.


def app_icon(alert):
    pic = Picture(32, 32)
    bubble = rrect(1, 2.5, 31, 23.5, 6.5) | polygon([(6, 19), (15, 19), (4.5, 30)]).grow(0.5)
    pic.fill(bubble, BLUE_DARK)
    pic.fill(bubble.shrink(1.5), vgradient(BLUE_MID, BLUE, 4, 22))
    body, cone = camera_shape(7, 8, 18.5, 10.5)
    pic.fill(body | cone, WHITE)
    pic.fill(circle(10.2, 11.2, 1.3), RED)
    if alert:
        pic.fill(circle(25.5, 6.5, 6.5), WHITE)
        pic.fill(circle(25.5, 6.5, 5.0), RED)
        pic.fill(circle(25.5, 6.5, 5.0) - circle(25.5, 8.5, 5.4), RED_LIGHT)
    return pic


def tray_pic(arrow_up):
    pic = Picture(16, 16)
    tray = rrect(0.5, 8, 15.5, 15.5, 2)
    pic.fill(tray, BLUE_DARK)
    pic.fill(tray.shrink(1), BLUE)
    # The tray's opening: a lighter well with a dip in the middle of its rim.
    well = rrect(2, 8, 14, 11.5, 0.8)
    pic.fill(well, BLUE_LIGHT)
    pic.fill(rrect(1.5, 11, 5, 14.5, 0.5) | rrect(11, 11, 14.5, 14.5, 0.5), BLUE)
    pic.fill(rrect(5, 12, 11, 13, 0.5), BLUE_DARK)
    if arrow_up:
        arrow = capsule(8, 4.5, 8, 10, 1.4) | polygon([(3.5, 6), (12.5, 6), (8, 0.5)]).grow(0.3)
        colour, edge = AMBER, AMBER_DARK
    else:
        arrow = capsule(8, 0.8, 8, 6, 1.4) | polygon([(3.5, 5.5), (12.5, 5.5), (8, 10.5)]).grow(0.3)
        colour, edge = GREEN, GREEN_DARK
    pic.fill(arrow.grow(0.8), edge)
    pic.fill(arrow, colour)
    return pic


def sent_pic():
    pic = Picture(16, 16)
    nose, wing, fold, tail = (15.2, 1.2), (0.8, 7.2), (6.2, 9.6), (9.6, 15)
    under = (6.6, 13.8)
    plane = polygon([nose, wing, fold, under, tail])
    pic.fill(plane.grow(0.45), BLUE_DARK)
    pic.fill(polygon([nose, wing, fold]).shrink(0.35), WHITE)
    pic.fill(polygon([nose, fold, tail]).shrink(0.35), BLUE_LIGHT)
    pic.fill(polygon([fold, (9.0, 10.2), under]).shrink(0.2), BLUE)
    return pic


def contacts_pic():
    pic = Picture(16, 16)
    head, shoulders = person(8, 0.8, 3.1)
    clip = rrect(0.5, 0, 15.5, 15.5, 2.5)
    pic.fill((head.grow(0.8) | shoulders.grow(0.8)) & clip, BLUE_DARK)
    pic.fill(shoulders & clip.shrink(0.8), BLUE)
    pic.fill(head, BLUE_MID)
    return pic


def ready_pic():
    pic = round_button(Picture(32, 32), GREEN, GREEN_DARK, GREEN_LIGHT)
    pic.fill(circle(16, 16, 6), WHITE)
    return pic


def disabled_pic():
    pic = round_button(Picture(32, 32), GREY, GREY_DARK, GREY_LIGHT)
    pic.fill(circle(16, 16, 6), GREY_LIGHT)
    return pic


def countdown_pic():
    pic = round_button(Picture(32, 32), AMBER, AMBER_DARK, AMBER_LIGHT)
    glass = polygon([(10.5, 8.5), (21.5, 8.5), (17, 16), (21.5, 23.5), (10.5, 23.5), (15, 16)])
    pic.fill(glass.grow(0.4), WHITE)
    pic.fill(polygon([(12.8, 10.6), (19.2, 10.6), (16, 14.6)]), AMBER_DARK)
    pic.fill(polygon([(16, 18.2), (19.6, 22.2), (12.4, 22.2)]), AMBER_DARK)
    pic.fill(rrect(9, 6.5, 23, 9, 1.2) | rrect(9, 23, 23, 25.5, 1.2), WHITE)
    return pic


def recording_pic():
    pic = round_button(Picture(32, 32), RED, RED_DARK, RED_LIGHT)
    pic.fill(circle(16, 16, 7.5), WHITE)
    pic.fill(circle(16, 16, 5.5), RED)
    return pic


def card(pic, x0, y0, x1, y1, r):
    """A light rounded card with a thin edge; returns the inner shape and its fill."""
    outer = rrect(x0, y0, x1, y1, r)
    inner = outer.shrink(2)
    fill = vgradient((250, 251, 255), (230, 236, 250), y0, y1)
    pic.fill(outer, CARD_EDGE)
    pic.fill(inner, fill)
    return inner, fill


def one_contact_pic():
    pic = Picture(192, 168)
    inner, _ = card(pic, 10, 2, 182, 166, 18)
    head, shoulders = person(96, 26, 27)
    pic.fill(shoulders & inner, SLATE)
    pic.fill(head, SLATE)
    return pic


def several_contacts_pic():
    pic = Picture(192, 168)
    inner, fill = card(pic, 4, 2, 188, 166, 18)
    for cx in (50, 142):
        head, shoulders = person(cx, 28, 19)
        pic.fill(shoulders & inner, SLATE_LIGHT)
        pic.fill(head, SLATE_LIGHT)
    head, shoulders = person(96, 46, 23)
    pic.fill((head | shoulders).grow(4) & inner, fill)
    pic.fill(shoulders & inner, SLATE)
    pic.fill(head, SLATE)
    return pic


def chevron(pic, cx, cy, size, colour):
    pic.fill(polyline([(cx - size / 2, cy - size), (cx + size / 2, cy), (cx - size / 2, cy + size)], 3.2), colour)


def welcome_pic():
    pic = Picture(320, 240)
    card(pic, 3, 4, 317, 236, 24)
    cy = 126

    # Choose a contact: a badge with a person and a pointer on it.
    badge = circle(60, cy, 42)
    pic.fill(badge, CARD_EDGE)
    pic.fill(badge.shrink(3), BLUE_PALE)
    head, shoulders = person(60, cy - 30, 13.5)
    pic.fill(shoulders & badge.shrink(3), SLATE)
    pic.fill(head, SLATE)
    pointer = polygon(
        [(86, 142), (86, 182), (95.5, 172.5), (102, 186.5), (107.5, 184), (101, 170.5), (114, 169.5)]
    )
    pic.fill(pointer.grow(2.4), BLUE_DARK)
    pic.fill(pointer, WHITE)

    chevron(pic, 123, cy, 11, BLUE_LIGHT)

    # Hold the space bar: a key being pressed.
    pic.fill(capsule(172, 54, 172, 76, 5), AMBER)
    pic.fill(polygon([(158, 76), (186, 76), (172, 92)]).grow(2), AMBER)
    pic.fill(rrect(134, 108, 210, 150, 11), GREY_DARK)
    pic.fill(rrect(134, 103, 210, 143, 11), GREY)
    pic.fill(rrect(138.5, 105.5, 205.5, 136, 8), vgradient(WHITE, GREY_LIGHT, 105, 136))
    pic.fill(polyline([(155, 113), (155, 124), (189, 124), (189, 113)], 2.6), GREY_DARK)

    chevron(pic, 219, cy, 11, BLUE_LIGHT)

    # Record: a film camera with its red light on.
    pic.fill(circle(244, 98, 12.5) | circle(268, 98, 12.5), BLUE_DARK)
    pic.fill(circle(244, 98, 5) | circle(268, 98, 5), BLUE_LIGHT)
    body, cone = camera_shape(230, 109, 72, 42)
    pic.fill(body | cone, BLUE)
    pic.fill(circle(242, 121, 5.5), RED)
    return pic


def default_contact_pic():
    pic = Picture(24, 24)
    tile = rrect(0.5, 0.5, 23.5, 23.5, 4.5)
    pic.fill(tile, CARD_EDGE)
    inner = tile.shrink(1)
    pic.fill(inner, BLUE_PALE)
    head, shoulders = person(12, 4, 4.2)
    pic.fill(shoulders & inner, SLATE)
    pic.fill(head, SLATE)
    return pic


# (file name, picture maker, output sizes): every icon is drawn at each size
# it is offered in; a bitmap has exactly one size.
ICONS = [
    ("icon128", lambda: app_icon(False), (32, 16)),
    ("icon149", lambda: app_icon(True), (32, 16)),
    ("icon129", ready_pic, (32,)),
    ("icon146", disabled_pic, (32,)),
    ("icon147", countdown_pic, (32,)),
    ("icon148", recording_pic, (32,)),
    ("icon144", lambda: tray_pic(False), (16, 32)),
    ("icon145", lambda: tray_pic(True), (16, 32)),
    ("icon143", sent_pic, (16, 32)),
    ("icon142", contacts_pic, (16, 32)),
]

BITMAPS = [
    ("bitmap131", one_contact_pic, 192, 168),
    ("bitmap143", several_contacts_pic, 192, 168),
    ("bitmap144", welcome_pic, 320, 240),
    ("bitmap145", default_contact_pic, 24, 24),
]


# The desktop icon: icon128's drawing at each size of the hicolor theme.
APP_ICON = ("clipnote", lambda: app_icon(False), (16, 32, 48, 64, 128, 256))


def png_bytes(width, height, rows, alpha=False):
    def chunk(kind, data):
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)

    raw = b"".join(b"\x00" + row for row in rows)
    colour_type = 6 if alpha else 2  # 8-bit RGBA or RGB
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def write_file(path, data):
    # Written beside the target and renamed over it, so a broken run never
    # leaves half a picture behind.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    only = set(sys.argv[1:])
    jobs = []
    for name, make, sizes in ICONS:
        for size in sizes:
            jobs.append(("icons", "%s_%d.png" % (name, size), make, size, size))
    for name, make, w, h in BITMAPS:
        jobs.append(("bitmaps", name + ".png", make, w, h))
    name, make, sizes = APP_ICON
    for size in sizes:
        jobs.append(("appicon", "%s_%d.png" % (name, size), make, size, size))
    for folder, file_name, make, w, h in jobs:
        if only and file_name not in only and file_name.split("_")[0].split(".")[0] not in only:
            continue
        os.makedirs(os.path.join(here, folder), exist_ok=True)
        alpha = folder == "appicon"
        picture = make()
        rows = picture.render_rgba(w, h) if alpha else picture.render(w, h)
        path = os.path.join(here, folder, file_name)
        write_file(path, png_bytes(w, h, rows, alpha))
        print(os.path.relpath(path, here))


if __name__ == "__main__":
    main()
