#include "quality/measure.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

#include "formats/vram.hpp"

namespace lumaweave::quality {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double degrees = 180.0 / pi;

// Normalised Gaussian taps 0..radius (tap k weighs exp(-k^2 / 2 sigma^2)).
struct Kernel {
    std::vector<double> taps;
    explicit Kernel(double sigma, int radius) {
        for (int k = 0; k <= radius; ++k)
            taps.push_back(std::exp(-0.5 * k * k / (sigma * sigma)));
    }
    int radius() const { return static_cast<int>(taps.size()) - 1; }
};

// The blur of the CIEDE2000 comparison: sigma 1 pixel, cut at 3 sigma.
const Kernel& blur_kernel() {
    static const Kernel k(1.0, 3);
    return k;
}

// The SSIM window: 11 x 11, sigma 1.5.
const Kernel& ssim_kernel() {
    static const Kernel k(1.5, 5);
    return k;
}

// One separable pass along rows (step 1) or columns (step width). Taps that fall outside the
// picture are left out and the others renormalised, so a flat picture stays flat up to its
// edges and nothing outside the converted area (black, or another picture) leaks in.
void blur_pass(const double* in, double* out, int width, int height, bool along_rows,
               const Kernel& kernel) {
    const int r = kernel.radius();
    const int length = along_rows ? width : height;
    const int lines = along_rows ? height : width;
    const std::ptrdiff_t step = along_rows ? 1 : width;
    const std::ptrdiff_t line_step = along_rows ? width : 1;
    for (int line = 0; line < lines; ++line) {
        const double* src = in + line * line_step;
        double* dst = out + line * line_step;
        for (int i = 0; i < length; ++i) {
            double sum = kernel.taps[0] * src[i * step];
            double weight = kernel.taps[0];
            for (int k = 1; k <= r; ++k) {
                if (i - k >= 0) {
                    sum += kernel.taps[static_cast<std::size_t>(k)] * src[(i - k) * step];
                    weight += kernel.taps[static_cast<std::size_t>(k)];
                }
                if (i + k < length) {
                    sum += kernel.taps[static_cast<std::size_t>(k)] * src[(i + k) * step];
                    weight += kernel.taps[static_cast<std::size_t>(k)];
                }
            }
            dst[i * step] = sum / weight;
        }
    }
}

// Blurs `plane` in place; `temp` is a work buffer of the same size.
void blur(std::vector<double>& plane, std::vector<double>& temp, int width, int height,
          const Kernel& kernel) {
    temp.resize(plane.size());
    blur_pass(plane.data(), temp.data(), width, height, true, kernel);
    blur_pass(temp.data(), plane.data(), width, height, false, kernel);
}

const std::array<double, 256>& linear_table() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            t[static_cast<std::size_t>(v)] =
                c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

double channel_linear(std::int32_t v) {
    return linear_table()[static_cast<std::size_t>(v & 0xFF)];
}

int channel_byte(std::int32_t v) {
    return v & 0xFF;
}

// Luma as SSIM is usually taken: BT.601 weights on the gamma-encoded values.
double luma(const Rgb& c) {
    return 0.299 * channel_byte(c.r) + 0.587 * channel_byte(c.g) + 0.114 * channel_byte(c.b);
}

}  // namespace

double srgb_to_linear(int v) {
    return channel_linear(v);
}

