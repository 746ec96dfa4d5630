#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using testsupport::Utf16Path;
using testsupport::Utf8;
using Units = std::vector<unsigned short>;

TEST(Utf16, ConvertsBothWays) {
    struct Case {
        const char* what;
        std::string utf8;
        Units utf16;
    };
    const Case cases[] = {
        {"empty", "", {0}},
        {"ascii", "a/b", {'a', '/', 'b', 0}},
        {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", {0xE9, 0x20AC, 0}},
        {"beyond the BMP", "x\xF0\x9F\x98\x80", {'x', 0xD83D, 0xDE00, 0}},
        {"last code point", "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf16Path(c.utf8), c.utf16);
        EXPECT_EQ(Utf8(c.utf16.data()), c.utf8);
    }
}

TEST(Utf16, ReplacesMalformedInput) {
    EXPECT_EQ(Utf16Path("a\xC3"), (Units{'a', 0xFFFD, 0}));
    EXPECT_EQ(Utf16Path("\xC0\xAF"), (Units{0xFFFD, 0xFFFD, 0}));  // overlong
    EXPECT_EQ(Utf16Path("\xED\xA0\x80"), (Units{0xFFFD, 0}));      // encoded surrogate
    const Units lone = {'a', 0xD800, 'b', 0xDC00, 0};
    EXPECT_EQ(Utf8(lone.data()), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(TempDir, WritesFilesAndRemovesEverything) {
    std::string root;
    {
        testsupport::TempDir dir;
        root = dir.path();
        std::filesystem::create_directory(dir.PathOf("sub"));
        std::string path = dir.Write("sub/a.kap", {1, 2, 3});
        EXPECT_EQ(std::filesystem::file_size(path), 3u);
        EXPECT_THROW(dir.Write("missing/b.kap", {1}), std::runtime_error);
    }
    EXPECT_FALSE(std::filesystem::exists(root));
}

TEST(LittleEndian, ReadsLowByteFirst) {
    const char bytes[] = {'\x01', '\x02', '\xFE', '\xFF'};
    EXPECT_EQ(testsupport::Le16(bytes), 0x0201);
    EXPECT_EQ(testsupport::Le32(bytes), 0xFFFE0201u);
    EXPECT_EQ(testsupport::LeI32(bytes), -130559);
}

}  // namespace
