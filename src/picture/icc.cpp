#include "picture/icc.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace lumaweave::picture {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t u32(Bytes b, std::size_t at) {
    if (at + 4 > b.size()) return 0;
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
           std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}
std::uint32_t u16(Bytes b, std::size_t at) {
    if (at + 2 > b.size()) return 0;
    return std::uint32_t{b[at]} << 8 | b[at + 1];
}
double s15(Bytes b, std::size_t at) {
    return static_cast<std::int32_t>(u32(b, at)) / 65536.0;
}
constexpr std::uint32_t sig(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

// A tag's data, or an empty span.
Bytes tag(Bytes profile, std::uint32_t signature) {
    const std::uint32_t count = u32(profile, 128);
    for (std::uint32_t i = 0; i < count && i < 1000; ++i) {
        const std::size_t entry = 132 + 12 * std::size_t{i};
        if (entry + 12 > profile.size()) break;
        if (u32(profile, entry) != signature) continue;
        const std::size_t offset = u32(profile, entry + 4), size = u32(profile, entry + 8);
        if (offset > profile.size() || size > profile.size() - offset) return {};
        return profile.subspan(offset, size);
    }
    return {};
}

// The description's text: ASCII of a v2 'desc', the first record of a v4 'mluc' (UTF-16, its
// high bytes dropped).
std::string description(Bytes profile) {
    const Bytes d = tag(profile, sig("desc"));
    std::string text;
    if (u32(d, 0) == sig("desc")) {
        const std::size_t n = u32(d, 8);
        for (std::size_t i = 0; i < n && 12 + i < d.size(); ++i)
            text += static_cast<char>(d[12 + i]);
    } else if (u32(d, 0) == sig("mluc") && u32(d, 8) > 0) {
        const std::size_t length = u32(d, 20), offset = u32(d, 24);
        for (std::size_t i = 0; i + 1 < length && offset + i + 1 < d.size(); i += 2)
            text += static_cast<char>(d[offset + i + 1]);
    }
    return text;
}

double srgb_curve(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// A tone curve ('curv' table or 'para' function) within a little of sRGB's.
bool srgb_tone_curve(Bytes t) {
    constexpr double samples[] = {0.1, 0.3, 0.5, 0.7, 0.9};
    constexpr double tolerance = 0.004;
    if (u32(t, 0) == sig("curv")) {
        const std::size_t n = u32(t, 8);
        if (n < 2 || 12 + 2 * n > t.size()) return false;  // none or a plain gamma
        for (const double x : samples) {
            const double at = x * static_cast<double>(n - 1);
            const auto i = static_cast<std::size_t>(at);
            const double f = at - static_cast<double>(i);
            const double a = u16(t, 12 + 2 * i) / 65535.0;
            const double b = u16(t, 12 + 2 * std::min(i + 1, n - 1)) / 65535.0;
            if (std::abs(a + (b - a) * f - srgb_curve(x)) > tolerance) return false;
        }
        return true;
    }
    if (u32(t, 0) == sig("para")) {
        const std::uint32_t type = u16(t, 8);
        if (type != 3 && type != 4) return false;
        const double g = s15(t, 12), a = s15(t, 16), b = s15(t, 20), c = s15(t, 24), d = s15(t, 28);
        for (const double x : samples) {
            const double y = x >= d ? std::pow(a * x + b, g) : c * x;
            if (std::abs(y - srgb_curve(x)) > tolerance) return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool is_srgb_profile(std::span<const std::uint8_t> profile) {
    if (profile.size() < 132 || u32(profile, 16) != sig("RGB ")) return false;
    if (description(profile).find("sRGB") != std::string::npos) return true;
    // sRGB's colorants adapted to D50, as profiles store them.
    constexpr double colorants[3][3] = {
        {0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
    const std::uint32_t colorant_tags[3] = {sig("rXYZ"), sig("gXYZ"), sig("bXYZ")};
    const std::uint32_t curve_tags[3] = {sig("rTRC"), sig("gTRC"), sig("bTRC")};
    for (int i = 0; i < 3; ++i) {
        const Bytes xyz = tag(profile, colorant_tags[i]);
        if (u32(xyz, 0) != sig("XYZ ") || xyz.size() < 20) return false;
        for (int k = 0; k < 3; ++k) {
            if (std::abs(s15(xyz, 8 + 4 * k) - colorants[i][k]) > 0.003) return false;
        }
        if (!srgb_tone_curve(tag(profile, curve_tags[i]))) return false;
    }
    return true;
}

}  // namespace lumaweave::picture
