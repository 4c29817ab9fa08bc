// The scratch pool, whole-file input and output, and the palette configuration file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/convert.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"
#include "io/scratch_pool.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// Reads numbers from a buffer of exactly the text's size (no spare zero bytes after it), so
// that the sanitizers catch any read past the given length.
struct ConfigRead {
    int result;
    std::vector<std::int32_t> values;
};
ConfigRead read_numbers(const std::string& text, const char* key, int n) {
    const std::vector<std::uint8_t> buffer = bytes_of(text);
    ConfigRead r{0, std::vector<std::int32_t>(static_cast<std::size_t>(n), -5)};
    r.result = read_config_numbers(buffer.data(), buffer.size(), key, r.values.data(), n);
    return r;
}

const std::string msx1_key = msx1_palette_key;
const std::string msx2_key = msx2_palette_key;

std::string numbers_text(int count, int first) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string((first + i) % 8) + ",";
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scratch pool

TEST(ScratchPool, ZeroByteRequestEmptiesThePool) {
    ScratchPool pool;
    std::uint8_t* a = pool.alloc(16);
    std::uint8_t* b = pool.alloc(32);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    std::memset(a, 1, 16);
    std::memset(b, 2, 32);
    EXPECT_EQ(pool.count(), 2);
    EXPECT_EQ(pool.alloc(0), nullptr);
    EXPECT_EQ(pool.count(), 0);
}

TEST(ScratchPool, FullPoolRefusesRatherThanWritingPastItsTable) {
    ScratchPool pool;
    for (int i = 0; i < ScratchPool::capacity; ++i)
        ASSERT_NE(pool.alloc(8), nullptr);
    EXPECT_EQ(pool.count(), ScratchPool::capacity);
    EXPECT_EQ(pool.alloc(8), nullptr);
    EXPECT_EQ(pool.count(), ScratchPool::capacity);
    pool.free_all();
    EXPECT_EQ(pool.count(), 0);
    EXPECT_NE(pool.alloc(8), nullptr);
}

// ---------------------------------------------------------------------------------------------
// read_whole_file

TEST(ReadWholeFile, ReadsTheWholeFileAndZeroesTheExtraBytes) {
    test::ScratchDir dir;
    const std::vector<std::uint8_t> content{1, 2, 3, 4, 5};
    test::write_file(dir / "f", content);
    ScratchPool pool;
    // Leave non-zero bytes in memory that the read's block may reuse.
    std::memset(pool.alloc(5 + 64), 0xAA, 5 + 64);
    pool.free_all();

    const FileContents f = read_whole_file(pool, (dir / "f").string(), 64);
    ASSERT_EQ(f.message, "");
    ASSERT_NE(f.data, nullptr);
    EXPECT_EQ(f.length, 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(f.data, f.data + 5), content);
    for (int i = 5; i < 5 + 64; ++i)
        EXPECT_EQ(f.data[i], 0) << "extra byte " << i;
    EXPECT_EQ(pool.count(), 1);
}

TEST(ReadWholeFile, MissingFileAndFolderGiveTheirMessages) {
    test::ScratchDir dir;
    ScratchPool pool;
    EXPECT_EQ(read_whole_file(pool, (dir / "absent.bmp").string(), 0).message, msg::file_not_found);
    EXPECT_EQ(read_whole_file(pool, (dir / "absent" / "x.bmp").string(), 0).message,
              msg::file_not_found);
    EXPECT_EQ(read_whole_file(pool, dir.path().string(), 0).message, msg::file_cannot_open);
    EXPECT_EQ(read_whole_file(pool, "", 0).message, msg::file_not_found);
}

TEST(ReadWholeFile, UnreadableFileCannotOpen) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    test::ScratchDir dir;
    test::write_file(dir / "locked.bmp", {1, 2, 3});
    ::chmod((dir / "locked.bmp").c_str(), 0);
    ScratchPool pool;
    EXPECT_EQ(read_whole_file(pool, (dir / "locked.bmp").string(), 0).message,
              msg::file_cannot_open);
}

TEST(ReadWholeFile, EmptyFileWithoutExtraIsAMemoryErrorAndEmptiesThePool) {
    test::ScratchDir dir;
    test::write_file(dir / "empty.bmp", {});
    ScratchPool pool;
    pool.alloc(10);
    pool.alloc(20);
    const FileContents f = read_whole_file(pool, (dir / "empty.bmp").string(), 0);
    EXPECT_EQ(f.message, msg::memory_error);
    EXPECT_EQ(pool.count(), 0);
}

