"""GIF89a writing for the asset generators (make-skin.py, make-decorations.py): a palette of at
most 256 colours by median cut, and full-canvas index images over that one global colour table,
optionally animated. Standard library only."""
import struct


def median_cut(counts, fixed, limit):
    """At most `limit` palette colours for the distinct colours of `counts` (a {colour: count}
    map): the colours of `fixed` that occur, exactly and first, then the count-weighted mean of
    each box. The box with the widest channel range times its pixel count is split at the median
    of that channel until the palette is full or no box holds two colours."""
    fixed = [c for c in fixed if c in counts][:limit]
    rest = [(c, n) for c, n in counts.items() if c not in fixed]
    boxes = [rest] if rest else []
    while len(boxes) + len(fixed) < limit:
        splittable = [b for b in boxes if len(b) > 1]
        if not splittable:
            break

        def extent(b, i):
            return max(c[0][i] for c in b) - min(c[0][i] for c in b)

        box = max(splittable, key=lambda b: max(extent(b, i) for i in range(3)) * sum(n for _, n in b))
        boxes.remove(box)
        channel = max(range(3), key=lambda i: extent(box, i))
        box.sort(key=lambda c: c[0][channel])
        total, running, cut = sum(n for _, n in box), 0, 1
        for i, (_, n) in enumerate(box):
            running += n
            if running * 2 >= total:
                cut = min(max(i + 1, 1), len(box) - 1)
                break
        boxes += [box[:cut], box[cut:]]
    palette = list(fixed)
    for b in boxes:
        total = sum(n for _, n in b)
        palette.append(tuple(int(round(sum(c[i] * n for c, n in b) / total)) for i in range(3)))
    return palette


def lzw_encode(indices, min_code_size):
    """GIF's variable-width LZW, codes packed least significant bit first: a clear code first,
    another whenever the 4096-entry table is full, the end code last."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, buffer, filled = bytearray(), 0, 0

    def emit(code, width):
        nonlocal buffer, filled
        buffer |= code << filled
        filled += width
        while filled >= 8:
            out.append(buffer & 0xFF)
            buffer >>= 8
            filled -= 8

    width, table, next_code = min_code_size + 1, {}, end + 1
    emit(clear, width)
    prefix = None
    for index in indices:
        if prefix is None:
            prefix = index
            continue
        if (prefix, index) in table:
            prefix = table[(prefix, index)]
            continue
        emit(prefix, width)
        if next_code < 4096:
            table[(prefix, index)] = next_code
            next_code += 1
            # The decoder adds each entry one code later than we do, so it widens one code later.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            width, table, next_code = min_code_size + 1, {}, end + 1
        prefix = index
    if prefix is not None:
        emit(prefix, width)
        # Reading that code lets the decoder add its last entry, which may widen the end code.
        if next_code >= (1 << width) and width < 12:
            width += 1
    emit(end, width)
    if filled:
        out.append(buffer & 0xFF)
    return bytes(out)


def write_gif(path, width, height, palette, frames, background=0, animation=None):
    """Writes `frames` (index images: bytes, width x height, top row first, each covering the
    canvas) over the global table `palette` (a power of two of (r, g, b) colours) and returns the
    file's size. With `animation` = (delay in hundredths, transparent index), the file loops for
    ever and every frame is left in place (disposal 1) with that delay and transparent index."""
    size_bits = max(1, (len(palette) - 1).bit_length())
    if len(palette) != 1 << size_bits:
        raise ValueError("the palette must hold a power of two of colours")
    data = bytearray(b"GIF89a")
    # Logical screen: global table present, colour resolution 8 bits, table size field.
    data += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (size_bits - 1), background, 0)
    for colour in palette:
        data += bytes(colour)
    if animation:
        # NETSCAPE2.0 application extension: sub-block id 1, loop count 0 = for ever.
        data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    min_code_size = max(2, size_bits)
    for indices in frames:
        if animation:
            delay, transparent = animation
            # Graphic control extension: disposal 1 in bits 2-4, transparency flag in bit 0.
            data += b"\x21\xF9\x04" + struct.pack("<BHB", (1 << 2) | 1, delay, transparent) + b"\x00"
        # Image descriptor: at (0, 0), full size, no local table, not interlaced.
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data.append(min_code_size)
        packed = lzw_encode(indices, min_code_size)
        for i in range(0, len(packed), 255):
            chunk = packed[i:i + 255]
            data.append(len(chunk))
            data += chunk
        data.append(0)
    data.append(0x3B)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)
