#!/usr/bin/env python3
"""Draws the radio's skin (290 x 480) and window icon (32 x 32) and writes them as one-frame
GIF files with a 256-colour palette: app/assets/skin.gif and app/assets/icon.gif.

Standard library only: shapes are drawn with signed-distance coverage (smooth edges without
supersampling); the median cut and the GIF writer are shared with make-decorations.py
(gif_writer.py). The generated files are committed, so building never needs this script.

Usage: scripts/make-skin.py [OUTPUT_DIR]   (default: app/assets next to this script)
"""
import math
import os
import sys

from gif_writer import median_cut, write_gif

# The window is cut to CreateRoundRectRgn(0, 0, 290, 480, 40, 40); everything outside that
# region is painted in the key colour so a missing cut shows at once.
WIDTH, HEIGHT, CORNER = 290, 480, 20
KEY = (255, 0, 255)

# Areas the window places its children over (left, top, width, height).
PLAYER = (8, 88, 273, 64)
PAGE = (8, 152, 273, 305)
MINIMISE = (245, 8, 17, 12)
CLOSE = (267, 8, 17, 12)

# A 5 x 7 pixel font for the few letters the skin spells.
FONT = {
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "0": ["01110", "10011", "10101", "10101", "11001", "10001", "01110"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    " ": ["00000"] * 7,
}


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.px = [list(colour) for _ in range(width * height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        p = self.px[y * self.width + x]
        a = min(alpha, 1.0)
        for i in range(3):
            p[i] = p[i] + (colour[i] - p[i]) * a

    def shape(self, box, distance, paint):
        """Paints every pixel of box (x0, y0, x1, y1) by coverage of the shape whose signed
        distance (negative inside) `distance` gives at the pixel centre."""
        x0, y0, x1, y1 = box
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                d = distance(x + 0.5, y + 0.5)
                cover = 0.5 - d
                if cover > 0:
                    self.blend(x, y, paint(x, y), cover)


def rounded_rect(x, y, w, h, r):
    """Signed distance to a rectangle with corners rounded by radius r."""
    cx, cy = x + w / 2.0, y + h / 2.0
    hx, hy = w / 2.0 - r, h / 2.0 - r

    def distance(px, py):
        qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return distance


def segment(ax, ay, bx, by, half_width):
    def distance(px, py):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - ax - t * dx, py - ay - t * dy) - half_width

    return distance


def circle(cx, cy, r):
    return lambda px, py: math.hypot(px - cx, py - cy) - r


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vertical(top_colour, bottom_colour, y0, y1):
    return lambda x, y: mix(top_colour, bottom_colour, (y - y0) / max(1, y1 - y0))


def solid(colour):
    return lambda x, y: colour


def box_of(x, y, w, h, grow=2):
    return (int(x) - grow, int(y) - grow, int(x + w) + grow + 1, int(y + h) + grow + 1)


def text(canvas, string, x, y, scale, colour, spacing=1):
    for ch in string:
        rows = FONT[ch]
        for ry, row in enumerate(rows):
            for rx, bit in enumerate(row):
                if bit == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            canvas.blend(x + rx * scale + sx, y + ry * scale + sy, colour, 1.0)
        x += (5 + spacing) * scale


def frame(canvas, rect):
    """A sunken bevel around a child area: dark outside, a light hairline just inside."""
    x, y, w, h = rect
    canvas.shape(box_of(x - 3, y - 3, w + 6, h + 6), rounded_rect(x - 3, y - 3, w + 6, h + 6, 5),
                 solid((96, 150, 210)))
    canvas.shape(box_of(x - 2, y - 2, w + 4, h + 4), rounded_rect(x - 2, y - 2, w + 4, h + 4, 4),
                 solid((3, 8, 18)))
    canvas.shape(box_of(x, y, w, h), rounded_rect(x, y, w, h, 1), solid((12, 26, 46)))


def button(canvas, rect, top, bottom, rim):
    x, y, w, h = rect
    canvas.shape(box_of(x, y, w, h), rounded_rect(x, y, w, h, 3.5), solid(rim))
    canvas.shape(box_of(x, y, w, h), rounded_rect(x + 1, y + 1, w - 2, h - 2, 2.5),
                 vertical(top, bottom, y, y + h))
    # Gloss on the upper half.
    canvas.shape(box_of(x, y, w, h), rounded_rect(x + 2, y + 1.5, w - 4, h / 2.0 - 1.5, 2),
                 lambda px, py: (255, 255, 255))


def draw_skin():
    c = Canvas(WIDTH, HEIGHT, (10, 24, 44))
    # Body: a rim, then a deep blue gradient inside.
    c.shape((0, 0, WIDTH, HEIGHT), rounded_rect(0, 0, WIDTH, HEIGHT, CORNER),
            vertical((88, 140, 205), (22, 48, 88), 0, HEIGHT))
    c.shape((0, 0, WIDTH, HEIGHT), rounded_rect(2, 2, WIDTH - 4, HEIGHT - 4, CORNER - 2),
            vertical((26, 56, 98), (8, 18, 36), 0, HEIGHT))
    # Header glow behind the decorations and the name.
    c.shape((0, 0, WIDTH, 84), rounded_rect(4, 4, WIDTH - 8, 76, CORNER - 4),
            vertical((44, 86, 140), (20, 44, 80), 4, 80))
    c.shape((0, 0, WIDTH, 40), rounded_rect(8, 5, WIDTH - 16, 22, 10),
            lambda x, y: mix((120, 170, 230), (44, 86, 140), (y - 5) / 22.0))
    # Name, with a shadow.
    text(c, "VELMORA", 63, 13, 2, (4, 12, 26))
    text(c, "VELMORA", 62, 12, 2, (255, 214, 130))
    text(c, "RADIO 1.0", 63, 31, 1, (160, 200, 240), spacing=2)
    # A little level meter right of the second decoration.
    heights = [6, 11, 16, 12, 19, 14, 9, 15, 20, 13, 8, 5]
    for i, bar in enumerate(heights):
        bx = 166 + i * 9
        for step in range(bar // 2):
            by = 62 - step * 2 - 1
            colour = mix((80, 220, 140), (255, 190, 70), step / 9.0)
            c.shape((bx - 1, by - 1, bx + 8, by + 3), rounded_rect(bx, by, 6, 1.4, 0.6), solid(colour))
    # Separator between header and the player.
    for x in range(14, WIDTH - 14):
        fade = 1.0 - abs(x - WIDTH / 2.0) / (WIDTH / 2.0 - 14)
        c.blend(x, 77, (120, 180, 240), 0.8 * fade)
        c.blend(x, 78, (4, 10, 22), 0.8 * fade)
    # Player and page sit in one sunken panel.
    frame(c, (PLAYER[0], PLAYER[1], PLAYER[2], PLAYER[3] + PAGE[3]))
    for x in range(PLAYER[0], PLAYER[0] + PLAYER[2]):
        c.blend(x, PAGE[1] - 1, (60, 100, 150), 1.0)
    # Minimise and close buttons under the hot spots.
    button(c, MINIMISE, (70, 130, 200), (26, 62, 112), (150, 200, 250))
    x, y, w, h = MINIMISE
    c.shape(box_of(x, y, w, h), segment(x + 5, y + 8, x + w - 5, y + 8, 1.1), solid((255, 255, 255)))
    button(c, CLOSE, (226, 84, 66), (140, 30, 22), (255, 170, 150))
    x, y, w, h = CLOSE
    c.shape(box_of(x, y, w, h), segment(x + 5.5, y + 3, x + w - 5.5, y + h - 3, 1.0), solid((255, 255, 255)))
    c.shape(box_of(x, y, w, h), segment(x + w - 5.5, y + 3, x + 5.5, y + h - 3, 1.0), solid((255, 255, 255)))
    # "ON AIR" lamp at the bottom left, beside the credit line.
    c.shape((10, 460, 24, 474), circle(17, 466.5, 4), solid((255, 60, 50)))
    c.shape((10, 460, 24, 474), circle(16, 465.5, 1.5), solid((255, 200, 190)))
    text(c, "ON AIR", 25, 463, 1, (255, 120, 100))
    key_outside_region(c)
    return c


def key_outside_region(canvas):
    """Paints the key colour on every pixel outside the window's region, with the same rule the
    window cuts by: a pixel stays when its centre lies inside the 40 x 40 corner ellipse."""
    r = CORNER
    for y in range(HEIGHT):
        cy = y + 0.5
        dy = r - cy if cy < r else (cy - (HEIGHT - r) if cy > HEIGHT - r else 0)
        if dy <= 0:
            continue
        dx = r * math.sqrt(max(0.0, 1 - (dy / r) ** 2))
        inset = max(0, math.ceil(r - dx - 0.5))
        for x in list(range(inset)) + list(range(WIDTH - inset, WIDTH)):
            canvas.px[y * WIDTH + x] = list(KEY)


def draw_icon():
    c = Canvas(32, 32, (0, 0, 0))
    c.shape((0, 0, 32, 32), rounded_rect(0, 0, 32, 32, 7), vertical((88, 140, 205), (22, 48, 88), 0, 32))
    c.shape((0, 0, 32, 32), rounded_rect(1.5, 1.5, 29, 29, 5.5), vertical((34, 70, 120), (8, 18, 36), 0, 32))
    # Radio waves around an aerial tip.
    for radius, alpha in ((5.5, 1.0), (9.5, 0.85), (13.5, 0.6)):
        ring = lambda px, py, r=radius: abs(math.hypot(px - 16, py - 13) - r) - 1.0
        c.shape((0, 0, 32, 32), lambda px, py, f=ring: f(px, py) if py < 13 + 0.3 * (px - 16) ** 2 / 8 else 9,
                lambda x, y, a=alpha: mix((8, 18, 36), (255, 214, 130), a))
    c.shape((0, 0, 32, 32), circle(16, 13, 2.6), solid((255, 214, 130)))
    c.shape((0, 0, 32, 32), segment(16, 14, 16, 26, 1.3), solid((200, 225, 255)))
    c.shape((0, 0, 32, 32), segment(11, 27, 21, 27, 1.3), solid((200, 225, 255)))
    return c


def quantize(pixels, keep):
    """Median cut to at most 256 colours; the colours in `keep` stay exact. Returns the palette
    and the index of every pixel."""
    counts = {}
    for p in pixels:
        key = (int(round(p[0])), int(round(p[1])), int(round(p[2])))
        counts[key] = counts.get(key, 0) + 1
    palette = median_cut(counts, keep, 256)
    fixed = [k for k in keep if k in counts]
    lookup = {}
    for colour in counts:
        if colour in fixed:
            lookup[colour] = fixed.index(colour)
            continue
        lookup[colour] = min(range(len(fixed), len(palette)),
                             key=lambda j: sum((colour[i] - palette[j][i]) ** 2 for i in range(3)))
    indices = bytes(lookup[(int(round(p[0])), int(round(p[1])), int(round(p[2])))] for p in pixels)
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, indices


def save(path, canvas, keep=()):
    palette, indices = quantize(canvas.px, keep)
    return write_gif(path, canvas.width, canvas.height, palette, [indices])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "assets")
    os.makedirs(out, exist_ok=True)
    size = save(os.path.join(out, "skin.gif"), draw_skin(), keep=(KEY,))
    print(f"skin.gif: {WIDTH} x {HEIGHT}, {size} bytes")
    size = save(os.path.join(out, "icon.gif"), draw_icon())
    print(f"icon.gif: 32 x 32, {size} bytes")


if __name__ == "__main__":
    main()
