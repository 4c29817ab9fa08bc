// The core as the web page's worker calls it (embind): the settings table, so that the page
// builds its options from it and keeps no copy of them, and a session that converts a BMP file's
// bytes or a picture's pixels, measures the result and runs the settings search.
//
// Settings travel as plain objects keyed by the table's field names; fields an object lacks keep
// their initial values. Images come back as Uint8Arrays of their own (copies), so that the worker
// can hand them to the page.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/stages.hpp"
#include "formats/s05.hpp"
#include "lumaweave.hpp"
#include "outputs/files.hpp"
#include "quality/auto_settings.hpp"
#include "quality/measure.hpp"

namespace lumaweave::web {

namespace {

using emscripten::val;

std::string_view kind_name(FieldKind kind) {
    switch (kind) {
        case FieldKind::flag:
            return "flag";
        case FieldKind::choice:
            return "choice";
        case FieldKind::scale:
            return "scale";
    }
    return {};
}

// The page decides by these names (a picture refused for its size can be framed instead).
std::string_view status_name(Status status) {
    switch (status) {
        case Status::ok:
            return "ok";
        case Status::file_not_found:
            return "file_not_found";
        case Status::file_cannot_open:
            return "file_cannot_open";
        case Status::memory_error:
            return "memory_error";
        case Status::read_error:
            return "read_error";
        case Status::could_not_create:
            return "could_not_create";
        case Status::config_item_not_found:
            return "config_item_not_found";
        case Status::config_not_enough:
            return "config_not_enough";
        case Status::width_not_multiple_of_8:
            return "width_not_multiple_of_8";
        case Status::width_exceeds_256:
            return "width_exceeds_256";
        case Status::height_exceeds_192:
            return "height_exceeds_192";
        case Status::image_too_small:
            return "image_too_small";
        case Status::format_not_convertible:
            return "format_not_convertible";
        case Status::invalid_settings:
            return "invalid_settings";
        case Status::no_files:
            return "no_files";
        case Status::stopped:
            return "stopped";
        case Status::too_many_files:
            return "too_many_files";
        case Status::picture_unreadable:
            return "picture_unreadable";
        case Status::picture_too_large:
            return "picture_too_large";
    }
    return "unknown";
}

val text(std::string_view s) {
    return val(std::string(s));
}

val bytes_to_js(std::span<const std::uint8_t> bytes) {
    // The view looks into the module's memory, which the next conversion overwrites: copy it.
    return val::global("Uint8Array")
        .new_(emscripten::typed_memory_view(bytes.size(), bytes.data()));
}

void bytes_from_js(const val& array, std::vector<std::uint8_t>& out) {
    out.resize(array["length"].as<std::size_t>());
    val(emscripten::typed_memory_view(out.size(), out.data())).call<void>("set", array);
}

val setting_fields_js() {
    val fields = val::array();
    for (const SettingField& f : setting_fields()) {
        val field = val::object();
        field.set("name", text(f.name));
        field.set("kind", text(kind_name(f.kind)));
        field.set("min", f.min);
        field.set("max", f.max);
        field.set("initial", initial_value(f));
        field.set("description", text(f.description));
        val values = val::array();
        for (const NamedValue& n : f.named) {
            val v = val::object();
            v.set("value", n.value);
            v.set("name", text(n.name));
            values.call<void>("push", v);
        }
        field.set("values", values);
        fields.call<void>("push", field);
    }
    return fields;
}

ConversionSettings settings_from_js(const val& object) {
    ConversionSettings s;
    if (object.isNull() || object.isUndefined()) return s;
    for (const SettingField& f : setting_fields()) {
        const val v = object[std::string(f.name)];
        if (v.isNumber()) {
            const double d = v.as<double>();
            // Not a whole number of the int32 range: a value no field takes.
            s.*f.member = d == std::trunc(d) && std::abs(d) < 2147483648.0
                              ? static_cast<std::int32_t>(d)
                              : std::int32_t{-2147483647 - 1};
        }
    }
    return s;
}

val settings_to_js(const ConversionSettings& s) {
    val object = val::object();
    for (const SettingField& f : setting_fields())
        object.set(std::string(f.name), s.*f.member);
    return object;
}

val number_or_null(double v) {
    return std::isfinite(v) ? val(v) : val::null();
}

val text_bytes(const std::string& text) {
    return bytes_to_js(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// The files for MSX programs that the command line's --format writes, made from a result for the
// page's downloads; `request` is {name, dedupe, asmSyntax} (the picture's name, whether identical
// tiles are stored once, "pasmo" or "sdasz80"). The page makes NAME.screen.png from `screen` (red,
// green, blue bytes, 256 x 192) with the browser's own PNG encoder.
val files_to_js(const Result& r, const val& request) {
    outputs::FileOptions options;
    options.dedupe = request["dedupe"].isTrue();
    if (request["asmSyntax"].isString() && request["asmSyntax"].as<std::string>() == "sdasz80")
        options.asm_syntax = outputs::AsmSyntax::sdasz80;
    const std::string name =
        request["name"].isString() ? request["name"].as<std::string>() : "picture.bmp";
    const std::size_t dot = name.rfind('.');
    const std::string base = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const outputs::PictureFiles files(r, name, options);
    val out = val::object();
    out.set("s02", bytes_to_js(files.s02()));
    out.set("chr", bytes_to_js(files.patterns()));
    out.set("clr", bytes_to_js(files.colours()));
    out.set("nam", bytes_to_js(files.names()));
    out.set("h", text_bytes(files.c_header(base + ".h")));
    out.set("asm", text_bytes(files.asm_source(base + ".asm")));
    out.set("rom", bytes_to_js(files.cartridge()));
    out.set("pal", bytes_to_js(files.palette()));
    out.set("screen", bytes_to_js(outputs::screen_rgb(files.screen(), r.display)));
    val tiles = val::array();
    for (const int n : files.tables().tiles)
        tiles.call<void>("push", n);
    out.set("tiles", tiles);
    out.set("msx2Palette", r.msx2_palette);
    return out;
}

// A session keeps the buffers of a converter and of a settings search between calls.
class Session {
  public:
    // Converts the bytes of a BMP file, as the command line does the file itself. `companion`
    // is the bytes of the picture's ".s05" file, or null; `files` null, or what files_to_js()
    // is to make from the result.
    val convert_bmp(const val& file, const val& settings, const val& companion, const val& files) {
        bytes_from_js(file, input_);
        const Result& r = converter_.convert_bmp(input_, settings_from_js(settings),
                                                 DefaultPalettes{}, companion_from_js(companion));
        return with_files(result_to_js(r, settings_from_js(settings)), r, files);
    }

    // Converts a picture of width x height red, green, blue bytes.
    val convert_pixels(int width, int height, const val& rgb, const val& settings,
                       const val& companion, const val& files) {
        bytes_from_js(rgb, input_);
        const Result& r = converter_.convert(picture(width, height), settings_from_js(settings),
                                             DefaultPalettes{}, companion_from_js(companion));
        return with_files(result_to_js(r, settings_from_js(settings)), r, files);
    }

    // The settings search from `settings`, as the command line's --auto with the same budget.
    val auto_bmp(const val& file, const val& settings, const val& companion, double budget) {
        bytes_from_js(file, input_);
        const quality::SearchResult s =
            search_.run_bmp(input_, settings_from_js(settings), DefaultPalettes{},
                            search_options(budget), companion_from_js(companion));
        return search_to_js(s);
    }

    val auto_pixels(int width, int height, const val& rgb, const val& settings,
                    const val& companion, double budget) {
        bytes_from_js(rgb, input_);
        const quality::SearchResult s =
            search_.run(picture(width, height), settings_from_js(settings), DefaultPalettes{},
                        search_options(budget), companion_from_js(companion));
        return search_to_js(s);
    }

  private:
    static val with_files(val out, const Result& r, const val& files) {
        if (r.ok() && !files.isNull() && !files.isUndefined())
            out.set("files", files_to_js(r, files));
        return out;
    }

    // The core refuses a size that does not match the bytes ("this format cannot be converted").
    PixelPicture picture(int width, int height) const { return {width, height, input_}; }

    static quality::SearchOptions search_options(double budget) {
        quality::SearchOptions o;
        if (std::isfinite(budget) && budget >= 1 && budget <= quality::max_budget) {
            o.budget = budget;
        }
        return o;
    }

    std::optional<PaletteTable> companion_from_js(const val& bytes) {
        if (bytes.isNull() || bytes.isUndefined()) return std::nullopt;
        bytes_from_js(bytes, companion_);
        // Read as the command line reads the file: zeros beyond a short one.
        companion_.resize(companion_.size() + s05::read_extra, 0);
        return s05::read_palette(companion_.data());
    }

    val result_to_js(const Result& r, const ConversionSettings& settings) {
        val out = val::object();
        out.set("ok", r.ok());
        out.set("status", text(status_name(r.outcome.status)));
        out.set("message", r.ok() ? val::null() : val(shown_text(r.outcome)));
        out.set("width", r.width);
        out.set("height", r.height);
        out.set("settings", settings_to_js(settings));
        if (!r.ok()) return out;
        out.set("vram", bytes_to_js(r.vram));
        out.set("preview", bytes_to_js(r.preview));
        out.set("exportBmp", bytes_to_js(r.export_bmp));
        out.set("source", bytes_to_js(r.source));
        out.set("candidates", static_cast<double>(r.candidates_evaluated));
        const double measure_start = emscripten_get_now();
        meter_.set_reference(quality::source_picture(r));
        const quality::Figures f =
            meter_.measure(quality::displayed_picture(r, quality::Display::table));
        val figures = val::object();
        figures.set("deltaEMean", f.delta_e_mean);
        figures.set("deltaEP95", f.delta_e_p95);
        figures.set("ssim", f.ssim);
        figures.set("psnr", number_or_null(f.psnr));
        figures.set("display", text(quality::display_name(quality::Display::table)));
        figures.set("ms", emscripten_get_now() - measure_start);
        out.set("figures", figures);
        return out;
    }

    val search_to_js(const quality::SearchResult& s) {
        if (!s.outcome.ok()) {
            Result failed;
            failed.outcome = s.outcome;
            return result_to_js(failed, s.start);
        }
        val out = result_to_js(search_.result(), s.chosen);
        val search = val::object();
        search.set("start", settings_to_js(s.start));
        search.set("startMean", s.start_mean);
        search.set("chosenMean", s.chosen_mean);
        search.set("conversions", s.conversions);
        search.set("trials", s.trials);
        search.set("cost", s.cost);
        out.set("search", search);
        return out;
    }

    Converter converter_;
    quality::SettingsSearch search_;
    quality::Meter meter_;
    std::vector<std::uint8_t> input_, companion_;
};

std::string companion_name_js(const std::string& picture_name) {
    return companion_name(picture_name);
}

// The core's verdict on a picture's size alone ("ok" or the status it would refuse it with),
// so that the page frames exactly the pictures the core would refuse for their size.
std::string check_size_js(int width, int height, int correction) {
    return std::string(status_name(check_picture_size(width, height, correction)));
}

}  // namespace

EMSCRIPTEN_BINDINGS(lumaweave) {
    emscripten::function("settingFields", &setting_fields_js);
    emscripten::function("companionName", &companion_name_js);
    emscripten::function("checkPictureSize", &check_size_js);
    emscripten::constant("defaultBudget", quality::default_budget);
    emscripten::constant("maxBudget", quality::max_budget);
    emscripten::class_<Session>("Session")
        .constructor<>()
        .function("convertBmp", &Session::convert_bmp)
        .function("convertPixels", &Session::convert_pixels)
        .function("autoBmp", &Session::auto_bmp)
        .function("autoPixels", &Session::auto_pixels);
}

}  // namespace lumaweave::web
