// The chart file's layout: trailer, index table, header block and raster rows.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/call_frame.h"
#include "chart_writer.h"
#include "chartfile/chart_file.h"
#include "platform/platform.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using chartwriter::AssembleChart;
using chartwriter::ChartFaults;
using chartwriter::GetBe32;
using chartwriter::MakeHeaderBlock;
using chartwriter::PutBe32;
using testsupport::HostHeap;
using testsupport::MessageLog;
using testsupport::TempDir;
using testsupport::OpenedChart;
using testsupport::Utf16Path;
using Bytes = std::vector<uint8_t>;
using Messages = std::vector<std::string>;

const char kHeaderError[] = "Error reading header.";
const char kAllocationError[] = "Cannot allocate memory to save header section.";
const char kRowError[] = "Error reading one line image.";
const char kRowTooLong[] = "real line size is bigger than you expected.";

const std::string kHeaderText = "VER/3.0\r\nBSB/RA=4,3,DU=254\r\nKNP/SK=0.0,TA=90\r\n";

// Rows are taken as given: their bytes need not decode, only be told apart.
const std::vector<Bytes> kRows = {
    {0x01, 0x11, 0x00},
    {0x02, 0x22, 0x33, 0x44, 0x00},
    {0x03, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0x00},
};

Bytes SampleChart(const ChartFaults& faults = {}) {
    return AssembleChart(MakeHeaderBlock(kHeaderText, 4), kRows, faults);
}

uint32_t HeaderLength() { return static_cast<uint32_t>(MakeHeaderBlock(kHeaderText, 4).size()); }

uint32_t TrailerOf(const Bytes& file) { return GetBe32(file, file.size() - 4); }

// A file of 2^31 + tail.size() bytes with holes, for offsets the library must
// refuse although the file holds them.
#if defined(_WIN32)
std::string WriteLargeSparseFile(const TempDir& dir, const Bytes& head, const Bytes& tail) {
    std::string path = dir.PathOf("large.kap");
    HANDLE file = CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    DWORD ignored = 0;  // where the volume has no sparse files the holes are zeros
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = 0x80000000LL;
    DWORD written = 0;
    bool ok = WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr) &&
              written == head.size() && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
              WriteFile(file, tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr) &&
              written == tail.size();
    CloseHandle(file);
    return ok ? path : "";
}
#else
std::string WriteLargeSparseFile(const TempDir& dir, const Bytes& head, const Bytes& tail) {
    std::string path = dir.PathOf("large.kap");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return "";
    bool ok = pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
              pwrite(fd, tail.data(), tail.size(), 0x80000000LL) == static_cast<ssize_t>(tail.size());
    close(fd);
    return ok ? path : "";
}

#endif

// ---------------------------------------------------------------- trailer and index

TEST(ChartLayout, ReadsTheTrailerAndIndexEntries) {
    TempDir dir;
    Bytes bytes = SampleChart();
    OpenedChart chart(dir.Write("chart.kap", bytes));
    ASSERT_TRUE(chart.open);
    uint32_t trailer = 0;
    ASSERT_TRUE(bsb::ReadTrailer(chart.get(), &trailer));
    EXPECT_EQ(trailer, TrailerOf(bytes));
    for (uint32_t row = 0; row <= kRows.size(); ++row) {
        uint32_t value = 0;
        ASSERT_TRUE(bsb::ReadBigEndian32(chart.get(), trailer + 4 * row, &value)) << row;
        EXPECT_EQ(value, GetBe32(bytes, trailer + 4 * row)) << row;
    }
    uint32_t value = 0x12345678;
    EXPECT_FALSE(bsb::ReadBigEndian32(chart.get(), bytes.size() - 3, &value));  // short
    EXPECT_FALSE(bsb::ReadBigEndian32(chart.get(), bytes.size(), &value));
    EXPECT_FALSE(bsb::ReadBigEndian32(chart.get(), 0x80000000u, &value));
    EXPECT_FALSE(bsb::ReadBigEndian32(chart.get(), 0x100000000ull, &value));
    EXPECT_EQ(value, 0x12345678u);
}

