// A host outside Windows with a RECT of its own: with BSBCHART_HOST_RECT
// defined, bsbchart.h takes the host's struct, and the calls link and work.
#include <stdint.h>

struct RECT {
    int32_t left, top, right, bottom;
};

#define BSBCHART_HOST_RECT
#include "bsbchart.h"
#include "bsbchart_host.h"

#include <gtest/gtest.h>

#include "chart_writer.h"
#include "test_support.h"

namespace {

TEST(HostRect, TheHostsOwnRectReachesTheLibrary) {
    testsupport::TempDir dir;
    chartwriter::HeaderOptions options;
    options.width = 24;
    options.height = 16;
    const chartwriter::Picture picture = chartwriter::MakePicture(24, 16, [](int x, int) { return uint8_t(1 + x / 4 % 3); });
    const std::string path = dir.Write("chart.kap", chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, 4));
    const std::vector<unsigned short> wide = testsupport::Utf16Path(path);

    RECT extent = {-1, -1, -1, -1};
    int skewed = -1;
    ASSERT_EQ(GetBsbBorder(wide.data(), &extent, skewed), 1);
    EXPECT_EQ((std::vector<int32_t>{extent.left, extent.top, extent.right, extent.bottom}),
              (std::vector<int32_t>{0, 0, 23, 15}));
    testsupport::HostHeap heap;
    char* bitmap = GetWindowBmp(wide.data(), heap.get(), RECT{2, 3, 9, 12});
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(testsupport::LeI32(bitmap + 4), 8);
    EXPECT_EQ(testsupport::LeI32(bitmap + 8), -10);
    FreeChartBlock(heap.get(), bitmap);
}

}  // namespace
