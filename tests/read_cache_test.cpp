// Cached reads of chart files: exactly the file's bytes whatever the offsets
// and sizes, reads that continue where the last one ended, and positions
// from the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "chartfile/read_cache.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using testsupport::OpenedChart;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;

// Reads `count` bytes at `offset` and checks them against the file's content,
// and that nothing beyond what was delivered is written.
void ExpectRead(bsb::ChartFile* file, const Bytes& content, int64_t offset, uint32_t count) {
    Bytes buffer(count + 8, 0x5A);
    ASSERT_TRUE(bsb::SeekChartFile(file, static_cast<int32_t>(offset), bsb::kFromStart));
    uint32_t delivered = 0xFFFFFFFF;
    ASSERT_TRUE(bsb::ReadChartFile(file, buffer.data(), count, &delivered));
    int64_t available = std::max<int64_t>(0, static_cast<int64_t>(content.size()) - offset);
    uint32_t expected = static_cast<uint32_t>(std::min<int64_t>(count, available));
    ASSERT_EQ(delivered, expected) << "offset " << offset << " count " << count;
    if (delivered > 0)
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + delivered, content.begin() + offset))
            << "offset " << offset << " count " << count;
    ASSERT_TRUE(std::all_of(buffer.begin() + delivered, buffer.end(), [](uint8_t b) { return b == 0x5A; }))
        << "offset " << offset << " count " << count;
}

Bytes RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(ChartFileReads, DeliverExactlyTheFileBytes) {
    const uint32_t window = bsb::kCacheBlockSize;
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{window}, size_t{window + 1},
                        size_t{7 * window + 1234}}) {
        Bytes content = RandomBytes(size, static_cast<unsigned>(size));
        OpenedChart opened(dir.Write("data.bin", content));
        ASSERT_TRUE(opened.open);
        bsb::ChartFile* file = opened.file.get();
        const int64_t n = static_cast<int64_t>(size);
        const std::pair<int64_t, uint32_t> reads[] = {
            {0, 1}, {0, 4}, {0, window}, {window - 1, 2}, {window - 3, 10}, {window, window},
            {n - 4, 4}, {n - 1, 10}, {n, 5}, {n + 100, 5}, {1, window - 1}, {2 * window - 2, 4},
            {100, 3 * window + 5}, {0, static_cast<uint32_t>(n) + 1000}, {n / 2, window * 4},
            {n - window, window}, {n - window - 1, 3}, {0, 0},
        };
        for (const auto& [offset, count] : reads)
            if (offset >= 0) ExpectRead(file, content, offset, count);

        std::mt19937 random(42);
        for (int i = 0; i < 3000; ++i) {
            int64_t offset = static_cast<int64_t>(random() % (size + 64));
            uint32_t count;
            switch (random() % 4) {
            case 0: count = 1 + random() % 8; break;
            case 1: count = 1 + random() % 300; break;
            case 2: count = window - 8 + random() % 16; break;
            default: count = static_cast<uint32_t>(random() % (3 * window)); break;
            }
            ExpectRead(file, content, offset, count);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(ChartFileReads, ContinueFromWhereTheLastReadEnded) {
    const uint32_t window = bsb::kCacheBlockSize;
    TempDir dir;
    Bytes content = RandomBytes(5 * window + 17, 7);
    OpenedChart opened(dir.Write("data.bin", content));
    bsb::ChartFile* file = opened.file.get();
    ASSERT_TRUE(bsb::SeekChartFile(file, 0, bsb::kFromStart));
    Bytes all;
    std::mt19937 random(5);
    while (all.size() < content.size() + 10) {
        uint32_t count = 1 + random() % (window + 500);
        Bytes part(count);
        uint32_t delivered = 0;
        ASSERT_TRUE(bsb::ReadChartFile(file, part.data(), count, &delivered));
        part.resize(delivered);
        all.insert(all.end(), part.begin(), part.end());
        if (delivered < count) break;
    }
    EXPECT_EQ(all, content);
}

TEST(ChartFileReads, PositionFromTheEndAndRefuseBeforeTheStart) {
    TempDir dir;
    Bytes content = RandomBytes(10000, 9);
    OpenedChart opened(dir.Write("data.bin", content));
    bsb::ChartFile* file = opened.file.get();
    uint8_t word[4];
    uint32_t delivered = 0;
    ASSERT_TRUE(bsb::SeekChartFile(file, -4, bsb::kFromEnd));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_EQ(delivered, 4u);
    EXPECT_TRUE(std::equal(word, word + 4, content.end() - 4));
    ASSERT_TRUE(bsb::SeekChartFile(file, -10000, bsb::kFromEnd));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_TRUE(std::equal(word, word + 4, content.begin()));
    EXPECT_FALSE(bsb::SeekChartFile(file, -10001, bsb::kFromEnd));
    EXPECT_FALSE(bsb::SeekChartFile(file, -1, bsb::kFromStart));
    EXPECT_FALSE(bsb::SeekChartFile(file, INT32_MIN, bsb::kFromStart));
    ASSERT_TRUE(bsb::SeekChartFile(file, INT32_MAX, bsb::kFromStart));
    ASSERT_TRUE(bsb::ReadChartFile(file, word, 4, &delivered));
    EXPECT_EQ(delivered, 0u);
}

}  // namespace
