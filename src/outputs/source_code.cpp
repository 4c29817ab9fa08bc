#include "outputs/source_code.hpp"

#include <algorithm>
#include <cstdio>
#include <span>
#include <vector>

namespace lumaweave::outputs {

namespace {

constexpr std::size_t identifier_limit = 40;

std::string upper(std::string text) {
    for (char& c : text)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

// One array or label of the file.
struct Table {
    std::string_view suffix;  // "chr"
    std::string_view what;    // "pattern generator table"
    std::span<const std::uint8_t> bytes;
    std::size_t per_line;
};

std::vector<Table> tables_of(const SourceTables& in) {
    std::vector<Table> out = {
        {"chr", "pattern generator table", in.tables.patterns, tile_bytes},
        {"clr", "colour table", in.tables.colours, tile_bytes},
        {"nam", "name table", in.tables.names, 16},
    };
    if (in.palette) out.push_back({"pal", "V9938 palette", *in.palette, 16});
    return out;
}

std::string hex(std::uint8_t v, std::string_view prefix, std::string_view suffix) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", v);
    return std::string(prefix) + digits + std::string(suffix);
}

std::string number_of_tiles(const ScreenTables& t) {
    return std::to_string(t.tiles[0]) + ", " + std::to_string(t.tiles[1]) + " and " +
           std::to_string(t.tiles[2]);
}

// The heading's text, without comment marks: what each table is and where it goes. `label` is
// what the file calls the tables (the identifier, with sdasz80's leading underscore).
std::vector<std::string> heading(const SourceTables& in, const std::string& label) {
    std::vector<std::string> lines = {
        in.file + ": the SCREEN 2 tables of " + in.source + ", written by lumaweave.",
        "",
        label + "_chr  pattern generator table, to video memory 0000h",
        label + "_clr  colour table, to 2000h",
        label + "_nam  name table, to 1800h",
    };
    if (in.palette) {
        lines.push_back(label + "_pal  V9938 palette to set on an MSX2: colours 0 to 15, each");
        lines.push_back(std::string(label.size() + 6, ' ') + "0RRR0BBB then 00000GGG");
    }
    lines.emplace_back();
    if (in.tables.deduplicated) {
        const std::string t = upper(in.identifier) + "_TILES_";
        lines.push_back(
            "Identical tiles are stored once: " + std::to_string(in.tables.tile_count()) +
            " tiles of 768 (" + number_of_tiles(in.tables) + " per third).");
        lines.push_back(label + "_chr and " + label + "_clr hold, 8 bytes a tile, the " + t + "0");
        lines.push_back("tiles of the top third, then the " + t + "1 of the middle one, then");
        lines.push_back("the " + t + "2 of the bottom one: load each third's at 0000h and 2000h,");
        lines.push_back(
            "0800h and 2800h, 1000h and 3000h. The names count the tiles of each "
            "third from 0.");
    } else {
        lines.push_back("Every table is whole, as video memory holds it (256 tiles per third).");
    }
    return lines;
}

}  // namespace

std::string c_identifier(std::string_view file_name) {
    const std::size_t slash = file_name.find_last_of("/\\");
    std::string_view stem =
        slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
    if (const std::size_t dot = stem.rfind('.'); dot != std::string_view::npos && dot > 0)
        stem = stem.substr(0, dot);
    std::string id;
    for (const char c : stem) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool kept = letter || (c >= '0' && c <= '9') || c == '_';
        if (kept) {
            id += letter ? static_cast<char>(c | 0x20) : c;
        } else if (!id.empty() && id.back() != '_') {
            id += '_';
        }
    }
    while (!id.empty() && id.back() == '_')
        id.pop_back();
    while (!id.empty() && id.front() == '_')  // names with a leading "_" are the compiler's
        id.erase(id.begin());
    if (id.empty()) return "picture";
    if (id.front() >= '0' && id.front() <= '9') id = "pic_" + id;
    if (id.size() > identifier_limit) id.resize(identifier_limit);
    while (id.back() == '_')
        id.pop_back();
    return id;
}

