// A host of the shared library: writes charts at 1, 4 and 8 bits per pixel,
// cuts a window from each with GetWindowBmp and saves it behind a BMP file
// header, with a list of what an image reader must see in expected.txt.
//
// Usage: write_window_bmp <directory>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

const int kWidth = 45;
const int kHeight = 9;
const RECT kWindow = {9, 2, 29, 6};  // 21 × 5, left edge inside a byte below 8 bits

const std::vector<std::array<int, 4>> kRgb = {
    {0, 10, 20, 30}, {1, 100, 50, 25}, {2, 0, 127, 0}, {3, 127, 0, 90}, {7, 64, 64, 1},
    {15, 3, 2, 1},   {100, 5, 6, 7},   {127, 120, 110, 100}};

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool WriteWindow(const std::string& directory, int compressionType, int bpp, std::ofstream& list) {
    chartwriter::Picture picture =
        chartwriter::MakePicture(kWidth, kHeight, [compressionType](int x, int y) {
            return static_cast<uint8_t>((x / 3 + 2 * y) % (1 << compressionType));
        });
    chartwriter::HeaderOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.rgb = kRgb;
    std::string chartPath = directory + "/chart_" + std::to_string(bpp) + ".kap";
    if (!chartwriter::WriteFileBytes(
            chartPath, chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture,
                                               compressionType)))
        return false;

    void* heap = CreateChartHeap(0);
    std::vector<unsigned short> path = testsupport::Utf16Path(chartPath);
    char* bitmap = GetWindowBmp(path.data(), heap, kWindow);
    if (!bitmap) {
        DestroyChartHeap(heap);
        return false;
    }
    uint32_t tableBytes = 4u << bpp;
    uint32_t imageSize = testsupport::Le32(bitmap + 20);
    std::vector<uint8_t> file = {'B', 'M'};
    PutLe(file, 14 + 40 + tableBytes + imageSize, 4);
    PutLe(file, 0, 2);
    PutLe(file, 0, 2);
    PutLe(file, 14 + 40 + tableBytes, 4);
    file.insert(file.end(), bitmap, bitmap + 40 + tableBytes + imageSize);
    FreeChartBlock(heap, bitmap);
    DestroyChartHeap(heap);
    std::string name = "window_" + std::to_string(bpp) + ".bmp";
    if (!chartwriter::WriteFileBytes(directory + "/" + name, file)) return false;

    int w = kWindow.right - kWindow.left + 1, h = kWindow.bottom - kWindow.top + 1;
    list << "bmp " << name << " " << w << " " << h << " " << bpp << "\n";
    for (const auto& record : kRgb) {
        if (record[0] >= (1 << bpp)) continue;
        list << "palette " << record[0] << " " << (2 * record[1]) % 256 << " "
             << (2 * record[2]) % 256 << " " << (2 * record[3]) % 256 << "\n";
    }
    // The window starts at the first pixel of the byte holding its left
    // column; pixels of a final partial byte stay 0.
    int perByte = 8 / bpp;
    int first = kWindow.left / perByte * perByte;
    int copied = bpp * w / 8 * perByte;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            list << "pixel " << x << " " << y << " "
                 << (x < copied ? int{picture.at(first + x, kWindow.top + y)} : 0) << "\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_window_bmp <directory>\n");
        return 2;
    }
    std::string directory = argv[1];
    std::ofstream list(directory + "/expected.txt");
    const int types[][2] = {{1, 1}, {3, 4}, {7, 8}};
    for (const auto& type : types) {
        if (!WriteWindow(directory, type[0], type[1], list)) {
            std::fprintf(stderr, "no window from the chart of compression type %d\n", type[0]);
            return 1;
        }
    }
    list.close();
    return list ? 0 : 1;
}
