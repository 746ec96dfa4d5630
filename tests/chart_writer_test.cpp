// Expected bytes below are worked out by hand from the row and file layout.
#include "chart_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using chartwriter::ChartFaults;
using chartwriter::RowOptions;

struct Span {
    uint8_t colour;
    int length;
};

Bytes Pixels(const std::vector<Span>& runs) {
    Bytes pixels;
    for (const Span& span : runs) pixels.insert(pixels.end(), span.length, span.colour);
    return pixels;
}

Bytes Encode(const std::vector<Span>& runs, uint32_t rowNumber, int d, RowOptions options = {}) {
    Bytes pixels = Pixels(runs);
    return chartwriter::EncodeRow(pixels.data(), static_cast<int>(pixels.size()), rowNumber, d,
                                  options);
}

RowOptions MaxRun(uint32_t length) {
    RowOptions options;
    options.maxRunLength = length;
    return options;
}

RowOptions MinGroups(int groups) {
    RowOptions options;
    options.minGroups = groups;
    return options;
}

struct RowCase {
    const char* what;
    int d;
    uint32_t rowNumber;
    std::vector<Span> runs;
    RowOptions options;
    Bytes expected;
};

const RowCase kRowCases[] = {
    {"three one-byte runs", 4, 5, {{1, 3}, {2, 8}, {5, 2}}, {}, {0x05, 0x0A, 0x17, 0x29, 0x00}},
    {"two-byte run", 4, 1, {{2, 131}}, {}, {0x01, 0x91, 0x02, 0x00}},
    {"first length needing two bytes", 4, 1, {{2, 9}}, {}, {0x01, 0x90, 0x08, 0x00}},
    {"empty row", 4, 1, {}, {}, {0x01, 0x00}},

    {"row 1", 4, 1, {{1, 1}}, {}, {0x01, 0x08, 0x00}},
    {"row 127", 4, 127, {{1, 1}}, {}, {0x7F, 0x08, 0x00}},
    {"row 128", 4, 128, {{1, 1}}, {}, {0x81, 0x00, 0x08, 0x00}},
    {"row 16383", 4, 16383, {{1, 1}}, {}, {0xFF, 0x7F, 0x08, 0x00}},
    {"row 16384", 4, 16384, {{1, 1}}, {}, {0x81, 0x80, 0x00, 0x08, 0x00}},
    {"row 2^21", 4, 1u << 21, {{1, 1}}, {}, {0x81, 0x80, 0x80, 0x00, 0x08, 0x00}},

    {"d7 one-pixel runs", 7, 1, {{1, 1}, {2, 1}, {127, 1}}, {}, {0x01, 0x01, 0x02, 0x7F, 0x00}},
    {"d7 run of 5", 7, 1, {{3, 5}}, {}, {0x01, 0x83, 0x04, 0x00}},
    {"d7 longest two-byte run", 7, 1, {{3, 128}}, {}, {0x01, 0x83, 0x7F, 0x00}},
    {"d7 shortest three-byte run", 7, 1, {{3, 129}}, {}, {0x01, 0x83, 0x81, 0x00, 0x00}},
    {"d7 run of 200", 7, 1, {{3, 200}}, {}, {0x01, 0x83, 0x81, 0x47, 0x00}},

    {"d1 longest one-byte run", 1, 1, {{0, 64}, {1, 1}}, {}, {0x01, 0x3F, 0x40, 0x00}},
    {"d1 mixed runs", 1, 1, {{1, 3}, {0, 65}, {1, 200}}, {},
     {0x01, 0x42, 0x80, 0x40, 0xC1, 0x47, 0x00}},

    // 0x00 would end the row, so these take the two-byte form.
    {"d4 colour 0 single pixel", 4, 1, {{0, 1}, {1, 1}}, {}, {0x01, 0x80, 0x00, 0x08, 0x00}},
    {"d7 colour 0 single pixel", 7, 1, {{0, 1}, {5, 1}}, {}, {0x01, 0x80, 0x00, 0x05, 0x00}},
    {"d4 colour 0 two pixels", 4, 1, {{0, 2}}, {}, {0x01, 0x01, 0x00}},

    {"split into 4+4+2", 4, 1, {{1, 10}}, MaxRun(4), {0x01, 0x0B, 0x0B, 0x09, 0x00}},
    {"runs at the limit kept whole", 4, 1, {{1, 4}, {2, 4}}, MaxRun(4), {0x01, 0x0B, 0x13, 0x00}},
    {"d7 split into 2+2+1", 7, 1, {{3, 5}}, MaxRun(2), {0x01, 0x83, 0x01, 0x83, 0x01, 0x03, 0x00}},

    {"two groups", 4, 1, {{1, 3}}, MinGroups(2), {0x01, 0x88, 0x02, 0x00}},
    {"three groups", 4, 1, {{1, 3}}, MinGroups(3), {0x01, 0x88, 0x80, 0x02, 0x00}},
    {"three groups, long run", 4, 1, {{2, 131}}, MinGroups(3), {0x01, 0x90, 0x81, 0x02, 0x00}},
    {"two groups, run already two bytes", 4, 1, {{2, 131}}, MinGroups(2), {0x01, 0x91, 0x02, 0x00}},
    {"d7 two groups", 7, 1, {{5, 1}}, MinGroups(2), {0x01, 0x85, 0x00, 0x00}},
};

