// GetBsbBorder in its world form, called as a host would.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

struct Extent {
    double centerX = -999.0, centerY = -999.0, left = -999.0, top = -999.0, right = -999.0,
           bottom = -999.0;
    int skewed = -7;
};

class WorldExtentTest : public ::testing::Test {
protected:
    // A 9 × 5 chart with the given skew, CPH and extra header lines.
    std::string Chart(const std::string& skew, std::optional<std::string> cph,
                      const std::vector<std::string>& lines) {
        chartwriter::HeaderOptions options;
        options.width = 9;
        options.height = 5;
        options.skew = skew;
        options.cph = cph;
        options.extraLines = lines;
        auto picture = chartwriter::MakePicture(9, 5, [](int x, int y) { return (x + y) % 4; });
        auto bytes = chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, 4);
        return dir_.Write("chart" + std::to_string(++charts_) + ".kap", bytes);
    }

    int Query(const std::string& path, Extent* e) {
        auto wide = testsupport::Utf16Path(path);
        return GetBsbBorder(wide.data(), &e->centerX, &e->centerY, &e->left, &e->top, &e->right,
                            &e->bottom, e->skewed);
    }

    testsupport::TempDir dir_;
    testsupport::MessageLog log_;
    int charts_ = 0;
};

const std::vector<std::string> kUprightLines = {"PWX/1,0.0,0.125,0.0", "PWY/1,1.0,0.0,-0.125"};

TEST_F(WorldExtentTest, UprightChartSpansItsCornerPixels) {
    struct Case {
        const char* cph;
        double left, right, centerX;
    } cases[] = {{"0.0", 0.0, 1.0, 0.5}, {"360.0", -360.0, -359.0, -359.5}};
    for (const Case& c : cases) {
        Extent e;
        ASSERT_EQ(Query(Chart("0.0", std::string(c.cph), kUprightLines), &e), 1) << c.cph;
        EXPECT_EQ(e.left, c.left) << c.cph;
        EXPECT_EQ(e.right, c.right) << c.cph;
        EXPECT_EQ(e.centerX, c.centerX) << c.cph;
        EXPECT_EQ(e.top, 1.0) << c.cph;
        EXPECT_EQ(e.bottom, 0.5) << c.cph;
        EXPECT_EQ(e.centerY, 0.75) << c.cph;
        EXPECT_EQ(e.skewed, 0) << c.cph;
    }
    EXPECT_TRUE(log_.messages.empty());
}

// Pixel (x, y) of this chart lies at world (10 + x/4 − y/8, 50 + x/8 − y/4):
// the corners are top-left (10, 50), top-right (12, 51), bottom-right
// (11.5, 50) and bottom-left (9.5, 49), so the northernmost corner is the
// top-right one and the westernmost the bottom-left.
const std::vector<std::string> kRotatedLines = {"PWX/1,10.0,0.25,-0.125", "PWY/1,50.0,0.125,-0.25"};

TEST_F(WorldExtentTest, SkewedChartGivesTheBoundingRectangleOfItsCorners) {
    struct Case {
        const char* skew;
        const char* cph;
        double left, top, right, bottom;
        int skewed;
    } cases[] = {
        {"30.0", "0.0", 9.5, 51.0, 12.0, 49.0, 1},
        {"30.0", "0.5", 9.0, 51.0, 11.5, 49.0, 1},
        // Not skewed: the top-left and bottom-right pixels, whatever the others.
        {"0.01", "0.0", 10.0, 50.0, 11.5, 50.0, 0},
    };
    for (const Case& c : cases) {
        Extent e;
        ASSERT_EQ(Query(Chart(c.skew, std::string(c.cph), kRotatedLines), &e), 1) << c.skew;
        EXPECT_EQ(e.left, c.left) << c.skew << " " << c.cph;
        EXPECT_EQ(e.top, c.top) << c.skew << " " << c.cph;
        EXPECT_EQ(e.right, c.right) << c.skew << " " << c.cph;
        EXPECT_EQ(e.bottom, c.bottom) << c.skew << " " << c.cph;
        EXPECT_EQ(e.centerX, (c.left + c.right) * 0.5) << c.skew << " " << c.cph;
        EXPECT_EQ(e.centerY, (c.top + c.bottom) * 0.5) << c.skew << " " << c.cph;
        EXPECT_EQ(e.skewed, c.skewed) << c.skew;
    }
    EXPECT_TRUE(log_.messages.empty());
}

TEST_F(WorldExtentTest, MissingLatitudeRecordFailsAfterTheLongitudes) {
    Extent e;
    EXPECT_EQ(Query(Chart("0.0", std::string("360.0"), {"PWX/1,0.0,0.125,0.0"}), &e), 0);
    EXPECT_EQ(log_.messages, std::vector<std::string>{"Error reading geographic parameters."});
    EXPECT_EQ(e.left, -360.0);
    EXPECT_EQ(e.right, -359.0);
    EXPECT_EQ(e.centerX, -359.5);
    EXPECT_EQ(e.top, -999.0);
    EXPECT_EQ(e.bottom, -999.0);
    EXPECT_EQ(e.centerY, -999.0);
    EXPECT_EQ(e.skewed, -7);
}

TEST_F(WorldExtentTest, MissingRecordsFailBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        std::optional<std::string> cph;
        std::vector<std::string> lines;
        const char* message;
    } cases[] = {
        {"no CPH/", std::nullopt, kUprightLines, "Error reading CPH record."},
        {"no PWX/", std::string("0.0"), {"PWY/1,1.0,0.0,-0.125"}, "Error reading geographic parameters."},
    };
    for (const Case& c : cases) {
        log_.Clear();
        Extent e;
        EXPECT_EQ(Query(Chart("0.0", c.cph, c.lines), &e), 0) << c.name;
        EXPECT_EQ(log_.Snapshot(), std::vector<std::string>{c.message}) << c.name;
        for (double value : {e.centerX, e.centerY, e.left, e.top, e.right, e.bottom})
            EXPECT_EQ(value, -999.0) << c.name;
        EXPECT_EQ(e.skewed, -7) << c.name;
    }
}

}  // namespace
