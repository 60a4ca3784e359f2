#!/usr/bin/env python3
"""Draws the board's fixed pictures and writes them beside this script.

    python3 web/make-images.py

Everything is drawn here from small pixel maps and a 5x7 bitmap font, and written by the
GIF (LZW) and baseline JPEG writers below; the script needs nothing beyond Python 3. The
pictures are committed, so it only has to run again when a picture changes.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# ---- GIF ---------------------------------------------------------------------------------------

def _lzw(indices, min_code_size):
    """LZW codes of a GIF image, packed LSB first."""
    clear = 1 << min_code_size
    eoi = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    size = min_code_size + 1
    table = {}
    next_code = eoi + 1
    emit(clear, size)
    prefix = None
    for k in indices:
        if prefix is None:
            prefix = k
            continue
        key = (prefix, k)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, size)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            # The decoder adds this entry one code later, so it widens its codes when the
            # table has passed the current width.
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table = {}
            next_code = eoi + 1
            size = min_code_size + 1
        prefix = k
    if prefix is not None:
        emit(prefix, size)
    emit(eoi, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_gif(name, width, height, indices, palette, transparent=None):
    """One-frame GIF89a; palette is a list of (r, g, b), transparent a palette index."""
    bits = 1
    while (1 << bits) < len(palette):
        bits += 1
    colors = list(palette) + [(0, 0, 0)] * ((1 << bits) - len(palette))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0x80 | (7 << 4) | (bits - 1), 0, 0)
    for r, g, b in colors:
        data += bytes((r, g, b))
    if transparent is not None:
        data += bytes((0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0))
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = max(2, bits)
    data.append(min_code_size)
    packed = _lzw(indices, min_code_size)
    for i in range(0, len(packed), 255):
        block = packed[i:i + 255]
        data.append(len(block))
        data += block
    data += b"\x00\x3b"
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def pixel_map_gif(name, rows, colors):
    """A GIF from rows of characters; colors maps each character to (r, g, b) or None
    (transparent)."""
    width = len(rows[0])
    assert all(len(r) == width for r in rows), name
    keys = sorted(colors, key=lambda c: (colors[c] is not None, c))
    palette = [(255, 255, 255) if colors[c] is None else colors[c] for c in keys]
    index = {c: i for i, c in enumerate(keys)}
    transparent = next((index[c] for c in keys if colors[c] is None), None)
    pixels = [index[c] for row in rows for c in row]
    write_gif(name, width, len(rows), pixels, palette, transparent)


# ---- JPEG (baseline, 4:4:4, Huffman tables built for the picture) -------------------------------

LUMA_Q = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
          14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
          18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
          49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_Q = [17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
            24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32


def _zigzag():
    order = []
    for s in range(15):
        cells = [(y, s - y) for y in range(8) if 0 <= s - y < 8]
        order += cells if s % 2 else cells[::-1]
    return [y * 8 + x for y, x in order]


ZIGZAG = _zigzag()
COS = [[math.cos((2 * x + 1) * u * math.pi / 16) * (math.sqrt(0.5) if u == 0 else 1.0) / 2
        for x in range(8)] for u in range(8)]


def _fdct(block):
    rows = [[sum(COS[u][x] * block[y * 8 + x] for x in range(8)) for u in range(8)]
            for y in range(8)]
    return [sum(COS[v][y] * rows[y][u] for y in range(8)) for v in range(8) for u in range(8)]


def _category(value):
    value = abs(value)
    n = 0
    while value:
        n += 1
        value >>= 1
    return n


def _huffman_table(freq):
    """Code lengths limited to 16 bits (one code point reserved so that no code is all ones).
    Returns (counts of lengths 1..16, symbols in code order)."""
    freq = dict(freq)
    freq[256] = 1
    size = {s: 0 for s in freq}
    others = {s: None for s in freq}
    while True:
        live = sorted((f, -s) for s, f in freq.items() if f > 0)
        if len(live) < 2:
            break
        c1 = -live[0][1]
        c2 = -live[1][1]
        freq[c1] += freq[c2]
        freq[c2] = 0
        for start in (c1, c2):
            s = start
            size[s] += 1
            while others[s] is not None:
                s = others[s]
                size[s] += 1
        s = c1
        while others[s] is not None:
            s = others[s]
        others[s] = c2
    bits = [0] * 33
    for s, n in size.items():
        bits[n] += 1
    for i in range(32, 16, -1):
        while bits[i] > 0:
            j = i - 2
            while bits[j] == 0:
                j -= 1
            bits[i] -= 2
            bits[i - 1] += 1
            bits[j + 1] += 2
            bits[j] -= 1
    i = 16
    while bits[i] == 0:
        i -= 1
    bits[i] -= 1
    symbols = sorted((n, s) for s, n in size.items() if s != 256)
    return bits[1:17], [s for _, s in symbols]


def _codes(counts, symbols):
    codes = {}
    code = 0
    k = 0
    for length in range(1, 17):
        for _ in range(counts[length - 1]):
            codes[symbols[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def write_jpeg(name, width, height, rgb, quality=90):
    scale = 5000 / quality if quality < 50 else 200 - 2 * quality
    tables = [[max(1, min(255, int((q * scale + 50) / 100))) for q in base]
              for base in (LUMA_Q, CHROMA_Q)]
    planes = [[], [], []]
    for r, g, b in rgb:
        planes[0].append(0.299 * r + 0.587 * g + 0.114 * b)
        planes[1].append(-0.168736 * r - 0.331264 * g + 0.5 * b + 128)
        planes[2].append(0.5 * r - 0.418688 * g - 0.081312 * b + 128)

    # Quantised blocks in scan order: per 8x8 block, Y, Cb, Cr.
    blocks = []
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            for comp in range(3):
                plane = planes[comp]
                block = [plane[min(by + y, height - 1) * width + min(bx + x, width - 1)] - 128
                         for y in range(8) for x in range(8)]
                coef = _fdct(block)
                q = tables[0 if comp == 0 else 1]
                blocks.append((comp, [int(round(coef[ZIGZAG[i]] / q[ZIGZAG[i]]))
                                      for i in range(64)]))

    def symbols():
        last = [0, 0, 0]
        for comp, zz in blocks:
            diff = zz[0] - last[comp]
            last[comp] = zz[0]
            yield comp, "dc", _category(diff), diff
            run = 0
            for i in range(1, 64):
                v = zz[i]
                if v == 0:
                    run += 1
                    continue
                while run > 15:
                    yield comp, "ac", 0xF0, None
                    run -= 16
                yield comp, "ac", (run << 4) | _category(v), v
                run = 0
            if run:
                yield comp, "ac", 0x00, None

    freqs = {(t, k): {} for t in (0, 1) for k in ("dc", "ac")}
    for comp, kind, sym, _ in symbols():
        f = freqs[(0 if comp == 0 else 1, kind)]
        f[sym] = f.get(sym, 0) + 1
    huffman = {key: _huffman_table(f) for key, f in freqs.items()}
    codes = {key: _codes(*table) for key, table in huffman.items()}

    out = bytearray()
    acc = 0
    nbits = 0

    def put(code, length):
        nonlocal acc, nbits
        acc = (acc << length) | code
        nbits += length
        while nbits >= 8:
            byte = (acc >> (nbits - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)
            nbits -= 8
        acc &= (1 << nbits) - 1

    for comp, kind, sym, value in symbols():
        code, length = codes[(0 if comp == 0 else 1, kind)][sym]
        put(code, length)
        size = sym & 0x0F if kind == "ac" else sym
        if size:
            put(value if value >= 0 else value + (1 << size) - 1, size)
    if nbits:
        put((1 << (8 - nbits)) - 1, 8 - nbits)

    def segment(marker, payload):
        return struct.pack(">HH", marker, len(payload) + 2) + payload

    data = bytearray(b"\xff\xd8")
    data += segment(0xFFE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    for t, q in enumerate(tables):
        data += segment(0xFFDB, bytes([t]) + bytes(q[ZIGZAG[i]] for i in range(64)))
    data += segment(0xFFC0, struct.pack(">BHHB", 8, height, width, 3)
                    + bytes((1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1)))
    for (t, kind), (counts, syms) in sorted(huffman.items()):
        cls = 0 if kind == "dc" else 1
        data += segment(0xFFC4, bytes([(cls << 4) | t]) + bytes(counts) + bytes(syms))
    data += segment(0xFFDA, bytes((3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0)))
    data += out
    data += b"\xff\xd9"
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---- Drawing -----------------------------------------------------------------------------------

FONT = {
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "b": ["#....", "#....", "####.", "#...#", "#...#", "#...#", "####."],
    "i": ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."],
    "x": [".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "N": ["#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    " ": ["....."] * 7,
}


def text_mask(text, scale, width, height, top):
    """Coverage (0..1) per pixel of text drawn centred at row top, glyph cells scale wide."""
    mask = [0.0] * (width * height)
    advance = 6 * scale
    left = (width - (advance * len(text) - scale)) // 2
    for n, ch in enumerate(text):
        for gy, row in enumerate(FONT[ch]):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                x0 = left + n * advance + gx * scale
                y0 = top + gy * scale
                for y in range(max(0, y0), min(height, y0 + scale)):
                    for x in range(max(0, x0), min(width, x0 + scale)):
                        mask[y * width + x] = 1.0
    return mask


def downsample(pixels, width, height, factor):
    w, h = width // factor, height // factor
    out = []
    for y in range(h):
        for x in range(w):
            acc = [0.0, 0.0, 0.0]
            for dy in range(factor):
                for dx in range(factor):
                    p = pixels[(y * factor + dy) * width + x * factor + dx]
                    acc[0] += p[0]
                    acc[1] += p[1]
                    acc[2] += p[2]
            n = factor * factor
            out.append(tuple(int(round(c / n)) for c in acc))
    return out


def blend(base, color, alpha):
    return tuple(b + (c - b) * alpha for b, c in zip(base, color))


def title_picture():
    """The login page picture: the board's name on a blue band (400 x 120)."""
    ss = 3
    width, height = 400 * ss, 120 * ss
    top, bottom = (24, 52, 110), (52, 98, 168)
    pixels = []
    for y in range(height):
        t = y / (height - 1)
        row = blend(top, bottom, t)
        pixels += [row] * width
    # A thin light rule above and below the name.
    for y in (14 * ss, 106 * ss):
        for x in range(40 * ss, 360 * ss):
            for k in range(ss):
                pixels[(y + k) * width + x] = (150, 180, 225)
    name_top = 22 * ss
    shadow = text_mask("Vorbix", 9 * ss, width, height, name_top + 3 * ss)
    shadow = [0.0] * (3 * ss) + shadow[:-3 * ss]
    name = text_mask("Vorbix", 9 * ss, width, height, name_top)
    sub = text_mask("BULLETIN BOARD", 2 * ss, width, height, 90 * ss)
    for i in range(width * height):
        p = pixels[i]
        if shadow[i]:
            p = blend(p, (10, 20, 50), 0.6)
        if name[i]:
            p = (255, 255, 255)
        if sub[i]:
            p = (200, 220, 250)
        pixels[i] = p
    write_jpeg("title.jpg", 400, 120, downsample(pixels, width, height, ss), quality=90)