TEST(ReadWholeFile, EmptyFileWithExtraReadsAsZeros) {
    test::ScratchDir dir;
    test::write_file(dir / "empty.txt", {});
    ScratchPool pool;
    const FileContents f = read_whole_file(pool, (dir / "empty.txt").string(), 4096);
    ASSERT_EQ(f.message, "");
    EXPECT_EQ(f.length, 0u);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(f.data[i], 0) << "byte " << i;
}

// Kernel attribute files announce a length of a page but deliver only their text: the read
// falls short of the length, which is the read error; the bytes after the data are still zero.
TEST(ReadWholeFile, ShortReadIsAReadError) {
    std::string path;
    for (const char* candidate :
         {"/sys/kernel/profiling", "/sys/kernel/mm/transparent_hugepage/enabled",
          "/sys/power/state"}) {
        struct stat st {};
        if (::stat(candidate, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            test::read_file(candidate).size() < static_cast<std::size_t>(st.st_size)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) GTEST_SKIP() << "no file here is shorter than its announced length";
    ScratchPool pool;
    const FileContents f = read_whole_file(pool, path, 16);
    EXPECT_EQ(f.message, "読込エラー");
    ASSERT_NE(f.data, nullptr);
    for (std::size_t i = f.length; i < f.length + 16; ++i)
        EXPECT_EQ(f.data[i], 0) << i;

    // The conversion passes the message on unchanged.
    auto conv = make_conversion();
    EXPECT_EQ(convert_file(*conv, pool, path, {}, {}), "読込エラー");
}

// ---------------------------------------------------------------------------------------------
// write_whole_file

TEST(WriteWholeFile, CreatesAFileAndReplacesAnExistingOneEntirely) {
    test::ScratchDir dir;
    const std::string path = (dir / "out.S02").string();
    const std::vector<std::uint8_t> big(1000, 'A');
    ASSERT_EQ(write_whole_file(path, big.data(), big.size()), "");
    EXPECT_EQ(test::read_file(path), big);

    const std::vector<std::uint8_t> small{1, 2, 3};
    ASSERT_EQ(write_whole_file(path, small.data(), small.size()), "");
    EXPECT_EQ(test::read_file(path), small);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"out.S02"});
}

TEST(WriteWholeFile, RefusesAFolderOrAPlaceThatCannotHoldAFile) {
    test::ScratchDir dir;
    const std::vector<std::uint8_t> data{1, 2, 3};
    fs::create_directory(dir / "folder.S02");
    EXPECT_EQ(write_whole_file((dir / "folder.S02").string(), data.data(), data.size()),
              msg::could_not_create);
    EXPECT_TRUE(fs::is_directory(dir / "folder.S02"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.S02"));

    EXPECT_EQ(write_whole_file((dir / "missing" / "out.S02").string(), data.data(), data.size()),
              msg::could_not_create);

    test::write_file(dir / "plain", {9});
    EXPECT_EQ(write_whole_file((dir / "plain" / "out.S02").string(), data.data(), data.size()),
              msg::could_not_create);
    EXPECT_EQ(test::read_file(dir / "plain"), std::vector<std::uint8_t>{9});
    EXPECT_EQ(names_in(dir.path()).size(), 2u);  // folder.S02 and plain, nothing left over
}

TEST(WriteWholeFile, ReadOnlyTargetIsRefusedAndKept) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    test::ScratchDir dir;
    const std::vector<std::uint8_t> old{7, 7, 7};
    test::write_file(dir / "ro.S02", old);
    ::chmod((dir / "ro.S02").c_str(), 0444);
    const std::vector<std::uint8_t> data(100, 1);
    EXPECT_EQ(write_whole_file((dir / "ro.S02").string(), data.data(), data.size()),
              msg::could_not_create);
    EXPECT_EQ(test::read_file(dir / "ro.S02"), old);
}

// A write that fails part-way (here: the file size limit of the process) reports the create
// message and leaves the file that was there untouched, with no temporary file beside it.
TEST(WriteWholeFile, FailedWriteKeepsTheOldFile) {
    test::ScratchDir dir;
    const std::vector<std::uint8_t> old(200, 'O');
    test::write_file(dir / "keep.S02", old);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    auto* previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<std::uint8_t> data(1000, 'N');
    const std::string message =
        write_whole_file((dir / "keep.S02").string(), data.data(), data.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);

    EXPECT_EQ(message, msg::could_not_create);
    EXPECT_EQ(test::read_file(dir / "keep.S02"), old);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"keep.S02"});
}