TEST(ChartLayout, FailsOnATrailerOfAFileShorterThanFourBytes) {
    TempDir dir;
    for (const Bytes& bytes : {Bytes{}, Bytes{0, 0, 0}}) {
        OpenedChart chart(dir.Write("short.kap", bytes));
        ASSERT_TRUE(chart.open);
        uint32_t trailer = 77;
        EXPECT_FALSE(bsb::ReadTrailer(chart.get(), &trailer)) << bytes.size();
        EXPECT_EQ(trailer, 77u);
    }
}

TEST(ChartLayout, RefusesOffsetsFromTwoToTheThirtyFirstOnEvenWhereTheFileHasThem) {
    TempDir dir;
    // Trailer and index at 2^31, pointing at a header of 64 bytes.
    Bytes tail(8);
    PutBe32(tail, 0, 64);
    PutBe32(tail, 4, 0x80000000u);
    std::string path = WriteLargeSparseFile(dir, Bytes(64, 'A'), tail);
    ASSERT_FALSE(path.empty());
    OpenedChart chart(path);
    ASSERT_TRUE(chart.open);
    MessageLog log;
    uint32_t trailer = 0;
    ASSERT_TRUE(bsb::ReadTrailer(chart.get(), &trailer));
    EXPECT_EQ(trailer, 0x80000000u);
    uint32_t length = 99;
    EXPECT_FALSE(bsb::ReadHeaderLength(chart.get(), &length, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kHeaderError});
    EXPECT_EQ(length, 99u);
}

// ---------------------------------------------------------------- header length

TEST(HeaderLength, IsTheFirstIndexEntry) {
    TempDir dir;
    Bytes bytes = SampleChart();
    MessageLog log;
    OpenedChart chart(dir.Write("chart.kap", bytes));
    uint32_t length = 0;
    ASSERT_TRUE(bsb::ReadHeaderLength(chart.get(), &length, testsupport::Shown()));
    EXPECT_EQ(length, HeaderLength());
    EXPECT_TRUE(log.messages.empty());

    // A header that is the whole file still has a length within it.
    Bytes whole = bytes;
    PutBe32(whole, TrailerOf(whole), static_cast<uint32_t>(whole.size()));
    OpenedChart wholeChart(dir.Write("whole.kap", whole));
    ASSERT_TRUE(bsb::ReadHeaderLength(wholeChart.get(), &length, testsupport::Shown()));
    EXPECT_EQ(length, whole.size());
}

TEST(HeaderLength, FailsWithTheHeaderMessage) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    Bytes good = SampleChart();
    uint32_t table = TrailerOf(good);
    auto withIndex = [&](uint32_t value) {
        Bytes b = good;
        PutBe32(b, table, value);
        return b;
    };
    auto withTrailer = [&](uint32_t value) {
        return SampleChart(ChartFaults{false, value, {}, {}, {}});
    };
    const Case cases[] = {
        {"empty file", {}},
        {"three bytes", {0, 0, 0}},
        {"length 0", withIndex(0)},
        {"length past the end", withIndex(static_cast<uint32_t>(good.size() + 1))},
        {"length 2^31", withIndex(0x80000000u)},
        {"length 2^32 - 1", withIndex(0xFFFFFFFFu)},
        {"trailer at the end", withTrailer(static_cast<uint32_t>(good.size()))},
        {"trailer short of a word", withTrailer(static_cast<uint32_t>(good.size() - 3))},
        {"trailer 2^31", withTrailer(0x80000000u)},
        {"trailer 2^32 - 1", withTrailer(0xFFFFFFFFu)},
        {"truncated", SampleChart(ChartFaults{false, {}, {}, size_t{20}, {}})},
    };
    TempDir dir;
    for (const auto& c : cases) {
        OpenedChart chart(dir.Write("broken.kap", c.bytes));
        ASSERT_TRUE(chart.open) << c.name;
        MessageLog log;
        uint32_t length = 99;
        EXPECT_FALSE(bsb::ReadHeaderLength(chart.get(), &length, testsupport::Shown())) << c.name;
        EXPECT_EQ(log.messages, Messages{kHeaderError}) << c.name;
        EXPECT_EQ(length, 99u) << c.name;
    }
}