def background_tile():
    """A quiet paper-coloured tile with a faint dot grid (32 x 32)."""
    rows = []
    for y in range(32):
        row = ""
        for x in range(32):
            row += "d" if (x % 8 == 4 and y % 8 == 4) else "p"
        rows.append(row)
    pixel_map_gif("back.gif", rows, {"p": (252, 251, 244), "d": (232, 230, 214)})


ICON_COLORS = {
    ".": None,
    "K": (70, 60, 40),
    "Y": (250, 214, 92),
    "y": (222, 178, 52),
    "W": (255, 255, 255),
    "B": (62, 110, 190),
    "b": (34, 70, 140),
    "G": (96, 180, 96),
    "g": (50, 120, 60),
    "P": (236, 236, 228),
}

FOLDER_CLOSE = [
    "................",
    "................",
    "..KKKKK.........",
    ".KWWWWWK........",
    "KYYYYYYYKKKKKKK.",
    "KYWWWWWWWWWWWWYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KyyyyyyyyyyyyyyK",
    "KyyyyyyyyyyyyyyK",
    ".KKKKKKKKKKKKKK.",
    "................",
    "................",
]

FOLDER_BOOK = [
    "................",
    "...KKKKKKKKKKK..",
    "..KbBBBBBBBBBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbBBWWWWWWBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbBBWWWWBBBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbBBBBBBBBBBK.",
    "..KbKKKKKKKKKKK.",
    "..KbPWPWPWPWPWK.",
    "..KbWPWPWPWPWPK.",
    "...KKKKKKKKKKKK.",
    "................",
]

