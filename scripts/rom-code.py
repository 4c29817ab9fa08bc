#!/usr/bin/env python3
"""Assembles the cartridge's source, src/outputs/rom/show.asm, with pasmo and writes the bytes and
addresses the program uses into src/outputs/rom/show_code.hpp, so that the build needs no
assembler. Run it after changing show.asm, and commit both; the tests assemble the source again
and compare it with what the program writes.

    scripts/rom-code.py           write show_code.hpp
    scripts/rom-code.py --check   exit 1 when show_code.hpp is not what the source gives
                                  (77 when pasmo is missing: the test is skipped)
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE = ROOT / "src/outputs/rom/show.asm"
HEADER = ROOT / "src/outputs/rom/show_code.hpp"
ORIGIN = 0x4000
# The labels the program fills in, in the order they lie in the cartridge.
DATA = ["has_palette", "palette", "names", "patterns", "colours"]


def assemble():
    with tempfile.TemporaryDirectory() as folder:
        rom = pathlib.Path(folder) / "show.rom"
        symbols = pathlib.Path(folder) / "show.sym"
        subprocess.run(["pasmo", "--bin", str(SOURCE), str(rom), str(symbols)], check=True,
                       cwd=SOURCE.parent)
        image = rom.read_bytes()
        labels = {}
        for line in symbols.read_text().splitlines():
            name, _, value = line.split()
            labels[name] = int(value.rstrip("Hh"), 16)
    return image, labels


def header(image, labels):
    code = image[: labels[DATA[0]] - ORIGIN]
    lines = [
        "// The cartridge's code, assembled from show.asm by scripts/rom-code.py (pasmo): do not",
        "// edit; change show.asm and run the script.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "namespace lumaweave::outputs::rom_code {",
        "",
        f"inline constexpr std::size_t size = {len(image)};",
        f"inline constexpr std::uint16_t origin = 0x{ORIGIN:04X};",
        "// Where the program puts the picture (addresses; the cartridge starts at origin).",
    ]
    for name in DATA + ["stay"]:
        lines.append(f"inline constexpr std::uint16_t {name} = 0x{labels[name]:04X};")
    lines += ["", "// The bytes from origin up to has_palette; all after them are zero in the source.",
              "inline constexpr std::uint8_t code[] = {"]
    # 15 a line, as clang-format packs them.
    for i in range(0, len(code), 15):
        lines.append("    " + " ".join(f"0x{b:02X}," for b in code[i:i + 15]))
    lines += ["};", "", "}  // namespace lumaweave::outputs::rom_code", ""]
    return "\n".join(lines)


def main():
    if shutil.which("pasmo") is None:
        if sys.argv[1:] == ["--check"]:
            print("SKIP: pasmo is not installed (apt-get install pasmo)")
            sys.exit(77)
        sys.exit("pasmo is not installed (apt-get install pasmo)")
    image, labels = assemble()
    if any(image[labels[DATA[0]] - ORIGIN:]):
        sys.exit("show.asm: the bytes after has_palette must all be zero")
    text = header(image, labels)
    if sys.argv[1:] == ["--check"]:
        if HEADER.read_text() != text:
            sys.exit(f"{HEADER} is not what {SOURCE} assembles to: run scripts/rom-code.py")
        return
    HEADER.write_text(text)


if __name__ == "__main__":
    main()