// ---------------------------------------------------------------------------------------------
// read_config_numbers

TEST(ConfigNumbers, AnyNonDigitBytesSeparateNumbers) {
    const ConfigRead r =
        read_numbers("* MSX1 palette\n3;5;3 3 5 3 R3 G5 B3\n", msx1_palette_key, 9);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{3, 5, 3, 3, 5, 3, 3, 5, 3}));
}

TEST(ConfigNumbers, DigitOfTheKeyIsNotANumber) {
    EXPECT_EQ(read_numbers("* MSX1 palette 4 5", msx1_palette_key, 2).values,
              (std::vector<std::int32_t>{4, 5}));
    EXPECT_EQ(read_numbers("* MSX2 palette:6,0", msx2_palette_key, 2).values,
              (std::vector<std::int32_t>{6, 0}));
}

TEST(ConfigNumbers, MinusSignIsASeparator) {
    const ConfigRead r = read_numbers("* MSX1 palette -3 -0 12", msx1_palette_key, 3);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{3, 0, 12}));
}

TEST(ConfigNumbers, StarEndsTheListAndEarlierNumbersAreAlreadyStored) {
    const ConfigRead r = read_numbers(
        "* MSX1 palette " + numbers_text(47, 0) + "\n* MSX2 palette 1 2 3", msx1_palette_key, 48);
    EXPECT_EQ(r.result, 1);
    for (int i = 0; i < 47; ++i)
        EXPECT_EQ(r.values[static_cast<std::size_t>(i)], i % 8);
    EXPECT_EQ(r.values[47], -5);  // untouched
}

TEST(ConfigNumbers, StarRightAfterANumberIsConsumedWithIt) {
    const ConfigRead r = read_numbers("* MSX1 palette 7*8", msx1_palette_key, 2);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{7, 8}));
}

TEST(ConfigNumbers, EndOfTextEndsTheList) {
    const ConfigRead r = read_numbers("* MSX1 palette 1 2", msx1_palette_key, 3);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{1, 2, -5}));

    // A number that runs up to the last byte of the text is complete.
    const ConfigRead last = read_numbers("* MSX1 palette 1 23", msx1_palette_key, 2);
    EXPECT_EQ(last.result, 2);
    EXPECT_EQ(last.values, (std::vector<std::int32_t>{1, 23}));
}

TEST(ConfigNumbers, NumbersAfterTheLastWantedAreIgnored) {
    const ConfigRead r = read_numbers("* MSX1 palette 1 2 3 4", msx1_palette_key, 2);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values, (std::vector<std::int32_t>{1, 2}));
}

TEST(ConfigNumbers, KeyMustMatchExactlyAndWhole) {
    EXPECT_EQ(read_numbers("* msx1 palette 1 2 3", msx1_palette_key, 3).result, 0);
    EXPECT_EQ(read_numbers("*MSX1 palette 1 2 3", msx1_palette_key, 3).result, 0);
    EXPECT_EQ(read_numbers("", msx1_palette_key, 3).result, 0);
    // The key cut short by the end of the text.
    EXPECT_EQ(read_numbers("xx* MSX1 palett", msx1_palette_key, 3).result, 0);
    // The first complete occurrence is the one read.
    const ConfigRead r = read_numbers("* MSX1 pal 9 * MSX1 palette 4", msx1_palette_key, 1);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values, std::vector<std::int32_t>{4});
}

TEST(ConfigNumbers, NumberTooLargeFor32BitsSaturates) {
    const ConfigRead r = read_numbers(
        "* MSX1 palette 99999999999999999999 4294967299 2147483648 2147483647 2147483646",
        msx1_palette_key, 5);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.values,
              (std::vector<std::int32_t>{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 2147483646}));
}