FOLDER_CHAT = [
    "................",
    "................",
    "...KKKKKKKKKK...",
    "..KGGGGGGGGGGK..",
    ".KGGGGGGGGGGGGK.",
    ".KGGWWGGWWGGWWK.",
    ".KGGWWGGWWGGWWK.",
    ".KGGGGGGGGGGGGK.",
    "..KgggggggggKK..",
    "...KKKKgggKK....",
    "......KggK......",
    "......KgK.......",
    "......KK........",
    "................",
    "................",
    "................",
]

SMALL_GLYPHS = {
    "N": ["#..#", "##.#", "#.##", "#..#", "#..#"],
    "E": ["###", "#..", "##.", "#..", "###"],
    "W": ["#...#", "#...#", "#.#.#", "#.#.#", ".#.#."],
}


def new_label():
    """The unread mark: white "NEW" on a red label with cut corners (22 x 11)."""
    width, height = 22, 11
    rows = [["R"] * width for _ in range(height)]
    for y in (0, height - 1):
        rows[y] = ["."] * width
    for y in (1, height - 2):
        rows[y][0] = rows[y][width - 1] = "."
    glyphs = [SMALL_GLYPHS[c] for c in "NEW"]
    x = (width - (sum(len(g[0]) for g in glyphs) + len(glyphs) - 1)) // 2
    for g in glyphs:
        for gy, line in enumerate(g):
            for gx, cell in enumerate(line):
                if cell == "#":
                    rows[3 + gy][x + gx] = "W"
        x += len(g[0]) + 1
    pixel_map_gif("NEW.GIF", ["".join(r) for r in rows],
                  {".": None, "R": (214, 36, 36), "W": (255, 255, 255)})


