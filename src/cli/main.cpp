// lumaweave-cli: converts BMP pictures to SCREEN 2 ".S02" files from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"

using namespace lumaweave;

namespace {

int usage_error(const std::string& text) {
    std::fprintf(stderr, "lumaweave-cli: %s\n", text.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ConversionSettings settings;
    bool export_bmp = false;
    std::string config_path = config_file_name;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--export") {
            export_bmp = true;
        } else if (arg == "--quiet") {
        } else if (arg == "--config" && i + 1 < argc) {
            config_path = argv[++i];
        } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            std::string name = arg.substr(2);
            for (char& c : name) c = c == '-' ? '_' : c;
            const SettingField* field = find_setting(name);
            if (field == nullptr) return usage_error("unknown option " + arg);
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            const std::string text = argv[++i];
            char* end = nullptr;
            const long v = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || !field->accepts(static_cast<int>(v))) {
                return usage_error("bad value for " + arg + ": " + text);
            }
            settings.*(field->member) = static_cast<std::int32_t>(v);
        } else {
            files.push_back(arg);
        }
    }

    ScratchPool pool;
    DefaultPalettes palettes;
    const std::string config_message = load_palette_config(pool, palettes, config_path);
    if (!config_message.empty()) {
        std::printf("%s\n", config_message.c_str());
        return 1;
    }
    auto conv = make_conversion();
    std::string message;
    for (const std::string& name : files) {
        if (!is_bmp_name(name)) continue;
        message = convert_file(*conv, pool, name, settings, palettes);
        if (!message.empty()) break;
        message = write_whole_file(vram_name(name), conv->vram.data(), conv->vram.size());
        if (!message.empty()) break;
        pool.free_all();
        if (export_bmp) {
            const std::size_t size = build_export_image(*conv);
            message = write_whole_file(export_name(name), conv->export_image.data(), size);
            if (!message.empty()) break;
        }
    }
    pool.free_all();
    if (message.empty()) message = files.empty() ? msg::select_a_file : msg::ended;
    std::printf("%s\n", message.c_str());
    return message == msg::ended ? 0 : 1;
}
