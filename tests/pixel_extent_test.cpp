// GetBsbBorder, rectangle form, on chart files written by the chart writer.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dirent.h>
#endif

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bsbchart.h"
#include "chart_writer.h"
#include "platform/platform.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using chartwriter::AssembleChart;
using chartwriter::BuildChart;
using chartwriter::ChartFaults;
using chartwriter::GetBe32;
using chartwriter::HeaderOptions;
using chartwriter::MakeHeaderBlock;
using chartwriter::MakeHeaderText;
using chartwriter::MakePicture;
using chartwriter::PutBe32;
using testsupport::MessageLog;
using testsupport::TempDir;
using testsupport::Utf16Path;
using Bytes = std::vector<uint8_t>;
using Messages = std::vector<std::string>;

const char kHeaderError[] = "Error reading header.";
const char kSizeError[] = "Error reading the size of the image.";
const char kSkewError[] = "Error reading skew angle of the image.";

std::string HeaderWith(int width, int height, const std::string& skew) {
    HeaderOptions options;
    options.width = width;
    options.height = height;
    options.skew = skew;
    return MakeHeaderText(options);
}

// A real chart of the given size: every row encoded, index table, trailer.
Bytes Chart(int width, int height, const std::string& skew) {
    auto picture = MakePicture(width, height, [](int x, int y) { return uint8_t(1 + (x / 7 + y) % 4); });
    return BuildChart(HeaderWith(width, height, skew), picture, 4);
}

Bytes ChartWithHeaderText(const std::string& text, const ChartFaults& faults = {}) {
    auto picture = MakePicture(8, 2, [](int x, int) { return uint8_t(1 + x % 2); });
    return BuildChart(text, picture, 4, faults);
}

struct Result {
    int done;
    RECT extent;
    int skewed;
};

const RECT kUntouched = {-11, -22, -33, -44};
const int kUntouchedSkew = -55;

Result Query(const std::string& path) {
    Result result{-1, kUntouched, kUntouchedSkew};
    result.done = GetBsbBorder(Utf16Path(path).data(), &result.extent, result.skewed);
    return result;
}

void ExpectUntouched(const Result& result) {
    EXPECT_EQ(result.extent.left, kUntouched.left);
    EXPECT_EQ(result.extent.top, kUntouched.top);
    EXPECT_EQ(result.extent.right, kUntouched.right);
    EXPECT_EQ(result.extent.bottom, kUntouched.bottom);
    EXPECT_EQ(result.skewed, kUntouchedSkew);
}

// The call closed the chart: it opens again at once.
void ExpectClosed(const std::string& path) {
    EXPECT_TRUE(testsupport::ChartOpensAgain(path)) << path << " was left open";
}

// Open file descriptors of the process, where the system lists them.
size_t OpenDescriptors() {
    size_t count = 0;
#if !defined(_WIN32)
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
#endif
    return count;
}

TEST(PixelExtent, GivesTheRectangleOfA980By760Chart) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Chart(980, 760, "0.0"));
    MessageLog log;
    Result result = Query(path);
    EXPECT_EQ(result.done, 1);
    EXPECT_EQ(result.extent.left, 0);
    EXPECT_EQ(result.extent.top, 0);
    EXPECT_EQ(result.extent.right, 979);
    EXPECT_EQ(result.extent.bottom, 759);
    EXPECT_EQ(result.skewed, 0);
    EXPECT_TRUE(log.messages.empty());
    ExpectClosed(path);
    // Calls keep no state: the same answer again.
    Result again = Query(path);
    EXPECT_EQ(again.done, 1);
    EXPECT_EQ(again.extent.right, 979);
    EXPECT_EQ(again.extent.bottom, 759);
}

