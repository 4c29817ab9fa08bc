#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into tests/fuzz/corpus/<target>/.

The seeds are valid and near-valid inputs that start each target deep in its code: pictures
that pass every check under settings that reach each fitting mode and the refinement, and
headers, palette files and configuration texts one step away from valid. Run it again after
changing the input layout of a target (tests/fuzz/harness.hpp describes it).
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Allowed values of every settings field, in record order, each list ascending; a seed names the
# value it wants and the byte written is its position in the list.
FIELDS = [
    ("vertical_error_ratio", list(range(9))),
    ("palette", [1, 2]),
    ("edge_calc", [0, 1]),
    ("color_no0", [0, 1]),
    ("dither_order", [0, 1]),
    ("horizontal_position_correction", list(range(8))),
    ("brightness", [0, 1]),
    ("lumi_sort", [0, 1]),
    ("edge_emph", [0, 1]),
    ("optimization", [0, 1]),
    ("hue", [-4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6]),
    ("mitigation", [1, 3]),
    ("gamma", list(range(-10, 9))),
    ("index_r", [0, 1]),
    ("index_g", [0, 1]),
    ("index_b", [0, 1]),
    ("index_0", [0, 1]),
    ("color_d", list(range(-4, 15))),
    ("sp", [0, 1]),
    ("block_noise", [0, 1]),
    ("mix", [0, 1]),
    ("col_reduction", [0, 1]),
    ("dark_color", [0, 1]),
]
INITIAL = dict(vertical_error_ratio=8, palette=1, edge_calc=1, color_no0=0, dither_order=1,
               horizontal_position_correction=0, brightness=1, lumi_sort=1, edge_emph=0,
               optimization=1, hue=0, mitigation=3, gamma=0, index_r=0, index_g=0, index_b=0,
               index_0=1, color_d=0, sp=1, block_noise=1, mix=1, col_reduction=1, dark_color=0)

MSX2 = [0, 0, 0, 0, 0, 0, 1, 6, 1, 3, 7, 3, 1, 1, 7, 2, 3, 7, 5, 1, 1, 2, 6, 7,
        7, 1, 1, 7, 3, 3, 6, 6, 1, 6, 6, 3, 1, 4, 1, 6, 2, 5, 5, 5, 5, 7, 7, 7]
MSX1 = [0, 0, 0, 0, 0, 0, 3, 5, 3, 4, 6, 4, 3, 2, 7, 4, 3, 7, 5, 3, 2, 3, 5, 6,
        6, 3, 2, 6, 4, 3, 5, 6, 3, 6, 6, 4, 2, 4, 1, 5, 3, 5, 5, 5, 5, 7, 7, 7]


def settings(**changes):
    values = dict(INITIAL, **changes)
    return bytes(allowed.index(values[name]) for name, allowed in FIELDS)


def palette_bytes(table):
    out = bytearray()
    for k in range(16):
        r, g, b = table[3 * k:3 * k + 3]
        out += bytes([r << 4 | b, g])
    return bytes(out)


def bmp(width, height, pixel, bits=24, compression=0, offset=54, rows=None):
    """A bottom-up BMP; pixel(x, y) gives (r, g, b) with y = 0 at the top."""
    row = (3 * abs(width) + 3) & ~3
    rows = abs(height) if rows is None else rows
    data = bytearray()
    for y in range(rows - 1, -1, -1):
        line = bytearray()
        for x in range(abs(width)):
            r, g, b = pixel(x, y)
            line += bytes([b, g, r])
        data += line + bytes(row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, offset)
    header += struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data),
                          2835, 2835, 0, 0)
    return header + bytes(offset - 54) + bytes(data)


def noise(seed):
    state = [seed]

    def next_byte():
        state[0] = (state[0] * 1103515245 + 12345) & 0x7FFFFFFF
        return state[0] >> 16 & 0xFF

    return next_byte


def scene(seed):
    """Gradients with sharp stripes and a noisy patch: flat areas, edges and detail."""
    rnd = noise(seed)
    cache = {}

    def pixel(x, y):
        if (x, y) not in cache:
            if 4 <= x < 12 and 6 <= y < 12:
                cache[(x, y)] = (rnd(), rnd(), rnd())
            elif x % 8 == 7:
                cache[(x, y)] = (250, 250, 240)
            else:
                cache[(x, y)] = ((x * 37 + seed) & 0xFF, (y * 23) & 0xFF, ((x + y) * 11) & 0xFF)
        return cache[(x, y)]

    return pixel


