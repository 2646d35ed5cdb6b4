#!/usr/bin/env python3
"""Draws the radio window's two animated decorations and writes them as GIF89a files:

  app/form/ucAniGIF2.gif  36 x 30, 2-entry global table, background and transparent index 1:
                          a radio mast whose outer waves pulse (frames of 50 hundredths).
  app/form/ucAniGIF1.gif  140 x 24, 256-entry global table, background and transparent
                          index 255: a glowing signal trace over a chasing LED ticker
                          (frames of 20 hundredths).

Next to each GIF it writes the decoration's stored property bag (ucAniGIF1.bag, ucAniGIF2.bag):
the container's extent under "_extentx" and "_extenty" (32-bit integers, hundredths of a
millimetre) and the GIF bytes under "gif" (a byte array with lower bound 1), in the bag's
serialised form (platform/property_bag.h; the Qt tests check these files byte for byte against
the C++ property bag). The window restores each decoration from its bag.

Both GIFs have two full-canvas frames with disposal 1 (leave in place), transparency on and a
NETSCAPE2.0 loop count of 0 (endless). Disposal 1 keeps frame 1 under frame 2, so frame 2 paints
over every pixel of frame 1 that has to change; where frame 1's trace must vanish it paints the
skin's own colour. That is why the trace is blended against the skin (app/assets/skin.gif) at the
exact place the window puts the decoration: the GIFs only look right there.

Standard library only, with its own GIF reader (for the skin) and the median cut and GIF writer
it shares with make-skin.py (gif_writer.py). The generated files are committed, so building never
needs this script.

Usage: scripts/make-decorations.py [OUTPUT_DIR]   (default: app/form next to this script)
"""
import math
import os
import struct
import sys

from gif_writer import median_cut, write_gif

HERE = os.path.dirname(os.path.abspath(__file__))
SKIN = os.path.join(HERE, "..", "app", "assets", "skin.gif")

# Where the window places each decoration (left, top, width, height), in skin pixels.
UCANIGIF2 = (16, 8, 36, 30)
UCANIGIF1 = (16, 40, 140, 24)

GOLD = (255, 214, 130)      # the wordmark's colour
GREEN = (80, 220, 140)      # the level meter's foot
AMBER = (255, 190, 70)      # the level meter's top
CYAN = (120, 200, 250)


# --- Reading the skin: one image, global table, not interlaced (what make-skin.py writes) ---

def lzw_decode(data, min_code_size, pixel_count):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width, mask = min_code_size + 1, (1 << (min_code_size + 1)) - 1
    table = [bytes([i]) for i in range(clear)] + [b"", b""]
    out, previous = bytearray(), None
    bits, count, pos = 0, 0, 0
    while len(out) < pixel_count:
        while count < width and pos < len(data):
            bits |= data[pos] << count
            count += 8
            pos += 1
        if count < width:
            break
        code = bits & mask
        bits >>= width
        count -= width
        if code == clear:
            table = table[:end + 1]
            width, mask, previous = min_code_size + 1, (1 << (min_code_size + 1)) - 1, None
            continue
        if code == end:
            break
        if previous is None:
            entry = table[code]
        elif code < len(table):
            entry = table[code]
            table.append(previous + entry[:1])
        else:
            entry = previous + previous[:1]
            table.append(entry)
        out += entry
        previous = entry
        if len(table) == mask + 1 and width < 12:
            width += 1
            mask = (1 << width) - 1
    return bytes(out[:pixel_count])


def read_skin(path):
    data = open(path, "rb").read()
    if data[:6] not in (b"GIF87a", b"GIF89a"):
        raise SystemExit(f"{path}: not a GIF")
    width, height, flags = struct.unpack_from("<HHB", data, 6)
    pos = 13
    palette = []
    if flags & 0x80:
        n = 2 << (flags & 7)
        palette = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(n)]
        pos += 3 * n
    while data[pos] == 0x21:  # skip extensions
        pos += 2
        while data[pos]:
            pos += data[pos] + 1
        pos += 1
    if data[pos] != 0x2C:
        raise SystemExit(f"{path}: no image")
    _, _, w, h, iflags = struct.unpack_from("<HHHHB", data, pos + 1)
    if (w, h) != (width, height) or iflags & 0xC0:
        raise SystemExit(f"{path}: expected one full, non-interlaced image without a local table")
    pos += 10
    min_code_size = data[pos]
    pos += 1
    packed = bytearray()
    while data[pos]:
        packed += data[pos + 1:pos + 1 + data[pos]]
        pos += data[pos] + 1
    indices = lzw_decode(packed, min_code_size, width * height)
    return width, [palette[i] for i in indices]


class SkinView:
    """The skin's pixels under a decoration placed at (left, top)."""

    def __init__(self, path, left, top):
        self.width, self.pixels = read_skin(path)
        self.left, self.top = left, top

    def at(self, x, y):
        return self.pixels[(self.top + y) * self.width + self.left + x]