BUTTON_SIGNS = {
    # folder settings: a sheet with lines and a pencil
    "bot0001.gif": [
        "KKKKKKKK....",
        "KWWWWWWK....",
        "KWKKKKWK..K.",
        "KWWWWWWK.KYK",
        "KWKKKKWKKYK.",
        "KWWWWWWKYK..",
        "KWKKKWWKK...",
        "KWWWWWWK....",
        "KWKKKKWK....",
        "KWWWWWWK....",
        "KKKKKKKK....",
        "............",
    ],
    # access lists: a key
    "bot0002.gif": [
        "............",
        "............",
        ".KKKK.......",
        "KYYYYK......",
        "KY..YKKKKKKK",
        "KY..YYYYYYYK",
        "KYYYYKKKYKYK",
        ".KKKK...K.K.",
        "............",
        "............",
        "............",
        "............",
    ],
    # move: up and down arrows
    "bot0003.gif": [
        "...K....K...",
        "..KBK..KBK..",
        ".KBBBK.KBK..",
        "KKBBBKKKBK..",
        "..KBK..KBK..",
        "..KBK..KBK..",
        "..KBK..KBK..",
        "..KBK..KBK..",
        "..KBKKKBBBKK",
        "..KBK.KBBBK.",
        "..KBK..KBK..",
        "..KBK...K...",
    ],
}


def button(name, sign):
    """A 20 x 20 raised grey button with a 12 x 12 sign in the middle."""
    rows = []
    for y in range(20):
        line = ""
        for x in range(20):
            if y == 0 or x == 0:
                c = "H"
            elif y == 19 or x == 19:
                c = "S"
            elif y == 18 or x == 18:
                c = "s"
            else:
                c = "F"
                sy, sx = y - 4, x - 4
                if 0 <= sy < 12 and 0 <= sx < 12 and sign[sy][sx] != ".":
                    c = sign[sy][sx]
            line += c
        rows.append(line)
    colors = {"H": (255, 255, 255), "S": (64, 64, 64), "s": (150, 150, 150),
              "F": (212, 210, 204), "K": (40, 40, 40), "W": (255, 255, 255),
              "Y": (240, 190, 40), "B": (62, 110, 190)}
    pixel_map_gif(name, rows, colors)


def main():
    title_picture()
    background_tile()
    pixel_map_gif("folderclose.gif", FOLDER_CLOSE, ICON_COLORS)
    pixel_map_gif("folderbook.gif", FOLDER_BOOK, ICON_COLORS)
    pixel_map_gif("folderchat.gif", FOLDER_CHAT, ICON_COLORS)
    new_label()
    for name, sign in BUTTON_SIGNS.items():
        button(name, sign)


if __name__ == "__main__":
    main()
