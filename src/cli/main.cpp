// lumaweave-cli: converts BMP pictures to SCREEN 2 ".S02" files from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch/batch.hpp"
#include "convert/convert.hpp"
#include "io/config.hpp"
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
    struct Host final : BatchHost {
        bool export_bmp = false;
        void show_message(const std::string& text) override { std::printf("%s\n", text.c_str()); }
        bool export_requested() override { return export_bmp; }
    } host;
    host.export_bmp = export_bmp;
    Batch batch(settings, palettes);
    batch.on_drop_files(host, files);
    const std::string message = batch.run_batch(host);
    return message == msg::ended ? 0 : 1;
}
