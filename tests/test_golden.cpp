// Stored expectations: the bundled sample pictures under every stored settings profile give, byte
// for byte, the ".S02" files and "TEST_" pictures that an independent implementation of the same
// rules wrote; the fuzz targets' seeds and every input that once made a target fail (kept with its
// fix in fuzz/regressions/<target>/) pass the harness the fuzzers run.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "fuzz/harness.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

// SHA-256 as the system's sha256sum gives it (golden.txt holds them).
std::string sha256(const test::ScratchDir& dir, std::span<const std::uint8_t> data) {
    test::write_file(dir / "data", {data.begin(), data.end()});
    std::string hex(64, '?');
    FILE* pipe = ::popen(("sha256sum '" + (dir / "data").string() + "'").c_str(), "r");
    if (pipe != nullptr && std::fread(hex.data(), 1, hex.size(), pipe) != hex.size()) hex.clear();
    if (pipe != nullptr) ::pclose(pipe);
    return hex;
}

std::ifstream data_file(const char* name) {
    return std::ifstream(std::string(LUMAWEAVE_TEST_DATA) + "/" + name);
}

}  // namespace

TEST(Golden, SamplesUnderEveryProfile) {
    std::map<std::string, ConversionSettings> profiles;
    std::ifstream in = data_file("profiles.txt");
    for (std::string line, name, assignment; std::getline(in, line);) {
        std::istringstream words(line);
        if (line.empty() || line[0] == '#' || !(words >> name)) continue;
        ConversionSettings& s = profiles[name.substr(0, name.size() - 1)];
        while (words >> assignment) {
            const std::size_t eq = assignment.find('=');
            const SettingField* field = find_setting(assignment.substr(0, eq));
            ASSERT_NE(field, nullptr) << assignment;
            s.*(field->member) = std::stoi(assignment.substr(eq + 1));
        }
    }
    ASSERT_EQ(profiles.size(), 18u);
    test::ScratchDir dir;
    Converter converter;
    int checked = 0;
    in = data_file("golden.txt");
    for (std::string line, picture, profile, vram_hash, export_hash; std::getline(in, line);) {
        std::istringstream words(line);
        if (line.empty() || line[0] == '#') continue;
        ASSERT_TRUE(words >> picture >> profile >> vram_hash >> export_hash) << line;
        ASSERT_TRUE(profiles.contains(profile)) << line;
        const std::string path = std::string(LUMAWEAVE_SAMPLES) + "/" + picture + ".bmp";
        const Result& r = converter.convert_file(path, profiles.at(profile));
        ASSERT_TRUE(r.ok()) << shown_text(r.outcome);
        EXPECT_EQ(sha256(dir, r.vram), vram_hash) << picture << " " << profile;
        EXPECT_EQ(sha256(dir, std::span(r.export_bmp).subspan(54)), export_hash)
            << picture << " " << profile;
        ++checked;
    }
    EXPECT_EQ(checked, 3 * 18);
}

TEST(FuzzInputs, SeedsAndRegressionsPassEveryRule) {
    fuzz::Workspace ws;
    for (const fuzz::Target& target : fuzz::targets) {
        int seeds = 0;
        for (const char* kind : {"corpus", "regressions"}) {
            std::error_code missing;  // no folder: no inputs
            for (const auto& entry : fs::directory_iterator(
                     fs::path(LUMAWEAVE_FUZZ_DATA) / kind / target.name, missing)) {
                seeds += kind[0] == 'c';
                EXPECT_EQ(target.run(ws, test::read_file(entry.path())), "") << entry.path();
            }
        }
        EXPECT_GT(seeds, 0) << "no seeds for " << target.name;
    }
}