def convert_seeds():
    full, short, folder, custom = 1, 2, 3, 4
    picture = bmp(16, 16, scene(1))
    seeds = {
        # Initial settings: column mode and refinement A.
        "initial_16x16": settings() + bytes([0]) + picture,
        # Vertical cell mode, Hue search, companion palette.
        "vertical_cells_hue_companion": settings(mix=0, vertical_error_ratio=4, dither_order=0,
                                                 hue=-2, index_0=0, palette=2)
        + bytes([full]) + palette_bytes(MSX2) + bmp(24, 16, scene(2)),
        # Circular cell mode without Lumi Sort, every adjustment on, height cropped.
        "circular_cells_adjusted": settings(mix=0, vertical_error_ratio=6, lumi_sort=0,
                                            optimization=0, mitigation=1, brightness=0,
                                            edge_emph=1, gamma=5, color_d=-3, index_r=1,
                                            index_g=1, index_b=1, dark_color=1, sp=0,
                                            edge_calc=0)
        + bytes([0]) + bmp(16, 19, scene(3)),
        # Mix with a cell ratio: refinement B; colour 0 allowed, Hue shift without search.
        "mix_refinement_b": settings(vertical_error_ratio=3, color_no0=1, hue=6, gamma=-10,
                                     color_d=14)
        + bytes([0]) + bmp(16, 16, scene(4)),
        # Position correction, a companion too short to hold the palette, a configured table.
        "correction_short_companion": settings(horizontal_position_correction=3, palette=2,
                                               col_reduction=0)
        + bytes([short | custom, 100, 0]) + palette_bytes(MSX2) + bytes(MSX1)
        + bmp(24, 16, scene(5)),
        # Companion of malformed nibbles, whose name is taken by a folder in the next seed.
        "companion_wide_nibbles": settings(hue=-4, index_0=0, vertical_error_ratio=0, mix=0)
        + bytes([full]) + bytes(range(0x8F, 0xAF)) + bmp(16, 16, scene(6)),
        "companion_is_folder": settings() + bytes([folder]) + bmp(16, 24, scene(7)),
        "width_264_correction": settings(horizontal_position_correction=7)
        + bytes([0]) + bmp(264, 16, scene(8)),
        # Near-valid pictures, each refused by one check.
        "bits_32": settings() + bytes([0]) + bmp(16, 16, scene(1), bits=32),
        "rle": settings() + bytes([0]) + bmp(16, 16, scene(1), compression=1),
        "one_byte_short": settings() + bytes([0]) + picture[:-1],
        "width_260": settings() + bytes([0]) + bmp(260, 16, scene(1), rows=1),
        "height_8": settings() + bytes([0]) + bmp(16, 8, scene(1)),
        "top_down": settings() + bytes([0]) + bmp(16, -16, scene(1)),
        "header_only": settings() + bytes([0]) + picture[:54],
        "header_cut": settings() + bytes([0]) + picture[:40],
        "empty_source": settings() + bytes([0]),
        "pixel_offset_far": settings() + bytes([0]) + bmp(16, 16, scene(1), offset=300),
    }
    return seeds


def s05_seeds():
    def screen5(palette, length=7 + 0x76A0):
        data = bytearray(length)
        data[0:7] = bytes([0xFE, 0, 0, 0x9F, 0x76, 0, 0])
        for i, b in enumerate(palette):
            if 30343 + i < length:
                data[30343 + i] = b
        return bytes(data)

    return {
        "msx2_palette": screen5(palette_bytes(MSX2)),
        "wide_nibbles": screen5(bytes(range(0x70, 0x90))),
        "palette_cut": screen5(palette_bytes(MSX1), length=30343 + 9),
        "short_100": screen5(b"", length=100),
        "empty": b"",
    }


def config_seeds():
    def table(key, values, sep=","):
        text = key + "\n"
        for k in range(0, len(values), 3):
            text += sep.join(str(v) for v in values[k:k + 3]) + "  "
        return text + "\n"

    n48 = bytes([48])
    full = table("* MSX1 palette", MSX1) + table("* MSX2 palette", MSX2)
    return {
        "complete": n48 + full.encode(),
        "msx2_first": n48 + (table("* MSX2 palette", MSX2) + table("* MSX1 palette", MSX1)).encode(),
        "only_msx1": n48 + table("* MSX1 palette", MSX1).encode(),
        "msx1_47": n48 + (table("* MSX1 palette", MSX1[:47]) + table("* MSX2 palette", MSX2)).encode(),
        "separators": n48 + (table("* MSX1 palette", MSX1, ";") + "* MSX2 palette R3 G-5 B+3 "
                             + " ".join("x%d" % v for v in MSX2)).encode(),
        "star_after_number": n48 + ("* MSX1 palette 7*" + " 1" * 47 + "\n"
                                    + table("* MSX2 palette", MSX2)).encode(),
        "lower_case_key": n48 + table("* msx1 palette", MSX1).encode(),
        "huge_numbers": n48 + (table("* MSX1 palette", [99999999999] * 48)
                               + table("* MSX2 palette", [4294967296] * 48)).encode(),
        "key_at_end": bytes([5]) + b"text * MSX1 palette",
        "few_numbers": bytes([3]) + b"* MSX1 palette 1 2 3 * MSX2 palette 4 5",
    }


def main():
    for target, seeds in (("convert", convert_seeds()), ("s05", s05_seeds()),
                          ("config", config_seeds())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
