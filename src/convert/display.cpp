#include "convert/display.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace lumaweave {

namespace {

std::vector<Display> make_displays() {
    Display tms9918{"tms9918",
                    Palette{{{0, 4, 0},
                             {0, 4, 0},
                             {52, 192, 64},
                             {107, 214, 116},
                             {83, 88, 221},
                             {122, 122, 237},
                             {184, 97, 72},
                             {90, 226, 234},
                             {218, 104, 81},
                             {254, 139, 116},
                             {200, 200, 84},
                             {218, 213, 126},
                             {48, 169, 56},
                             {180, 104, 175},
                             {198, 208, 197},
                             {249, 255, 248}}},
                    true};
    return {Display{}, tms9918};
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A shortened, printable copy of a word for a message.
std::string shown_word(std::string_view word) {
    std::string out;
    for (char c : word.substr(0, 20))
        out += static_cast<unsigned char>(c) >= 0x20 && c != 0x7F ? c : '?';
    return word.size() > 20 ? out + "..." : out;
}

}  // namespace

std::span<const Display> named_displays() {
    static const std::vector<Display> displays = make_displays();
    return displays;
}

const Display& table_display() {
    return named_displays().front();
}

std::optional<Display> find_display(std::string_view name) {
    const std::string wanted = lower(name);
    for (const Display& d : named_displays()) {
        if (d.name == wanted) return d;
    }
    return std::nullopt;
}

DisplayText parse_display_text(std::string_view text) {
    DisplayText out;
    Palette colours{};
    int count = 0;
    bool gimp = false;
    int line_number = 0;
    std::size_t start = 0;
    auto fail = [&](const std::string& what) {
        out.error = "line " + std::to_string(line_number) + ": " + what;
        return out;
    };
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        if (line_number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        if (line.find('\0') != std::string_view::npos) {
            out.error = "not a text file";
            return out;
        }
        if (line_number == 1) {
            std::string_view head = line;
            while (!head.empty() && is_separator(head.back()))
                head.remove_suffix(1);
            if (head == "GIMP Palette") {
                gimp = true;
                continue;
            }
        }
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        std::size_t at = 0;
        while (at < line.size() && is_separator(line[at]))
            ++at;
        if (at == line.size()) continue;
        // A GIMP palette's header: "Name: ...", "Columns: ...".
        if (gimp && !is_digit(line[at])) continue;

        std::array<int, 3> rgb{};
        for (int c = 0; c < 3; ++c) {
            while (at < line.size() && is_separator(line[at]))
                ++at;
            std::size_t word_end = at;
            while (word_end < line.size() && !is_separator(line[word_end]))
                ++word_end;
            const std::string_view word = line.substr(at, word_end - at);
            if (word.empty()) {
                return fail("a colour needs three numbers (red, green, blue), this line has " +
                            std::to_string(c));
            }
            long value = 0;
            bool number = word.size() <= 9;
            for (char ch : word) {
                number = number && is_digit(ch);
                if (number) value = value * 10 + (ch - '0');
            }
            if (!number) {
                std::string what = shown_word(word);
                what.insert(what.begin(), '"');
                return fail(what + "\" is not a whole number from 0 to 255");
            }
            if (value > 255) return fail(std::to_string(value) + " is not in 0..255");
            rgb[static_cast<std::size_t>(c)] = static_cast<int>(value);
            at = word_end;
        }
        while (at < line.size() && is_separator(line[at]))
            ++at;
        if (!gimp && at < line.size()) {
            std::string what = "more than three numbers: \"";
            what += shown_word(line.substr(at));
            return fail(what + "\"");
        }
        if (count == 16) return fail("more than 16 colours");
        colours[static_cast<std::size_t>(count++)] = {rgb[0], rgb[1], rgb[2]};
    }
    if (count < 16) {
        out.error = count == 0 ? "no colours (16 are needed, one per line: red green blue)"
                               : "only " + std::to_string(count) +
                                     (count == 1 ? " colour" : " colours") + ", 16 are needed";
        return out;
    }
    out.colours = colours;
    return out;
}

DisplayChoice load_display(const std::string& name_or_path) {
    DisplayChoice out;
    if (std::optional<Display> known = find_display(name_or_path)) {
        out.display = std::move(known);
        return out;
    }
    auto fail = [&](const std::string& what) {
        out.error = name_or_path + ": " + what;
        return out;
    };
    if (name_or_path.empty()) return fail("no display named");
    std::ifstream file(name_or_path, std::ios::binary);
    if (!file) {
        const int error = errno;
        return fail("not a display name (" + std::string(named_displays()[0].name) + ", " +
                    std::string(named_displays()[1].name) + ") and no palette file can be read" +
                    (error ? std::string(" (") + std::strerror(error) + ")" : std::string()));
    }
    std::string text(max_display_file_bytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) return fail("cannot be read");
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > max_display_file_bytes) {
        return fail("too long for a palette file (16 lines of red green blue)");
    }
    const DisplayText parsed = parse_display_text(text);
    if (!parsed.colours) return fail("not a palette of 16 colours: " + parsed.error);
    out.display = Display{name_or_path, parsed.colours};
    return out;
}

}  // namespace lumaweave