Lab linear_to_lab(double r, double g, double b) {
    // sRGB primaries, D65 white.
    constexpr double xn = 0.95047, yn = 1.0, zn = 1.08883;
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / xn;
    const double y = (0.2126729 * r + 0.7151522 * g + 0.0721750 * b) / yn;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / zn;
    constexpr double e = 216.0 / 24389.0;  // (6/29)^3
    constexpr double k = 24389.0 / 27.0;
    auto f = [](double t) { return t > e ? std::cbrt(t) : (k * t + 16.0) / 116.0; };
    const double fx = f(x), fy = f(y), fz = f(z);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double ciede2000(const Lab& x, const Lab& y) {
    constexpr double pow25_7 = 6103515625.0;  // 25^7
    const double c1 = std::hypot(x.a, x.b), c2 = std::hypot(y.a, y.b);
    const double c_mean = (c1 + c2) / 2;
    const double c_mean7 = std::pow(c_mean, 7);
    const double g = 0.5 * (1 - std::sqrt(c_mean7 / (c_mean7 + pow25_7)));
    const double a1 = (1 + g) * x.a, a2 = (1 + g) * y.a;
    const double cp1 = std::hypot(a1, x.b), cp2 = std::hypot(a2, y.b);
    auto hue = [](double b, double a) {
        if (a == 0 && b == 0) return 0.0;
        const double h = std::atan2(b, a) * degrees;
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(x.b, a1), h2 = hue(y.b, a2);

    const double dl = y.l - x.l;
    const double dc = cp2 - cp1;
    const double chroma_product = cp1 * cp2;
    double dh = 0;
    if (chroma_product != 0) {
        dh = h2 - h1;
        if (dh > 180) {
            dh -= 360;
        } else if (dh < -180) {
            dh += 360;
        }
    }
    const double d_big_h = 2 * std::sqrt(chroma_product) * std::sin(dh / 2 / degrees);

    const double l_mean = (x.l + y.l) / 2;
    const double cp_mean = (cp1 + cp2) / 2;
    double h_mean = h1 + h2;
    if (chroma_product != 0) {
        if (std::abs(h1 - h2) <= 180) {
            h_mean = (h1 + h2) / 2;
        } else if (h1 + h2 < 360) {
            h_mean = (h1 + h2 + 360) / 2;
        } else {
            h_mean = (h1 + h2 - 360) / 2;
        }
    }
    const double t =
        1 - 0.17 * std::cos((h_mean - 30) / degrees) + 0.24 * std::cos(2 * h_mean / degrees) +
        0.32 * std::cos((3 * h_mean + 6) / degrees) - 0.20 * std::cos((4 * h_mean - 63) / degrees);
    const double d_theta = 30 * std::exp(-std::pow((h_mean - 275) / 25, 2));
    const double cp_mean7 = std::pow(cp_mean, 7);
    const double rc = 2 * std::sqrt(cp_mean7 / (cp_mean7 + pow25_7));
    const double l50 = (l_mean - 50) * (l_mean - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * cp_mean;
    const double sh = 1 + 0.015 * cp_mean * t;
    const double rt = -std::sin(2 * d_theta / degrees) * rc;
    const double tl = dl / sl, tc = dc / sc, th = d_big_h / sh;
    return std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th);
}

double nearest_rank(std::vector<double>& values, double share) {
    const auto n = static_cast<double>(values.size());
    // The rank in whole numbers where they can be had, so that 95% of 100 is exactly rank 95.
    auto rank = static_cast<std::size_t>(std::ceil(share * n - 1e-9));
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(rank - 1);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

Picture source_picture(const Result& result) {
    Picture p;
    p.width = result.width;
    p.height = result.height;
    p.pixels.reserve(result.source.size() / 3);
    for (std::size_t i = 0; i + 2 < result.source.size(); i += 3)
        p.pixels.push_back({result.source[i], result.source[i + 1], result.source[i + 2]});
    return p;
}

Picture displayed_picture(const Result& result) {
    const Palette& colours = result.display;
    const auto& vram = result.vram;
    Picture p;
    p.width = result.width;
    p.height = result.height;
    p.pixels.reserve(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t pattern = vram[vram::pattern_offset(x, y)];
            const std::uint8_t pair = vram[vram::colour_offset(x, y)];
            const int n = (pattern & (0x80 >> (x & 7))) ? pair >> 4 : pair & 15;
            const Rgb& c = colours[static_cast<std::size_t>(n)];
            // The preview keeps the low 8 bits of a display value.
            p.pixels.push_back({channel_byte(c.r), channel_byte(c.g), channel_byte(c.b)});
        }
    }
    return p;
}

void Meter::blurred_lab(const Picture& picture, std::vector<Lab>& out) {
    const std::size_t n = picture.pixels.size();
    for (std::vector<double>& plane : plane_)
        plane.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Rgb& c = picture.pixels[i];
        plane_[0][i] = channel_linear(c.r);
        plane_[1][i] = channel_linear(c.g);
        plane_[2][i] = channel_linear(c.b);
    }
    for (std::vector<double>& plane : plane_)
        blur(plane, temp_, picture.width, picture.height, blur_kernel());
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = linear_to_lab(plane_[0][i], plane_[1][i], plane_[2][i]);
}

void Meter::set_reference(const Picture& reference) {
    reference_ = reference;
    width_ = reference.width;
    height_ = reference.height;
    blurred_lab(reference, reference_lab_);

    const std::size_t n = reference.pixels.size();
    reference_luma_.resize(n);
    reference_var_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        reference_luma_[i] = luma(reference.pixels[i]);
        reference_var_[i] = reference_luma_[i] * reference_luma_[i];
    }
    reference_mean_ = reference_luma_;
    blur(reference_mean_, temp_, width_, height_, ssim_kernel());
    blur(reference_var_, temp_, width_, height_, ssim_kernel());
    for (std::size_t i = 0; i < n; ++i)
        reference_var_[i] -= reference_mean_[i] * reference_mean_[i];
}