// Through the frame of a window call, whose header block comes from the host's
// heap: a bad length is refused before anything is allocated, so even a tiny
// heap gives the header message, and nothing is left in the heap.
TEST(HeaderLength, IsRefusedBeforeTheHeaderIsAllocated) {
    Bytes good = SampleChart();
    TempDir dir;
    for (uint32_t length : {0u, static_cast<uint32_t>(good.size() + 1), 0x7FFFFFF0u}) {
        Bytes bytes = good;
        PutBe32(bytes, TrailerOf(bytes), length);
        std::string path = dir.Write("chart.kap", bytes);
        for (size_t limit : {size_t{0}, size_t{8}}) {
            HostHeap heap(limit);
            MessageLog log;
            auto frame = std::make_unique<bsb::CallFrame>();
            EXPECT_FALSE(bsb::BeginWindowCall(frame.get(), Utf16Path(path).data(), heap.get()));
            EXPECT_EQ(heap.blocks(), 0u);
            bsb::EndCall(frame.get(), false);
            EXPECT_EQ(log.messages, Messages{kHeaderError}) << length << " limit " << limit;
            EXPECT_EQ(heap.blocks(), 0u);
        }
    }
}

// ---------------------------------------------------------------- header block

TEST(HeaderBlock, HoldsTheFileBytesAndEndsTheTextAtTheNul) {
    TempDir dir;
    Bytes bytes = SampleChart();
    OpenedChart chart(dir.Write("chart.kap", bytes));
    HostHeap heap;
    MessageLog log;
    bsb::HeaderBlock block;
    ASSERT_TRUE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), HeaderLength(), &block, testsupport::Shown()));
    EXPECT_EQ(heap.blocks(), 1u);
    EXPECT_EQ(block.size, HeaderLength());
    EXPECT_EQ(block.textLength, kHeaderText.size());
    EXPECT_EQ(Bytes(block.bytes, block.bytes + block.size), Bytes(bytes.begin(), bytes.begin() + block.size));
    EXPECT_EQ(bsb::CompressionType(block), 4);
    EXPECT_TRUE(log.messages.empty());
    bsb::FreeBlock(heap.get(), block.bytes);
    EXPECT_EQ(heap.blocks(), 0u);
}

TEST(HeaderBlock, TextEndsAtTheBlockEndWithoutANul) {
    TempDir dir;
    Bytes bytes = SampleChart(ChartFaults{true, {}, {}, {}, {}});
    OpenedChart chart(dir.Write("chart.kap", bytes));
    HostHeap heap;
    uint32_t length = 0;
    ASSERT_TRUE(bsb::ReadHeaderLength(chart.get(), &length, testsupport::Shown()));
    ASSERT_EQ(length, HeaderLength() - 1);
    bsb::HeaderBlock block;
    ASSERT_TRUE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), length, &block, testsupport::Shown()));
    EXPECT_EQ(block.textLength, length);
    bsb::FreeBlock(heap.get(), block.bytes);
}

TEST(HeaderBlock, TextEndsAtTheFirstNul) {
    TempDir dir;
    Bytes header = {'R', 'A', '=', '1', 0, 'S', 'K', '=', 0, 3};
    OpenedChart chart(dir.Write("chart.kap", AssembleChart(header, kRows)));
    HostHeap heap;
    bsb::HeaderBlock block;
    ASSERT_TRUE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), header.size(), &block, testsupport::Shown()));
    EXPECT_EQ(block.textLength, 4u);
    EXPECT_EQ(block.size, header.size());
    bsb::FreeBlock(heap.get(), block.bytes);
}

TEST(HeaderBlock, ReportsAnAllocationFailure) {
    TempDir dir;
    OpenedChart chart(dir.Write("chart.kap", SampleChart()));
    {
        HostHeap heap(HeaderLength() - 1);
        MessageLog log;
        bsb::HeaderBlock block;
        EXPECT_FALSE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), HeaderLength(), &block, testsupport::Shown()));
        EXPECT_EQ(log.messages, Messages{kAllocationError});
        EXPECT_EQ(block.bytes, nullptr);
        EXPECT_EQ(heap.blocks(), 0u);
    }
    {
        HostHeap heap(HeaderLength());
        MessageLog log;
        bsb::HeaderBlock block;
        EXPECT_TRUE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), HeaderLength(), &block, testsupport::Shown()));
        EXPECT_TRUE(log.messages.empty());
        bsb::FreeBlock(heap.get(), block.bytes);
    }
}

