// A minimal host of the installed bsbchart library: asks a chart for its
// pixel and world extent, cuts a window of each kind and frees them.
//   host CHART
#include <bsbchart.h>
#include <bsbchart_host.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The library takes UTF-16 paths; this sketch converts ASCII and two-byte
// UTF-8 only (the bsbchart command handles every character).
static std::vector<unsigned short> Utf16(const std::string& text) {
    std::vector<unsigned short> out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xE0) == 0xC0 && i + 1 < text.size())
            out.push_back(static_cast<unsigned short>(((c & 0x1F) << 6) | (text[++i] & 0x3F)));
        else
            out.push_back(c);
    }
    out.push_back(0);
    return out;
}

static int32_t Le32(const char* p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

static void Describe(const char* what, const char* bitmap) {
    // A packed bitmap: BITMAPINFOHEADER (height negative: top row first),
    // colour table, rows.
    std::printf("%s: %d x %d pixels, %d bits per pixel\n", what, Le32(bitmap + 4), -Le32(bitmap + 8),
                bitmap[14] | (bitmap[15] << 8));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: host CHART\n");
        return 2;
    }
    const std::vector<unsigned short> chart = Utf16(argv[1]);
    void* heap = CreateChartHeap(0);
    if (!heap) return 1;
    int status = 1;

    RECT extent;
    int skewed = 0;
    double centreX, centreY, west, north, east, south;
    if (GetBsbBorder(chart.data(), &extent, skewed) &&
        GetBsbBorder(chart.data(), &centreX, &centreY, &west, &north, &east, &south, skewed)) {
        std::printf("pixels %ld,%ld,%ld,%ld  skewed %d\n", static_cast<long>(extent.left),
                    static_cast<long>(extent.top), static_cast<long>(extent.right),
                    static_cast<long>(extent.bottom), skewed);
        std::printf("world %.9f,%.9f,%.9f,%.9f  centre %.9f,%.9f\n", west, north, east, south, centreX, centreY);

        // The top-left quarter in pixels; the middle of the world rectangle.
        RECT quarter = {0, 0, extent.right / 2, extent.bottom / 2};
        char* pixels = GetWindowBmp(chart.data(), heap, quarter);
        double halfWidth = (east - west) / 8, halfHeight = (north - south) / 8;
        char* world = GetWindowBmp(chart.data(), heap, centreX - halfWidth, centreY + halfHeight,
                                   centreX + halfWidth, centreY - halfHeight);
        if (pixels && world) {
            Describe("pixel window", pixels);
            Describe("world window", world);
            status = 0;
        }
        if (pixels) FreeChartBlock(heap, pixels);
        if (world) FreeChartBlock(heap, world);
    }
    if (CountChartBlocks(heap) != 0) {
        std::fprintf(stderr, "host: %zu blocks left in the heap\n", CountChartBlocks(heap));
        status = 1;
    }
    DestroyChartHeap(heap);
    return status;
}