// Pseudo-random texts of the bytes that matter, each in a buffer of its exact size: the reader
// returns one of its three answers and writes nothing past the n entries it was given.
TEST(ConfigNumbers, ArbitraryTextsAreReadSafely) {
    constexpr char raw[] = "* MSX1palet0123456789,-\n\0\xff";
    const std::string alphabet(raw, sizeof raw - 1);
    test::Lcg lcg(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        if (lcg.below(2) == 0) text = lcg.below(2) == 0 ? msx1_key : msx2_key;
        const std::uint32_t length = lcg.below(80);
        for (std::uint32_t i = 0; i < length; ++i)
            text += alphabet[lcg.below(alphabet.size())];
        if (lcg.below(4) == 0)
            text.insert(lcg.below(static_cast<std::uint32_t>(text.size()) + 1), msx1_key);
        const int n = static_cast<int>(lcg.below(50));
        std::vector<std::int32_t> destination(static_cast<std::size_t>(n) + 4, -5);
        const std::vector<std::uint8_t> buffer = bytes_of(text);
        const int r = read_config_numbers(buffer.data(), buffer.size(), msx1_palette_key,
                                          destination.data(), n);
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 2);
        for (int i = n; i < n + 4; ++i) {
            ASSERT_EQ(destination[static_cast<std::size_t>(i)], -5) << "round " << round;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// load_palette_config

TEST(PaletteConfig, MissingFileKeepsTheBuiltInTablesSilently) {
    test::ScratchDir dir;
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(load_palette_config(pool, palettes, (dir / "lumaweave_config.txt").string()), "");
    EXPECT_EQ(palettes.msx1, DefaultPalettes{}.msx1);
    EXPECT_EQ(palettes.msx2, DefaultPalettes{}.msx2);
}

TEST(PaletteConfig, CompleteFileReplacesBothTablesInEitherOrder) {
    test::ScratchDir dir;
    const std::string text = "comment\r\n* MSX2 palette\r\n" + numbers_text(48, 1) +
                             "\r\n* MSX1 palette\r\n" + numbers_text(48, 3) + "\r\n";
    test::write_file(dir / "c.txt", bytes_of(text));
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(load_palette_config(pool, palettes, (dir / "c.txt").string()), "");
    for (int i = 0; i < 48; ++i) {
        EXPECT_EQ(palettes.msx1[static_cast<std::size_t>(i)], (3 + i) % 8);
        EXPECT_EQ(palettes.msx2[static_cast<std::size_t>(i)], (1 + i) % 8);
    }
}

TEST(PaletteConfig, OnlyTheMsx1ItemReplacesItAndReportsTheMsx2ItemMissing) {
    test::ScratchDir dir;
    test::write_file(dir / "c.txt", bytes_of("* MSX1 palette\n" + numbers_text(48, 2)));
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(
        load_palette_config(pool, palettes, (dir / "c.txt").string()),
        std::string("設定項目が見付かりません : configuration item not found : * MSX2 palette"));
    EXPECT_EQ(palettes.msx1[0], 2);
    EXPECT_EQ(palettes.msx1[47], (2 + 47) % 8);
    EXPECT_EQ(palettes.msx2, DefaultPalettes{}.msx2);
}

TEST(PaletteConfig, ShortMsx1ListReportsNotEnoughAndLeavesMsx2Unread) {
    test::ScratchDir dir;
    test::write_file(dir / "c.txt", bytes_of("* MSX1 palette\n" + numbers_text(47, 2) +
                                             "\n* MSX2 palette\n" + numbers_text(48, 4)));
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(load_palette_config(pool, palettes, (dir / "c.txt").string()),
              std::string("設定数が不足しています : not enough settings : * MSX1 palette"));
    EXPECT_EQ(palettes.msx1[46], (2 + 46) % 8);  // stored before the list ran out
    EXPECT_EQ(palettes.msx1[47], 7);             // built-in blue of colour 15
    EXPECT_EQ(palettes.msx2, DefaultPalettes{}.msx2);
}

TEST(PaletteConfig, LowerCaseKeyIsNotFound) {
    test::ScratchDir dir;
    test::write_file(dir / "c.txt", bytes_of("* msx1 palette\n" + numbers_text(48, 1) +
                                             "\n* MSX2 palette\n" + numbers_text(48, 1)));
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(
        load_palette_config(pool, palettes, (dir / "c.txt").string()),
        std::string("設定項目が見付かりません : configuration item not found : * MSX1 palette"));
    EXPECT_EQ(palettes.msx2, DefaultPalettes{}.msx2);
}

TEST(PaletteConfig, EmptyOrBinaryFileIsReportedNotCrashedOn) {
    test::ScratchDir dir;
    test::write_file(dir / "empty.txt", {});
    std::vector<std::uint8_t> binary(5000);
    test::Lcg lcg(7);
    for (auto& b : binary)
        b = static_cast<std::uint8_t>(lcg.next());
    test::write_file(dir / "binary.txt", binary);
    ScratchPool pool;
    DefaultPalettes palettes;
    EXPECT_EQ(load_palette_config(pool, palettes, (dir / "empty.txt").string()),
              std::string(msg::config_item_not_found) + msx1_palette_key);
    EXPECT_NE(load_palette_config(pool, palettes, (dir / "binary.txt").string()), "");
}