TEST(HeaderBlock, ReportsAShortReadAndLeavesTheBlockToTheCaller) {
    TempDir dir;
    Bytes bytes = SampleChart();
    OpenedChart chart(dir.Write("chart.kap", bytes));
    HostHeap heap;
    MessageLog log;
    bsb::HeaderBlock block;
    EXPECT_FALSE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), bytes.size() + 1, &block, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kHeaderError});
    ASSERT_EQ(heap.blocks(), 1u);
    bsb::FreeBlock(heap.get(), block.bytes);
    EXPECT_EQ(heap.blocks(), 0u);
}

TEST(HeaderBlock, ReportsAnAllocationFailureThroughTheWindowFrame) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", SampleChart());
    HostHeap heap(HeaderLength() - 1);
    MessageLog log;
    auto frame = std::make_unique<bsb::CallFrame>();
    EXPECT_FALSE(bsb::BeginWindowCall(frame.get(), Utf16Path(path).data(), heap.get()));
    bsb::EndCall(frame.get(), false);
    EXPECT_EQ(log.messages, Messages{kAllocationError});
    EXPECT_EQ(heap.blocks(), 0u);
}

TEST(HeaderBlock, CompressionTypeIsTheSignedByteBeforeRowOne) {
    TempDir dir;
    struct Case {
        uint8_t byte;
        int type;
    };
    const Case cases[] = {{1, 1}, {4, 4}, {7, 7}, {0, 0}, {8, 8}, {0x7F, 127}, {0x80, -128}, {0xFF, -1},
                          {'X', 'X'}};
    for (const auto& c : cases) {
        Bytes header(kHeaderText.begin(), kHeaderText.end());
        header.push_back(c.byte);  // no NUL: whatever lies before row 1 counts
        OpenedChart chart(dir.Write("chart.kap", AssembleChart(header, kRows)));
        HostHeap heap;
        uint32_t length = 0;
        ASSERT_TRUE(bsb::ReadHeaderLength(chart.get(), &length, testsupport::Shown()));
        bsb::HeaderBlock block;
        ASSERT_TRUE(bsb::LoadHeaderBlock(chart.get(), bsb::HeapAllocator(heap.get()), length, &block, testsupport::Shown()));
        EXPECT_EQ(bsb::CompressionType(block), c.type) << int(c.byte);
        bsb::FreeBlock(heap.get(), block.bytes);
    }
}

// ---------------------------------------------------------------- raster rows

TEST(RasterRow, ReadsEachRowBetweenConsecutiveIndexEntries) {
    TempDir dir;
    OpenedChart chart(dir.Write("chart.kap", SampleChart()));
    MessageLog log;
    // Out of order and repeated: nothing is kept between lookups.
    for (uint32_t row : {1u, 2u, 3u, 3u, 1u, 2u}) {
        Bytes buffer(64, 0xEE);
        uint32_t capacity = 64;
        ASSERT_TRUE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, row, testsupport::Shown())) << row;
        const Bytes& expected = kRows[row - 1];
        EXPECT_EQ(capacity, expected.size());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + capacity), expected) << row;
        EXPECT_EQ(buffer[capacity], 0xEE);
    }
    EXPECT_TRUE(log.messages.empty());
}

TEST(RasterRow, LastRowEndsAtTheIndexTable) {
    TempDir dir;
    OpenedChart chart(dir.Write("chart.kap", SampleChart(ChartFaults{false, {}, {}, {}, size_t{5}})));
    Bytes buffer(64);
    uint32_t capacity = 64;
    ASSERT_TRUE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 3, testsupport::Shown()));
    Bytes expected = kRows[2];
    expected.insert(expected.end(), 5, chartwriter::kGapByte);
    EXPECT_EQ(capacity, expected.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + capacity), expected);
}

TEST(RasterRow, CapacityOfExactlyTheRowIsEnough) {
    TempDir dir;
    OpenedChart chart(dir.Write("chart.kap", SampleChart()));
    MessageLog log;
    Bytes buffer(kRows[1].size());
    uint32_t capacity = static_cast<uint32_t>(kRows[1].size());
    EXPECT_TRUE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 2, testsupport::Shown()));
    EXPECT_EQ(buffer, kRows[1]);
    EXPECT_TRUE(log.messages.empty());
}

TEST(RasterRow, LongerThanTheBufferReportsTheNeededLength) {
    TempDir dir;
    OpenedChart chart(dir.Write("chart.kap", SampleChart()));
    MessageLog log;
    Bytes buffer(32, 0xEE);
    uint32_t capacity = static_cast<uint32_t>(kRows[2].size() - 1);
    EXPECT_FALSE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 3, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kRowTooLong});
    EXPECT_EQ(capacity, kRows[2].size());
    EXPECT_EQ(buffer, Bytes(32, 0xEE));  // nothing written
}

