// The colour table the RGB/ records fill (src/header/palette.cpp).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "header/records.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::MessageLog;

struct Palette {
    std::vector<uint8_t> memory;  // the table followed by guard bytes
    bool ok = false;
    std::vector<std::string> messages;

    Bytes entry(uint32_t index) const {
        return Bytes(memory.begin() + 4 * index, memory.begin() + 4 * index + 4);
    }
};

const uint8_t kGuard = 0xEE;
const size_t kGuardBytes = 64;

Palette Parse(const std::string& header, uint32_t entries) {
    Palette palette;
    palette.memory.assign(4 * entries, 0);
    palette.memory.resize(4 * entries + kGuardBytes, kGuard);
    MessageLog log;
    bsb::HeaderText text = {header.data(), static_cast<uint32_t>(header.size())};
    palette.ok = bsb::ParsePalette(text, palette.memory.data(), entries, testsupport::Shown());
    palette.messages = log.messages;
    return palette;
}

// A table of `entries` black entries but for those named.
Bytes Table(uint32_t entries, const std::map<uint32_t, Bytes>& named) {
    Bytes table(4 * entries, 0);
    for (const auto& [index, entry] : named)
        for (size_t k = 0; k < 4; ++k) table[4 * index + k] = entry[k];
    return table;
}

TEST(Palette, RecordsFillTheirEntriesDoubled) {
    struct Case {
        std::string header;
        uint32_t entries;
        uint32_t index;
        Bytes entry;  // blue, green, red, reserved
    };
    const Case cases[] = {
        {"RGB/1,0,0,0\r\nRGB/2,127,127,127\r\n", 16, 2, {254, 254, 254, 0}},
        {"RGB/4,255,0,10\r\n", 16, 4, {20, 0, 254, 0}},
        {"RGB/5,1,2,3\r\nRGB/5,10,20,30\r\n", 16, 5, {60, 40, 20, 0}},
        {"RGB/6,100,200,0\r\n", 16, 6, {0, 144, 200, 0}},
        {"RGB/300,1,2,3\r\n", 256, 44, {6, 4, 2, 0}},
        {"RGB/255,261,0,128\r\n", 256, 255, {0, 0, 10, 0}},
        {"RGB/1,1,2,3", 2, 1, {6, 4, 2, 0}},
        {"VER/3.0\r\nBSB/RA=10,10\r\nRGB/15,3,2,1\rOST/1\r\n", 16, 15, {2, 4, 6, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        Palette palette = Parse(c.header, c.entries);
        ASSERT_TRUE(palette.ok);
        EXPECT_TRUE(palette.messages.empty());
        EXPECT_EQ(palette.entry(c.index), c.entry);
        for (uint32_t i = 0; i < c.entries; ++i)
            if (i != c.index && c.header.find("RGB/" + std::to_string(i) + ",") == std::string::npos)
                EXPECT_EQ(palette.entry(i), Bytes(4, 0)) << "entry " << i;
        EXPECT_EQ(Bytes(palette.memory.end() - kGuardBytes, palette.memory.end()),
                  Bytes(kGuardBytes, kGuard));
    }
    // Entry 1 of the first example is black, like every unnamed entry.
    EXPECT_EQ(Parse("RGB/1,0,0,0\r\nRGB/2,127,127,127\r\n", 16).entry(1), Bytes(4, 0));
}

TEST(Palette, RecordsBeyondTheTableAreSkipped) {
    struct Case {
        const char* what;
        std::string header;
        uint32_t entries;
        Bytes table;
    };
    const Case cases[] = {
        {"16 entries: indices 16 and 200 name no entry; the records after them still apply",
         "RGB/16,1,1,1\r\nRGB/200,9,9,9\r\nRGB/3,5,6,7\r\nRGB/15,1,2,3\r\n", 16,
         Table(16, {{3, {14, 12, 10, 0}}, {15, {6, 4, 2, 0}}})},
        {"2 entries (1 bit per pixel): only indices 0 and 1",
         "RGB/2,50,50,50\r\nRGB/1,50,50,50\r\nRGB/4,1,1,1\r\n", 2, Table(2, {{1, {100, 100, 100, 0}}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Palette palette = Parse(c.header, c.entries);
        ASSERT_TRUE(palette.ok);
        EXPECT_TRUE(palette.messages.empty());
        EXPECT_EQ(Bytes(palette.memory.begin(), palette.memory.begin() + c.table.size()), c.table);
        EXPECT_EQ(Bytes(palette.memory.begin() + c.table.size(), palette.memory.end()),
                  Bytes(kGuardBytes, kGuard));
    }
}

TEST(Palette, HeaderWithoutRgbRecordsFails) {
    for (const std::string header : {"", "VER/3.0\r\nBSB/RA=10,10\r\n", "RGB 1,2,3,4\r\nRG/1"}) {
        SCOPED_TRACE(header);
        Palette palette = Parse(header, 16);
        EXPECT_FALSE(palette.ok);
        EXPECT_EQ(palette.messages, std::vector<std::string>{"Error reading RGB records."});
        EXPECT_EQ(Bytes(palette.memory.begin(), palette.memory.begin() + 64), Bytes(64, 0));
    }
}

}  // namespace