void Meter::delta_e_map(const Picture& picture) {
    blurred_lab(picture, lab_);
    delta_e_.resize(lab_.size());
    for (std::size_t i = 0; i < lab_.size(); ++i)
        delta_e_[i] = ciede2000(reference_lab_[i], lab_[i]);
}

double Meter::delta_e_mean(const Picture& picture) {
    delta_e_map(picture);
    double sum = 0;
    for (double d : delta_e_)
        sum += d;
    return delta_e_.empty() ? 0 : sum / static_cast<double>(delta_e_.size());
}

double Meter::ssim(const Picture& picture) {
    constexpr double c1 = (0.01 * 255) * (0.01 * 255);
    constexpr double c2 = (0.03 * 255) * (0.03 * 255);
    const std::size_t n = picture.pixels.size();
    std::vector<double>& mean = plane_[0];
    std::vector<double>& square = plane_[1];
    std::vector<double>& cross = plane_[2];
    mean.resize(n);
    square.resize(n);
    cross.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = luma(picture.pixels[i]);
        mean[i] = v;
        square[i] = v * v;
        cross[i] = v * reference_luma_[i];
    }
    for (std::vector<double>& plane : plane_)
        blur(plane, temp_, width_, height_, ssim_kernel());
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double mx = reference_mean_[i], my = mean[i];
        const double vx = reference_var_[i], vy = square[i] - my * my;
        const double cov = cross[i] - mx * my;
        sum += (2 * mx * my + c1) * (2 * cov + c2) / ((mx * mx + my * my + c1) * (vx + vy + c2));
    }
    return n == 0 ? 1 : sum / static_cast<double>(n);
}

Figures Meter::measure(const Picture& picture) {
    Figures f;
    delta_e_map(picture);
    const std::size_t n = delta_e_.size();
    if (n == 0) return f;
    double sum = 0;
    for (double d : delta_e_)
        sum += d;
    f.delta_e_mean = sum / static_cast<double>(n);
    f.delta_e_p95 = nearest_rank(delta_e_, 0.95);

    f.ssim = ssim(picture);

    double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Rgb& a = reference_.pixels[i];
        const Rgb& b = picture.pixels[i];
        const double dr = channel_byte(a.r) - channel_byte(b.r);
        const double dg = channel_byte(a.g) - channel_byte(b.g);
        const double db = channel_byte(a.b) - channel_byte(b.b);
        squares += dr * dr + dg * dg + db * db;
    }
    const double mse = squares / (3.0 * static_cast<double>(n));
    f.psnr =
        mse == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 / mse);
    return f;
}

Figures measure_conversion(const Result& result) {
    Meter meter;
    meter.set_reference(source_picture(result));
    return meter.measure(displayed_picture(result));
}

}  // namespace lumaweave::quality