TEST(RasterRow, EntriesOutOfOrderGiveAWrappedLength) {
    TempDir dir;
    Bytes bytes = SampleChart(ChartFaults{false, {}, std::make_pair(1, 2), {}, {}});
    uint32_t start = GetBe32(bytes, TrailerOf(bytes));
    uint32_t end = GetBe32(bytes, TrailerOf(bytes) + 4);
    ASSERT_GT(start, end);
    OpenedChart chart(dir.Write("chart.kap", bytes));
    MessageLog log;
    Bytes buffer(64, 0xEE);
    uint32_t capacity = 64;
    EXPECT_FALSE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 1, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kRowTooLong});
    EXPECT_EQ(capacity, end - start);  // unsigned 32-bit difference
    EXPECT_EQ(buffer, Bytes(64, 0xEE));
}

TEST(RasterRow, ShortReadLeavesTheCapacityUnchanged) {
    TempDir dir;
    Bytes bytes = SampleChart();
    PutBe32(bytes, TrailerOf(bytes) + 4, static_cast<uint32_t>(bytes.size() + 100));  // row 2
    OpenedChart chart(dir.Write("chart.kap", bytes));
    MessageLog log;
    Bytes buffer(1 << 12, 0xEE);
    uint32_t capacity = 1 << 12;
    EXPECT_FALSE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 1, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kRowError});
    EXPECT_EQ(capacity, 1u << 12);
}

TEST(RasterRow, IndexLookupsPastTheFileFail) {
    struct Case {
        const char* name;
        Bytes bytes;
        uint32_t row;
    };
    Bytes good = SampleChart();
    const Case cases[] = {
        {"row after the last", good, 4},
        {"far row", good, 0x40000000u},
        {"last row number", good, 0xFFFFFFFFu},
        {"trailer past the end", SampleChart(ChartFaults{false, static_cast<uint32_t>(good.size()), {}, {}, {}}), 1},
        {"trailer 2^31", SampleChart(ChartFaults{false, 0x80000000u, {}, {}, {}}), 1},
        {"trailer 2^32 - 1", SampleChart(ChartFaults{false, 0xFFFFFFFFu, {}, {}, {}}), 1},
        {"three bytes", {0, 0, 0}, 1},
    };
    TempDir dir;
    for (const auto& c : cases) {
        OpenedChart chart(dir.Write("chart.kap", c.bytes));
        MessageLog log;
        Bytes buffer(64, 0xEE);
        uint32_t capacity = 64;
        EXPECT_FALSE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, c.row, testsupport::Shown())) << c.name;
        EXPECT_EQ(log.messages, Messages{kRowError}) << c.name;
        EXPECT_EQ(capacity, 64u) << c.name;
        EXPECT_EQ(buffer, Bytes(64, 0xEE)) << c.name;
    }
}

TEST(RasterRow, RefusesARowStartingFromTwoToTheThirtyFirst) {
    TempDir dir;
    // A small chart whose one row lies at 2^31 in a file large enough to hold it.
    Bytes head = MakeHeaderBlock(kHeaderText, 4);
    uint32_t table = static_cast<uint32_t>(head.size());
    head.resize(table + 12);
    PutBe32(head, table, table);             // header length
    PutBe32(head, table + 4, 0x80000000u);   // row 2 starts at 2^31
    PutBe32(head, table + 8, 0x80000004u);   // and ends 4 bytes later
    Bytes tail = {0x02, 0x11, 0x00, 0x00, 0, 0, 0, 0};
    PutBe32(tail, 4, table);                 // trailer
    std::string path = WriteLargeSparseFile(dir, head, tail);
    ASSERT_FALSE(path.empty());
    OpenedChart chart(path);
    MessageLog log;
    Bytes buffer(64, 0xEE);
    uint32_t capacity = 64;
    EXPECT_FALSE(bsb::ReadRasterRow(chart.get(), buffer.data(), &capacity, 2, testsupport::Shown()));
    EXPECT_EQ(log.messages, Messages{kRowError});
    EXPECT_EQ(capacity, 64u);
    EXPECT_EQ(buffer, Bytes(64, 0xEE));
}

}  // namespace
