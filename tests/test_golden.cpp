// The bundled sample pictures under every stored settings profile give, byte for byte, the
// ".S02" files and "TEST_" pictures that an independent implementation of the same rules wrote.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "lumaweave.hpp"
#include "support/sha256.hpp"

using namespace lumaweave;

namespace {

std::map<std::string, ConversionSettings> read_profiles() {
    std::map<std::string, ConversionSettings> profiles;
    std::ifstream in(std::string(LUMAWEAVE_TEST_DATA) + "/profiles.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string name, assignment;
        words >> name;
        ConversionSettings& s = profiles[name.substr(0, name.size() - 1)];
        while (words >> assignment) {
            const std::size_t eq = assignment.find('=');
            const SettingField* field = find_setting(assignment.substr(0, eq));
            EXPECT_NE(field, nullptr) << assignment;
            if (field != nullptr) s.*(field->member) = std::stoi(assignment.substr(eq + 1));
        }
    }
    return profiles;
}

TEST(Golden, SamplesUnderEveryProfile) {
    const auto profiles = read_profiles();
    ASSERT_EQ(profiles.size(), 18u);
    Converter converter;
    std::ifstream in(std::string(LUMAWEAVE_TEST_DATA) + "/golden.txt");
    int checked = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string picture, profile, vram_hash, export_hash;
        words >> picture >> profile >> vram_hash >> export_hash;
        ASSERT_TRUE(profiles.contains(profile)) << line;
        const std::string path = std::string(LUMAWEAVE_SAMPLES) + "/" + picture + ".bmp";
        const Result& r = converter.convert_file(path, profiles.at(profile));
        ASSERT_TRUE(r.ok()) << shown_text(r.outcome);
        EXPECT_EQ(test::sha256(r.vram), vram_hash) << picture << " " << profile;
        EXPECT_EQ(test::sha256(std::span(r.export_bmp).subspan(54)), export_hash)
            << picture << " " << profile;
        ++checked;
    }
    EXPECT_EQ(checked, 3 * 18);
}

}  // namespace
