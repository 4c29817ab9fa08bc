#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into tests/fuzz/corpus/<target>/.

The seeds are valid and near-valid inputs that start each target deep in its code: pictures
that pass every check under settings that reach each fitting mode and the refinement, and
headers, palette files and configuration texts one step away from valid. Run it again after
changing the input layout of a target (tests/fuzz/harness.hpp describes it).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
FLAG = [0, 1]
# Every settings field in record order: its allowed values, ascending, and its initial value. A
# seed names the value it wants; the byte written is its position in the list.
FIELDS = [("vertical_error_ratio", range(9), 8), ("palette", [1, 2], 1), ("edge_calc", FLAG, 1),
          ("color_no0", FLAG, 0), ("dither_order", FLAG, 1),
          ("horizontal_position_correction", range(8), 0), ("brightness", FLAG, 1),
          ("lumi_sort", FLAG, 1), ("edge_emph", FLAG, 0), ("optimization", FLAG, 1),
          ("hue", range(-4, 7), 0), ("mitigation", [1, 3], 3), ("gamma", range(-10, 9), 0),
          ("index_r", FLAG, 0), ("index_g", FLAG, 0), ("index_b", FLAG, 0), ("index_0", FLAG, 1),
          ("color_d", range(-4, 15), 0), ("sp", FLAG, 1), ("block_noise", FLAG, 1),
          ("mix", FLAG, 1), ("col_reduction", FLAG, 1), ("dark_color", FLAG, 0)]
MSX2 = [0, 0, 0, 0, 0, 0, 1, 6, 1, 3, 7, 3, 1, 1, 7, 2, 3, 7, 5, 1, 1, 2, 6, 7,
        7, 1, 1, 7, 3, 3, 6, 6, 1, 6, 6, 3, 1, 4, 1, 6, 2, 5, 5, 5, 5, 7, 7, 7]
MSX1 = [0, 0, 0, 0, 0, 0, 3, 5, 3, 4, 6, 4, 3, 2, 7, 4, 3, 7, 5, 3, 2, 3, 5, 6,
        6, 3, 2, 6, 4, 3, 5, 6, 3, 6, 6, 4, 2, 4, 1, 5, 3, 5, 5, 5, 5, 7, 7, 7]


def settings(**changes):
    return bytes(list(values).index(changes.get(name, initial)) for name, values, initial in FIELDS)


def palette_bytes(table):
    return b"".join(bytes([r << 4 | b, g]) for r, g, b in zip(*[iter(table)] * 3))


def bmp(width, height, pixel, bits=24, compression=0, offset=54, rows=None):
    """A bottom-up BMP; pixel(x, y) gives (r, g, b) with y = 0 at the top."""
    pad = bytes(((3 * abs(width) + 3) & ~3) - 3 * abs(width))
    data = b"".join(b"".join(bytes(pixel(x, y)[::-1]) for x in range(abs(width))) + pad
                    for y in range((abs(height) if rows is None else rows) - 1, -1, -1))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, offset)
    header += struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data),
                          2835, 2835, 0, 0)
    return header + bytes(offset - 54) + data


def scene(seed):
    """Gradients with sharp stripes and a noisy patch: flat areas, edges and detail."""
    state = [seed]

    def rnd():
        state[0] = (state[0] * 1103515245 + 12345) & 0x7FFFFFFF
        return state[0] >> 16 & 0xFF

    def pixel(x, y):  # called once per pixel, bottom row first
        if 4 <= x < 12 and 6 <= y < 12:
            return rnd(), rnd(), rnd()
        if x % 8 == 7:
            return 250, 250, 240
        return (x * 37 + seed) & 0xFF, (y * 23) & 0xFF, ((x + y) * 11) & 0xFF

    return pixel


def convert_seeds():
    full, short, folder, custom = 1, 2, 3, 4
    plain = settings() + bytes([0])
    picture = bmp(16, 16, scene(1))
    return {
        # Initial settings: column mode and refinement A.
        "initial_16x16": plain + picture,
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
                                     color_d=14) + bytes([0]) + bmp(16, 16, scene(4)),
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
        "bits_32": plain + bmp(16, 16, scene(1), bits=32),
        "rle": plain + bmp(16, 16, scene(1), compression=1),
        "one_byte_short": plain + picture[:-1],
        "width_260": plain + bmp(260, 16, scene(1), rows=1),
        "height_8": plain + bmp(16, 8, scene(1)),
        "top_down": plain + bmp(16, -16, scene(1)),
        "header_only": plain + picture[:54],
        "header_cut": plain + picture[:40],
        "empty_source": plain,
        "pixel_offset_far": plain + bmp(16, 16, scene(1), offset=300),
    }


def s05_seeds():
    def screen5(palette, length=7 + 0x76A0):
        data = bytearray(length)
        data[0:7] = bytes([0xFE, 0, 0, 0x9F, 0x76, 0, 0])
        end = min(length, 30343 + len(palette))
        data[30343:end] = palette[:end - 30343]
        return bytes(data)

    return {"msx2_palette": screen5(palette_bytes(MSX2)),
            "wide_nibbles": screen5(bytes(range(0x70, 0x90))),
            "palette_cut": screen5(palette_bytes(MSX1), length=30343 + 9),
            "short_100": screen5(b"", length=100), "empty": b""}


def config_seeds():
    def table(key, values, sep=","):
        return key + "\n" + "".join(sep.join(map(str, values[k:k + 3])) + "  "
                                    for k in range(0, len(values), 3)) + "\n"

    seeds = {
        "complete": table("* MSX1 palette", MSX1) + table("* MSX2 palette", MSX2),
        "msx2_first": table("* MSX2 palette", MSX2) + table("* MSX1 palette", MSX1),
        "only_msx1": table("* MSX1 palette", MSX1),
        "msx1_47": table("* MSX1 palette", MSX1[:47]) + table("* MSX2 palette", MSX2),
        "separators": table("* MSX1 palette", MSX1, ";") + "* MSX2 palette R3 G-5 B+3 "
        + " ".join("x%d" % v for v in MSX2),
        "star_after_number": "* MSX1 palette 7*" + " 1" * 47 + "\n" + table("* MSX2 palette", MSX2),
        "lower_case_key": table("* msx1 palette", MSX1),
        "huge_numbers": table("* MSX1 palette", [99999999999] * 48)
        + table("* MSX2 palette", [4294967296] * 48)}
    seeds = {name: bytes([48]) + text.encode() for name, text in seeds.items()}
    seeds["key_at_end"] = bytes([5]) + b"text * MSX1 palette"
    seeds["few_numbers"] = bytes([3]) + b"* MSX1 palette 1 2 3 * MSX2 palette 4 5"
    return seeds


for target, seeds in ("convert", convert_seeds()), ("s05", s05_seeds()), ("config", config_seeds()):
    os.makedirs(os.path.join(HERE, "corpus", target), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, "corpus", target, name), "wb") as f:
            f.write(data)