std::string c_header(const SourceTables& in) {
    const std::string& id = in.identifier;
    const std::string macro = upper(id);
    std::vector<std::string> lines = heading(in, id);
    lines.emplace_back();
    lines.push_back("Include this file in one C file of a program; other files may declare what");
    lines.push_back("they use, as in: extern const unsigned char " + id + "_chr[" + macro +
                    "_CHR_LENGTH];");
    std::string out;
    for (const std::string& line : lines)
        out += (out.empty() ? "/* " : line.empty() ? " *" : " * ") + line + "\n";
    out += " */\n";
    out += "#ifndef " + macro + "_H\n#define " + macro + "_H\n\n";
    const std::vector<Table> tables = tables_of(in);
    for (const Table& t : tables)
        out += "#define " + macro + "_" + upper(std::string(t.suffix)) + "_LENGTH " +
               std::to_string(t.bytes.size()) + "\n";
    for (int third = 0; third < thirds; ++third)
        out += "#define " + macro + "_TILES_" + std::to_string(third) + " " +
               std::to_string(in.tables.tiles[static_cast<std::size_t>(third)]) + "\n";
    for (const Table& t : tables) {
        const std::string name = id + "_" + std::string(t.suffix);
        out += "\n/* " + std::string(t.what) + " */\nconst unsigned char " + name + "[" + macro +
               "_" + upper(std::string(t.suffix)) + "_LENGTH] = {\n";
        for (std::size_t i = 0; i < t.bytes.size(); ++i) {
            out += i % t.per_line == 0 ? "    " : " ";
            out += hex(t.bytes[i], "0x", "");
            if (i + 1 < t.bytes.size()) out += ',';
            if (i % t.per_line == t.per_line - 1 || i + 1 == t.bytes.size()) out += '\n';
        }
        out += "};\n";
    }
    out += "\n#endif\n";
    return out;
}

std::string asm_source(const SourceTables& in, AsmSyntax syntax) {
    const bool sdas = syntax == AsmSyntax::sdasz80;
    const std::string& id = in.identifier;
    const std::string macro = upper(id);
    std::string out;
    std::vector<std::string> lines = heading(in, sdas ? "_" + id : id);
    lines.emplace_back();
    if (sdas) {
        lines.push_back("For sdasz80 (sdasz80 -o " + id + ".rel " + in.file +
                        "); the labels are those sdcc gives");
        lines.push_back("C's names: _" + id + "_chr is " + id + "_chr in C.");
    } else {
        lines.push_back("In pasmo's forms (db, equ, label:), which many Z80 assemblers share.");
    }
    for (const std::string& line : lines)
        out += line.empty() ? ";\n" : "; " + line + "\n";
    out += "\n";
    if (sdas) out += "        .module " + id + "\n\n";
    const std::vector<Table> tables = tables_of(in);
    const auto equate = [&](const std::string& name, std::size_t value) {
        std::string line = name;
        line.resize(std::max<std::size_t>(line.size() + 1, 24), ' ');
        return line + (sdas ? "= " : "equ ") + std::to_string(value) + "\n";
    };
    for (const Table& t : tables)
        out += equate(macro + "_" + upper(std::string(t.suffix)) + "_LENGTH", t.bytes.size());
    for (int third = 0; third < thirds; ++third)
        out += equate(macro + "_TILES_" + std::to_string(third),
                      static_cast<std::size_t>(in.tables.tiles[static_cast<std::size_t>(third)]));
    if (sdas) out += "\n        .area _CODE\n";
    for (const Table& t : tables) {
        const std::string label = (sdas ? "_" : "") + id + "_" + std::string(t.suffix);
        out += "\n; " + std::string(t.what) + "\n" + label + (sdas ? "::" : ":") + "\n";
        for (std::size_t i = 0; i < t.bytes.size(); ++i) {
            out += i % t.per_line == 0 ? (sdas ? "        .db " : "        db ") : ",";
            out += sdas ? hex(t.bytes[i], "0x", "") : hex(t.bytes[i], "$", "");
            if (i % t.per_line == t.per_line - 1 || i + 1 == t.bytes.size()) out += '\n';
        }
    }
    return out;
}

}  // namespace lumaweave::outputs
