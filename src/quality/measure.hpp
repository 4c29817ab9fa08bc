// How close a converted picture comes to its source, as a viewer sees it: both pictures blurred a
// little in linear light (the eye does not resolve single pixels of a dither), then the CIEDE2000
// colour difference per pixel; also SSIM on luma and PSNR of the unblurred pictures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "lumaweave.hpp"

namespace lumaweave::quality {

struct Lab {
    double l, a, b;
};

// CIEDE2000 colour difference with kL = kC = kH = 1.
double ciede2000(const Lab& x, const Lab& y);

// sRGB (0..255) to linear light (0..1).
double srgb_to_linear(int v);
// Linear-light sRGB to CIE Lab, D65 white.
Lab linear_to_lab(double r, double g, double b);

// The nearest-rank percentile: the smallest value that at least `share` (0..1] of the values do
// not exceed. Reorders `values`, which must not be empty.
double nearest_rank(std::vector<double>& values, double share);

struct Figures {
    double delta_e_mean = 0;  // blurred CIEDE2000, mean over the picture
    double delta_e_p95 = 0;   // its 95th percentile (nearest rank)
    double ssim = 1;          // mean SSIM on luma
    double psnr = 0;          // over red, green and blue; +infinity for identical pictures
};

// A picture of 8-bit colours, row by row from the top (values are taken modulo 256).
struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // width * height
};

// The source as the conversion decoded, cropped and shifted it, before any adjustment.
Picture source_picture(const Result& result);
// The converted picture at 1x, every pixel in the colour the preview shows it with (the
// display's colours, Result::display).
Picture displayed_picture(const Result& result);

// Measures pictures against one reference picture, keeping what only depends on the reference
// and its work buffers between calls (a search measures many results of one source).
class Meter {
  public:
    void set_reference(const Picture& reference);

    // The blurred CIEDE2000 mean alone (what a search minimises).
    double delta_e_mean(const Picture& picture);
    // Every figure. The picture must have the reference's size.
    Figures measure(const Picture& picture);

  private:
    void blurred_lab(const Picture& picture, std::vector<Lab>& out);
    void delta_e_map(const Picture& picture);
    double ssim(const Picture& picture);

    Picture reference_;
    int width_ = 0, height_ = 0;
    std::vector<Lab> reference_lab_;
    std::vector<double> reference_luma_, reference_mean_, reference_var_;
    // Work buffers.
    std::vector<Lab> lab_;
    std::vector<double> delta_e_, plane_[3], temp_;
};

// Source against result of a finished conversion, as its display shows it.
Figures measure_conversion(const Result& result);

}  // namespace lumaweave::quality