TEST(PixelExtent, FlagsChartsSkewedByMoreThanOneHundredthOfADegree) {
    struct Case {
        const char* skew;
        int skewed;
    };
    const Case cases[] = {
        {"0.0", 0},     {"12.5", 1},   {"0.005", 0},  {"-5.0", 0},      {"0.01", 0},
        {"0.0100001", 1}, {"-12.25", 0}, {"1.5e+1", 1}, {"1.5e-1", 1},  {"1.5e-3", 0},
        {"359.9", 1},   {"", 0},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string path = dir.Write("chart.kap", Chart(40, 30, c.skew));
        MessageLog log;
        Result result = Query(path);
        EXPECT_EQ(result.done, 1) << c.skew;
        EXPECT_EQ(result.skewed, c.skewed) << c.skew;
        EXPECT_EQ(result.extent.right, 39) << c.skew;
        EXPECT_EQ(result.extent.bottom, 29) << c.skew;
        EXPECT_TRUE(log.messages.empty()) << c.skew;
        ExpectClosed(path);
    }
}

TEST(PixelExtent, ReportsMissingOrBadRecords) {
    struct Case {
        const char* name;
        std::string text;
        Messages messages;
    };
    const Case cases[] = {
        {"no RA=", "VER/3.0\r\nBSB/NA=X,NU=1,DU=254\r\nKNP/SC=5000,SK=0.0,TA=90\r\n", {kSizeError}},
        {"no SK=", "VER/3.0\r\nBSB/NA=X,RA=8,2,DU=254\r\nKNP/SC=5000,TA=90\r\n", {kSkewError}},
        {"neither", "VER/3.0\r\n", {kSizeError}},
        {"width 0", HeaderWith(0, 760, "0.0"), {kSizeError}},
        {"height 0", HeaderWith(980, 0, "0.0"), {kSizeError}},
        {"negative width", HeaderWith(-3, 760, "0.0"), {kSizeError}},
        // Over-long skew field: the one silent failure.
        {"skew of 20 characters", HeaderWith(980, 760, "12.50000000000000000"), {}},
        {"skew without delimiter", "RA=8,2,\r\nSK=0.0 TA=90.0 PP=0.0 GD=WGS84", {}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string path = dir.Write("chart.kap", ChartWithHeaderText(c.text));
        MessageLog log;
        Result result = Query(path);
        EXPECT_EQ(result.done, 0) << c.name;
        EXPECT_EQ(log.messages, c.messages) << c.name;
        ExpectUntouched(result);
        ExpectClosed(path);
    }
}

TEST(PixelExtent, ReportsAFileThatCannotBeOpened) {
    TempDir dir;
    for (const std::string& name : {std::string("missing.kap"), std::string("\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.kap")}) {
        std::string path = dir.PathOf(name);
        MessageLog log;
        Result result = Query(path);
        EXPECT_EQ(result.done, 0);
        EXPECT_EQ(log.messages, Messages{"Cannot open file: " + path + "."});
        ExpectUntouched(result);
    }
}

TEST(PixelExtent, ReportsShortOrBrokenFiles) {
    Bytes good = Chart(40, 30, "0.0");
    uint32_t table = GetBe32(good, good.size() - 4);
    auto withHeaderLength = [&](uint32_t length) {
        Bytes bytes = good;
        PutBe32(bytes, table, length);
        return bytes;
    };
    auto withTrailer = [&](uint32_t trailer) {
        Bytes bytes = good;
        PutBe32(bytes, bytes.size() - 4, trailer);
        return bytes;
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"empty file", {}},
        {"three bytes", {0x00, 0x00, 0x10}},
        {"four zero bytes", {0, 0, 0, 0}},
        {"trailer past the end", withTrailer(static_cast<uint32_t>(good.size()))},
        {"trailer at 2^31", withTrailer(0x80000000u)},
        {"trailer 0", withTrailer(0)},  // the header's first word is a length past the end
        {"header length 0", withHeaderLength(0)},
        {"header past the end", withHeaderLength(static_cast<uint32_t>(good.size() + 1))},
        {"header length 2^31", withHeaderLength(0x80000000u)},
        {"truncated in the header", Bytes(good.begin(), good.begin() + 60)},
        {"truncated in the rows", Bytes(good.begin(), good.begin() + table - 10)},
        {"truncated index", Bytes(good.begin(), good.end() - 2)},
    };
    TempDir dir;
    size_t descriptors = OpenDescriptors();
    for (const auto& c : cases) {
        std::string path = dir.Write("broken.kap", c.bytes);
        MessageLog log;
        Result result = Query(path);
        EXPECT_EQ(result.done, 0) << c.name;
        EXPECT_EQ(log.messages, Messages{kHeaderError}) << c.name;
        ExpectUntouched(result);
        ExpectClosed(path);
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(PixelExtent, ReadsTheHeaderTextOnlyUpToItsEnd) {
    TempDir dir;
    MessageLog log;
    // A NUL ends the text: RA= after it is not found.
    Bytes block = MakeHeaderBlock("VER/3.0\r\n", 4);
    Bytes rest = MakeHeaderBlock(HeaderWith(8, 2, "0.0"), 4);
    block.insert(block.end() - 1, rest.begin(), rest.end() - 1);
    std::string path = dir.Write("early-nul.kap", AssembleChart(block, {{0x01, 0x41, 0x00}, {0x02, 0x41, 0x00}}));
    Result result = Query(path);
    EXPECT_EQ(result.done, 0);
    EXPECT_EQ(log.messages, Messages{kSizeError});
    ExpectUntouched(result);

    // Without a NUL the text ends with the block; the first row's bytes, which
    // would continue the skew field to 05.0, are not read as text.
    log.Clear();
    std::string text = "RA=8,2,\r\nSK=0";
    Bytes noNul(text.begin(), text.end());
    path = dir.Write("nonul.kap", AssembleChart(noNul, {{'5', '.', '0', ',', 0x00}, {0x02, 0x41, 0x00}}));
    result = Query(path);
    EXPECT_EQ(result.done, 1);
    EXPECT_EQ(result.skewed, 0);
    EXPECT_EQ(result.extent.right, 7);
    EXPECT_TRUE(log.messages.empty());

    // A chart written without the NUL still reads.
    path = dir.Write("omitted.kap", ChartWithHeaderText(HeaderWith(8, 2, "12.5"), ChartFaults{true, {}, {}, {}, {}}));
    result = Query(path);
    EXPECT_EQ(result.done, 1);
    EXPECT_EQ(result.skewed, 1);
    EXPECT_TRUE(log.messages.empty());
}

TEST(PixelExtent, FailsOnAChartAlreadyOpen) {
    TempDir dir;
    std::string path = dir.Write("chart.kap", Chart(40, 30, "0.0"));
    auto held = std::make_unique<bsb::ChartFile>();
    ASSERT_TRUE(testsupport::OpenQuietly(held.get(), Utf16Path(path).data()));
    MessageLog log;
    Result result = Query(path);
    EXPECT_EQ(result.done, 0);
    EXPECT_EQ(log.messages, Messages{"Cannot open file: " + path + "."});
    ExpectUntouched(result);
    bsb::CloseChartFile(held.get());
    log.Clear();
    EXPECT_EQ(Query(path).done, 1);
    EXPECT_TRUE(log.messages.empty());
}

TEST(PixelExtent, RunsOnSeveralChartsAtOnce) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(dir.Write("chart" + std::to_string(i) + ".kap", Chart(10 + i, 20 + i, i % 2 ? "5.0" : "0.0")));
    MessageLog log;
    size_t descriptors = OpenDescriptors();
    std::vector<int> failures(paths.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < paths.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                Result r = Query(paths[t]);
                if (r.done != 1 || r.extent.right != 9 + int(t) || r.extent.bottom != 19 + int(t) ||
                    r.skewed != int(t % 2))
                    ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(paths.size(), 0));
    EXPECT_TRUE(log.Snapshot().empty());
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