TEST(EncodeRow, MatchesHandEncodedBytes) {
    for (const RowCase& c : kRowCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Encode(c.runs, c.rowNumber, c.d, c.options), c.expected);
    }
}

TEST(EncodeRow, RejectsWhatCannotBeEncoded) {
    struct Case {
        const char* what;
        int d;
        std::vector<Span> runs;
        RowOptions options;
    };
    const Case cases[] = {
        {"colour 16 at d4", 4, {{1, 1}, {16, 1}}, {}},
        {"colour 2 at d1", 1, {{2, 1}}, {}},
        {"colour 128 at d7", 7, {{128, 1}}, {}},
        {"compression 0", 0, {{1, 1}}, {}},
        {"compression 8", 8, {{1, 1}}, {}},
        {"no length groups", 4, {{1, 1}}, MinGroups(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(Encode(c.runs, 1, c.d, c.options).empty());
    }
    uint8_t pixel = 1;
    EXPECT_TRUE(chartwriter::EncodeRow(&pixel, -1, 1, 4).empty());
}

// Header block "AB" NUL 04, rows of 3 and 2 bytes.
const Bytes kHeader = {'A', 'B', 0x00, 0x04};
const std::vector<Bytes> kRows = {{0x01, 0x08, 0x00}, {0x02, 0x00}};

TEST(AssembleChart, LaysOutHeaderRowsIndexAndTrailer) {
    const Bytes expected = {'A', 'B', 0x00, 0x04,            // header, 4 bytes
                            0x01, 0x08, 0x00, 0x02, 0x00,    // rows at 4 and 7
                            0, 0, 0, 4, 0, 0, 0, 7,          // index table at 9
                            0, 0, 0, 9};                     // trailer
    EXPECT_EQ(chartwriter::AssembleChart(kHeader, kRows), expected);
}

TEST(AssembleChart, WritesEachFault) {
    struct Case {
        const char* what;
        ChartFaults faults;
        Bytes expected;
    };
    auto faults = [](auto set) {
        ChartFaults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"header NUL omitted",
         faults([](ChartFaults& f) { f.omitHeaderNul = true; }),
         {'A', 'B', 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0, 0, 0, 3, 0, 0, 0, 6, 0, 0, 0, 8}},
        {"trailer replaced",
         faults([](ChartFaults& f) { f.trailer = 0xDEADBEEF; }),
         {'A', 'B', 0x00, 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0, 0, 0, 4, 0, 0, 0, 7,
          0xDE, 0xAD, 0xBE, 0xEF}},
        {"index entries swapped",
         faults([](ChartFaults& f) { f.swapIndexEntries = std::make_pair(2, 1); }),
         {'A', 'B', 0x00, 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0, 0, 0, 7, 0, 0, 0, 4, 0, 0, 0, 9}},
        {"truncated",
         faults([](ChartFaults& f) { f.truncateTo = 10; }),
         {'A', 'B', 0x00, 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0}},
        {"truncation past the end does nothing",
         faults([](ChartFaults& f) { f.truncateTo = 100; }),
         {'A', 'B', 0x00, 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0, 9}},
        {"gap before the index",
         faults([](ChartFaults& f) { f.gapAfterRows = 2; }),
         {'A', 'B', 0x00, 0x04, 0x01, 0x08, 0x00, 0x02, 0x00, 0xA5, 0xA5, 0, 0, 0, 4, 0, 0, 0, 7,
          0, 0, 0, 11}},
        {"swap out of range", faults([](ChartFaults& f) { f.swapIndexEntries = std::make_pair(1, 3); }),
         {}},
        {"swap of row 0", faults([](ChartFaults& f) { f.swapIndexEntries = std::make_pair(0, 1); }),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(chartwriter::AssembleChart(kHeader, kRows, c.faults), c.expected);
    }
}

TEST(BuildChart, NumbersRowsFromOneAfterTheHeaderBlock) {
    auto picture = chartwriter::MakePicture(3, 2, [](int x, int y) -> uint8_t {
        return y == 0 ? (x < 2 ? 1 : 2) : 3;
    });
    const Bytes expected = {'X', 0x00, 0x04,        // header
                            0x01, 0x09, 0x10, 0x00,  // row 1 at 3: colour 1 x2, colour 2 x1
                            0x02, 0x1A, 0x00,        // row 2 at 7: colour 3 x3
                            0, 0, 0, 3, 0, 0, 0, 7,  // index at 10
                            0, 0, 0, 10};
    EXPECT_EQ(chartwriter::BuildChart("X", picture, 4), expected);
}

TEST(BuildChart, PassesFaultsAndRowOptionsOn) {
    auto picture = chartwriter::MakePicture(1, 1, [](int, int) -> uint8_t { return 1; });
    ChartFaults faults;
    faults.omitHeaderNul = true;
    const Bytes expected = {'X', 0x04, 0x01, 0x88, 0x00, 0x00, 0, 0, 0, 2, 0, 0, 0, 6};
    EXPECT_EQ(chartwriter::BuildChart("X", picture, 4, faults, MinGroups(2)), expected);
}

TEST(BuildChart, FailsWhenARowCannotBeEncoded) {
    auto picture = chartwriter::MakePicture(2, 3, [](int x, int y) -> uint8_t {
        return x == 1 && y == 2 ? 2 : 1;
    });
    EXPECT_FALSE(chartwriter::BuildChart("X", picture, 2).empty());
    EXPECT_TRUE(chartwriter::BuildChart("X", picture, 1).empty());
}

TEST(MakeHeaderText, WritesValuesVerbatimWithCrLf) {
    chartwriter::HeaderOptions options;
    options.width = 100;
    options.height = 50;
    options.skew = "12.50";
    options.rgb = {{1, 255, 255, 255}, {2, 0, 10, 200}};
    options.extraLines = {"PWX/1,0.0,0.125,0.0"};
    EXPECT_EQ(chartwriter::MakeHeaderText(options),
              "VER/3.0\r\n"
              "BSB/NA=TEST CHART,NU=1,RA=100,50,DU=254\r\n"
              "KNP/SC=50000,GD=WGS84,PR=MERCATOR,PP=0.0,PI=UNKNOWN,SP=UNKNOWN,SK=12.50,TA=90.0\r\n"
              "CPH/0.0\r\n"
              "RGB/1,255,255,255\r\n"
              "RGB/2,0,10,200\r\n"
              "PWX/1,0.0,0.125,0.0\r\n");

    options.cph.reset();
    EXPECT_EQ(chartwriter::MakeHeaderText(options).find("CPH/"), std::string::npos);
}

TEST(WriteFileBytes, WritesExactBytesOrReportsFailure) {
    testsupport::TempDir dir;
    const Bytes bytes = {0x00, 0x0A, 0x0D, 0xFF};
    std::string path = dir.PathOf("chart.kap");
    ASSERT_TRUE(chartwriter::WriteFileBytes(path, bytes));
    std::ifstream file(path, std::ios::binary);
    Bytes read((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, bytes);

    EXPECT_FALSE(chartwriter::WriteFileBytes(dir.PathOf("missing/chart.kap"), bytes));
}

}  // namespace