# --- Drawing ---

def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def arc_pixels(width, height, cx, cy, radius, half_width, max_angle):
    """Pixels of the two arcs (left and right) of a circle around (cx, cy), within max_angle
    degrees of the horizontal, drawn hard-edged: GIF2 has a single opaque colour."""
    limit = math.radians(max_angle)
    lit = set()
    for y in range(height):
        for x in range(width):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            if abs(math.hypot(dx, dy) - radius) > half_width:
                continue
            if abs(math.atan2(dy, abs(dx))) <= limit:
                lit.add((x, y))
    return lit


def segment_pixels(ax, ay, bx, by, half_width, width, height):
    lit = set()
    for y in range(height):
        for x in range(width):
            px, py = x + 0.5, y + 0.5
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
            if math.hypot(px - ax - t * dx, py - ay - t * dy) <= half_width:
                lit.add((x, y))
    return lit


def draw_mast():
    """ucAniGIF2: two index images (0 = gold, 1 = transparent)."""
    w, h = UCANIGIF2[2], UCANIGIF2[3]
    tip = (18.0, 10.5)
    mast = set()
    # Lattice tower: two legs, rungs and cross braces.
    left_leg = ((tip[0], tip[1] + 2), (12.5, 29.5))
    right_leg = ((tip[0], tip[1] + 2), (23.5, 29.5))
    for (ax, ay), (bx, by) in (left_leg, right_leg):
        mast |= segment_pixels(ax, ay, bx, by, 0.6, w, h)

    def leg_x(y, leg):
        (ax, ay), (bx, by) = leg
        return ax + (bx - ax) * (y - ay) / (by - ay)

    rungs = [17.5, 22.5, 28.0]
    for y in rungs:
        mast |= segment_pixels(leg_x(y, left_leg), y, leg_x(y, right_leg), y, 0.5, w, h)
    for y0, y1 in zip([13.5] + rungs[:-1], rungs):
        mast |= segment_pixels(leg_x(y0, left_leg), y0, leg_x(y1, right_leg), y1, 0.45, w, h)
        mast |= segment_pixels(leg_x(y0, right_leg), y0, leg_x(y1, left_leg), y1, 0.45, w, h)
    # The beacon at the top.
    for y in range(h):
        for x in range(w):
            if math.hypot(x + 0.5 - tip[0], y + 0.5 - tip[1]) <= 2.0:
                mast.add((x, y))
    inner = arc_pixels(w, h, tip[0], tip[1], 5.5, 0.65, 50)
    outer = arc_pixels(w, h, tip[0], tip[1], 10.0, 0.65, 45) | \
        arc_pixels(w, h, tip[0], tip[1], 14.5, 0.65, 40)

    def image(lit):
        return bytes(0 if (x, y) in lit else 1 for y in range(h) for x in range(w))

    # Frame 1: the mast sending its first wave; frame 2 adds the outer waves over it.
    return image(mast | inner), image(outer)


def trace_coverage(w, h, curve, half_width):
    """Coverage (0..1) of a smooth line y = curve(x) of the given half width, per pixel, by
    distance to the nearest of a dense set of points along the curve."""
    points = []
    steps = w * 8
    for i in range(steps + 1):
        x = i * w / steps
        points.append((x, curve(x)))
    cover = [[0.0] * w for _ in range(h)]
    for (x, y) in points:
        for py in range(max(0, int(y - 3)), min(h, int(y + 4))):
            for px in range(max(0, int(x - 3)), min(w, int(x + 4))):
                d = math.hypot(px + 0.5 - x, py + 0.5 - y)
                c = max(0.0, min(1.0, half_width + 0.5 - d))
                if c > cover[py][px]:
                    cover[py][px] = c
    return cover


def signal(phase, w, mid, amplitude):
    """An audio-like trace: two partials under an envelope that fades out at both ends."""
    def curve(x):
        t = x / w
        envelope = math.sin(math.pi * t) ** 1.5
        wave = 0.65 * math.sin(2 * math.pi * (3.0 * t + phase)) + \
            0.35 * math.sin(2 * math.pi * (7.0 * t - 1.7 * phase) + 0.6)
        return mid + amplitude * envelope * wave
    return curve


