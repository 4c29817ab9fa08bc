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


def bmp_any(width, height, pixel, bits=24, compression=0, header=40, top_down=False, masks=None):
    """A BMP of any kind; pixel(x, y) gives (r, g, b, a) with y = 0 at the top. Indexed kinds
    take the picture's colours as their palette."""
    rows = [[pixel(x, y) for x in range(width)] for y in range(height)]
    palette = []
    if bits <= 8:
        for row in rows:
            for c in row:
                if c[:3] not in palette:
                    palette.append(c[:3])
    index = {c: i for i, c in enumerate(palette)}
    fields = compression in (3, 6)
    if masks is None:
        masks = [0x7C00, 0x3E0, 0x1F, 0] if bits == 16 else [0xFF0000, 0xFF00, 0xFF, 0xFF000000]
    order = range(height) if top_down else range(height - 1, -1, -1)
    if compression in (1, 2):
        data = b""
        for y in order:
            x = 0
            while x < width:
                run = 1
                while x + run < width and run < 255 and rows[y][x + run][:3] == rows[y][x][:3]:
                    run += 1
                v = index[rows[y][x][:3]]
                if run >= 2 or width - x < 3:
                    data += bytes([run, v << 4 | v if compression == 2 else v])
                    x += run
                    continue
                n = min(width - x, 5)
                group = [index[rows[y][x + i][:3]] for i in range(n)]
                if compression == 2:
                    group = [group[i] << 4 | (group[i + 1] if i + 1 < n else 0)
                             for i in range(0, n, 2)]
                data += bytes([0, n]) + bytes(group) + bytes(len(group) % 2)
                x += n
            data += b"\0\0"
        data += b"\0\1"
    else:
        stride = (width * bits + 31) // 32 * 4
        data = b""
        for y in order:
            row = bytearray(stride)
            for x, c in enumerate(rows[y]):
                if bits <= 8:
                    bit = x * bits
                    row[bit // 8] |= index[c[:3]] << (8 - bits - bit % 8)
                elif bits == 24:
                    row[3 * x:3 * x + 3] = bytes(c[2::-1])
                else:
                    v = 0
                    for k, m in enumerate(masks):
                        if m:
                            shift = (m & -m).bit_length() - 1
                            top = m >> shift
                            v |= (c[k] * top + 127) // 255 << shift
                    row[x * bits // 8:(x + 1) * bits // 8] = v.to_bytes(bits // 8, "little")
            data += bytes(row)
    mask_bytes = (16 if compression == 6 else 12) if fields and header == 40 else 0
    entry = 3 if header == 12 else 4
    offset = 14 + header + mask_bytes + len(palette) * entry
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, -height if top_down else height, 1,
                           bits, compression, len(data), 2835, 2835, len(palette), 0)
        if header == 16:
            info = info[:16]
        else:
            info += bytes(header - 40)
            if header >= 52:
                info = info[:40] + struct.pack("<4I", *masks)[:min(16, header - 40)] + info[56:]
            info = info[:header]
    extra = struct.pack("<4I", *masks)[:mask_bytes]
    table = b"".join(bytes(c[::-1]) + (b"" if entry == 3 else b"\0") for c in palette)
    return struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) + info + extra + table + data


def bmp_seeds():
    def colours(count):
        def pixel(x, y):
            k = (x // 3 + y * 5) % count
            return (k * 53 & 255, k * 91 & 255, k * 29 & 255, 255 if k % 4 else 0)
        return pixel

    five = colours(32)
    return {
        "bits1": bmp_any(13, 5, colours(2), bits=1),
        "bits4": bmp_any(10, 6, colours(16), bits=4),
        "rle4": bmp_any(20, 6, colours(16), bits=4, compression=2),
        "bits8": bmp_any(9, 7, colours(200), bits=8),
        "rle8": bmp_any(24, 5, colours(60), bits=8, compression=1),
        "core8": bmp_any(8, 4, colours(20), bits=8, header=12),
        "bits16": bmp_any(7, 3, five, bits=16),
        "bits16_565": bmp_any(7, 3, five, bits=16, compression=3, masks=[0xF800, 0x7E0, 0x1F, 0]),
        "bits24": bmp_any(5, 3, five),
        "bits24_top_down": bmp_any(6, 4, five, top_down=True),
        "bits24_os2": bmp_any(5, 2, five, header=16),
        "bits32": bmp_any(4, 4, five, bits=32),
        "bits32_alpha_v5": bmp_any(4, 3, five, bits=32, compression=3, header=124),
        "bits32_alpha_fields": bmp_any(3, 3, five, bits=32, compression=6,
                                       masks=[0xFF, 0xFF00, 0xFF0000, 0xFF000000]),
        "bits32_v4_top_down": bmp_any(3, 5, five, bits=32, header=108, top_down=True),
        "bits16_v3": bmp_any(5, 2, five, bits=16, compression=3, header=56,
                             masks=[0xF00, 0xF0, 0xF, 0xF000]),
        "bits8_v2_52": bmp_any(4, 2, colours(5), bits=8, header=52),
        "bits8_os2_64": bmp_any(4, 2, colours(5), bits=8, header=64),
    }


def frame_seeds():
    def seed(w, h, orientation, framing, mode, aspect, bg, pixels):
        return bytes([w - 1, h - 1, orientation - 1, framing - 1, mode, aspect]) + bytes(bg) + pixels
    art = bytes((i * 29 + i // 7 * 3) & 255 for i in range(64))
    return {
        "fit_wide": seed(40, 10, 1, 1, 0, 64, [0, 0, 0], art),
        "fill_turned": seed(12, 30, 6, 2, 0, 64, [255, 0, 0], art),
        "stretch_alpha": seed(9, 9, 3, 3, 4, 80, [10, 20, 30], art),
        "pad_mirrored_any_alpha": seed(64, 50, 5, 4, 6, 0, [0, 255, 0], art),
        "nearest_fit_aspect": seed(20, 15, 8, 1, 1, 18, [1, 2, 3], art),
        "nearest_fill_correction": seed(30, 7, 2, 2, 9, 64, [9, 9, 9], art),
        "one_pixel": seed(1, 1, 7, 1, 3, 255, [200, 100, 0], art),
    }


for target, seeds in (("convert", convert_seeds()), ("s05", s05_seeds()), ("config", config_seeds()),
                      ("bmp", bmp_seeds()), ("frame", frame_seeds())):
    os.makedirs(os.path.join(HERE, "corpus", target), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, "corpus", target, name), "wb") as f:
            f.write(data)