def draw_ticker(skin):
    """ucAniGIF1: two RGB images with None for transparent pixels."""
    w, h = UCANIGIF1[2], UCANIGIF1[3]
    frames = []
    shapes = []
    for phase in (0.0, 0.5):
        line = trace_coverage(w, h, signal(phase, w, 9.0, 7.0), 0.55)
        glow = trace_coverage(w, h, signal(phase, w, 9.0, 7.0), 1.8)
        shapes.append((line, glow))
    for index, (line, glow) in enumerate(shapes):
        pixels = {}
        for y in range(h):
            for x in range(w):
                t = x / (w - 1)
                colour = mix(GREEN, AMBER, t * 1.4 - 0.2) if t < 0.75 else mix(AMBER, GOLD, (t - 0.75) * 4)
                # The trace fades in and out over its first and last 14 pixels.
                fade = min(1.0, (x + 0.5) / 14.0, (w - x - 0.5) / 14.0)
                g = glow[y][x] * 0.35 * fade
                c = line[y][x] * fade
                if g <= 0.02 and c <= 0.02:
                    continue
                base = skin.at(x, y)
                value = mix(base, mix(colour, CYAN, 0.3), g)
                value = mix(value, colour, c)
                pixels[(x, y)] = tuple(int(round(v)) for v in value)
        # The LED ticker along the bottom: every other lamp lit, the lit set swapping each frame.
        for lamp in range(34):
            x0, y0 = 2 + lamp * 4, 20
            lit = (lamp + index) % 2 == 0
            for dy in range(2):
                for dx in range(2):
                    base = skin.at(x0 + dx, y0 + dy)
                    tone = mix(GREEN, AMBER, lamp / 33.0)
                    pixels[(x0 + dx, y0 + dy)] = tuple(
                        int(round(v)) for v in mix(base, tone, 0.95 if lit else 0.28))
        frames.append(pixels)
    first, second = frames
    # Frame 2 is drawn over frame 1 (disposal 1): every pixel frame 1 painted that frame 2 does
    # not paint must go back to the skin.
    for key in first:
        if key not in second:
            second[key] = skin.at(*key)
    return [[[f.get((x, y)) for x in range(w)] for y in range(h)] for f in (first, second)]


# --- Palette ---

def median_cut_lookup(colours, fixed, limit):
    """The palette for `colours` (a {colour: count} map) and a lookup from colour to the index of
    its nearest palette colour."""
    palette = median_cut(colours, fixed, limit)
    lookup = {}
    for colour in colours:
        lookup[colour] = min(range(len(palette)),
                             key=lambda j: sum((colour[i] - palette[j][i]) ** 2 for i in range(3)))
    return palette, lookup


def write_mast(path):
    w, h = UCANIGIF2[2], UCANIGIF2[3]
    first, second = draw_mast()
    # Entry 1 is the transparent one; its colour is the skin's header blue, for viewers that
    # ignore transparency.
    palette = [GOLD, (44, 86, 140)]
    return write_gif(path, w, h, palette, [first, second], background=1, animation=(50, 1))


def write_ticker(path, skin):
    w, h = UCANIGIF1[2], UCANIGIF1[3]
    images = draw_ticker(skin)
    counts = {}
    for image in images:
        for row in image:
            for colour in row:
                if colour is not None:
                    counts[colour] = counts.get(colour, 0) + 1
    # The skin colours frame 2 erases with stay exact, so erased pixels match the skin.
    skin_colours = sorted({c for row in images[1] for c in row if c is not None and
                           c in {skin.at(x, y) for y in range(h) for x in range(w)}},
                          key=lambda c: -counts[c])
    palette, lookup = median_cut_lookup(counts, skin_colours, 255)
    palette += [(0, 0, 0)] * (255 - len(palette))
    palette.append((44, 86, 140))  # entry 255: transparent
    frames = [bytes(255 if c is None else lookup[c] for row in image for c in row) for image in images]
    return write_gif(path, w, h, palette, frames, background=255, animation=(20, 255))


# --- The stored property bags ---

# Extents in hundredths of a millimetre: the decorations' pixel sizes at 96 dots per inch.
EXTENTS = {"ucAniGIF1": (3704, 635), "ucAniGIF2": (953, 794)}

BAG_INT32 = 3
BAG_BYTE_ARRAY = 6


def write_bag(path, extent, gif_bytes):
    entries = [
        ("_extentx", BAG_INT32, struct.pack("<i", extent[0])),
        ("_extenty", BAG_INT32, struct.pack("<i", extent[1])),
        ("gif", BAG_BYTE_ARRAY, struct.pack("<iI", 1, len(gif_bytes)) + gif_bytes),
    ]
    data = bytearray(b"VPB1") + struct.pack("<I", len(entries))
    for key, tag, payload in entries:
        data += struct.pack("<H", len(key)) + key.encode("ascii") + bytes([tag]) + payload
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "app", "form")
    os.makedirs(out, exist_ok=True)
    size = write_mast(os.path.join(out, "ucAniGIF2.gif"))
    print(f"ucAniGIF2.gif: 36 x 30, {size} bytes")
    skin = SkinView(SKIN, UCANIGIF1[0], UCANIGIF1[1])
    size = write_ticker(os.path.join(out, "ucAniGIF1.gif"), skin)
    print(f"ucAniGIF1.gif: 140 x 24, {size} bytes")
    for name, extent in EXTENTS.items():
        with open(os.path.join(out, name + ".gif"), "rb") as f:
            gif_bytes = f.read()
        size = write_bag(os.path.join(out, name + ".bag"), extent, gif_bytes)
        print(f"{name}.bag: {size} bytes")


if __name__ == "__main__":
    main()
