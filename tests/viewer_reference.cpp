// What the library itself says about a chart, for the viewer's browser test
// to hold the page against: positions, palettes, fields and windows, each
// through the C interface.
//
//   viewer_reference CHART info
//   viewer_reference CHART pixel-to-world COLUMN ROW
//   viewer_reference CHART world-to-pixel X Y
//   viewer_reference CHART palette PALETTE FLAGS
//   viewer_reference CHART window LEFT TOP RIGHT BOTTOM PALETTE FLAGS OUT.ppm
//   viewer_reference CHART reduced LEFT TOP RIGHT BOTTOM WIDTH HEIGHT PALETTE FLAGS OUT.ppm
//   viewer_reference CHART reduced-world WEST NORTH EAST SOUTH WIDTH HEIGHT PALETTE FLAGS OUT.ppm
//
// Numbers print as %.17g; windows are written as binary PPM (colours looked
// up in the bitmap's own table). Exit status 1 with the error text on stderr
// when the library refuses.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bsbchart_c.h"

namespace {

int Refused(int32_t status, const bsbchart_error& error) {
    char text[512];
    bsbchart_error_text(&error, nullptr, text, sizeof text);
    std::fprintf(stderr, "viewer_reference: %s (status %d)\n", text, static_cast<int>(status));
    return 1;
}

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int WritePpm(const void* bitmap, const char* path) {
    const auto* b = static_cast<const unsigned char*>(bitmap);
    const uint32_t width = Le32(b + 4);
    const uint32_t height = static_cast<uint32_t>(-static_cast<int32_t>(Le32(b + 8)));
    const int bpp = b[14];
    const size_t stride = (static_cast<size_t>(bpp) * width + 31) / 32 * 4;
    const unsigned char* table = b + 40;
    const unsigned char* pixels = bpp == 24 ? b + 40 : b + 40 + (4u << bpp);
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return 1;
    std::fprintf(file, "P6\n%u %u\n255\n", width, height);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const unsigned char* row = pixels + y * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* bgr;
            if (bpp == 24) {
                bgr = row + 3 * x;
            } else {
                unsigned index = bpp == 8 ? row[x]
                                 : bpp == 4 ? (row[x >> 1] >> ((~x & 1) << 2)) & 15
                                            : (row[x >> 3] >> (7 - (x & 7))) & 1;
                bgr = table + 4 * index;
            }
            rgb[3 * x] = bgr[2];
            rgb[3 * x + 1] = bgr[1];
            rgb[3 * x + 2] = bgr[0];
        }
        std::fwrite(rgb.data(), 1, rgb.size(), file);
    }
    return std::fclose(file) == 0 ? 0 : 1;
}

std::string Json(const char* text) {
    if (!text) return "null";
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\') out += '\\';
        if (static_cast<unsigned char>(*c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", *c);
            out += escape;
        } else {
            out += *c;
        }
    }
    return out + "\"";
}

int Run(bsbchart* chart, const std::vector<std::string>& a) {
    bsbchart_error error{};
    const std::string& what = a[0];
    auto number = [&](size_t i) { return std::strtod(a.at(i).c_str(), nullptr); };
    auto integer = [&](size_t i) { return static_cast<int32_t>(std::strtol(a.at(i).c_str(), nullptr, 10)); };
    if (what == "info") {
        bsbchart_info info{};
        bsbchart_get_info(chart, &info);
        std::printf("{\"width\": %d, \"height\": %d, \"skewed\": %d, \"palettes\": %u, \"fields\": [",
                    info.width, info.height, info.skewed, info.palettes);
        for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field)
            std::printf("%s%s", field ? ", " : "", Json(bsbchart_get_field(chart, field)).c_str());
        std::printf("]}\n");
        return 0;
    }
    if (what == "pixel-to-world" || what == "world-to-pixel") {
        double u = 0, v = 0;
        int32_t status = what == "pixel-to-world"
                             ? bsbchart_pixel_to_world(chart, number(1), number(2), &u, &v, &error)
                             : bsbchart_world_to_pixel(chart, number(1), number(2), &u, &v, &error);
        if (status != BSBCHART_OK) return Refused(status, error);
        std::printf("%.17g %.17g\n", u, v);
        return 0;
    }
    if (what == "palette") {
        uint8_t table[1024];
        int32_t status = bsbchart_get_palette(chart, integer(1), static_cast<uint32_t>(integer(2)), table);
        if (status != BSBCHART_OK) return Refused(status, error);
        for (int i = 0; i < 256; ++i) std::printf("%d %d %d\n", table[4 * i + 2], table[4 * i + 1], table[4 * i]);
        return 0;
    }
    void* bitmap = nullptr;
    int32_t status;
    std::string out;
    bsbchart_rect rect{integer(1), integer(2), integer(3), integer(4)};
    if (what == "window") {
        status = bsbchart_pixel_window(chart, rect, integer(5), static_cast<uint32_t>(integer(6)), nullptr,
                                       &bitmap, &error);
        out = a.at(7);
    } else if (what == "reduced") {
        status = bsbchart_reduced_window(chart, rect, static_cast<uint32_t>(integer(5)),
                                         static_cast<uint32_t>(integer(6)), integer(7),
                                         static_cast<uint32_t>(integer(8)), nullptr, &bitmap, &error);
        out = a.at(9);
    } else if (what == "reduced-world") {
        status = bsbchart_reduced_world_window(chart, number(1), number(2), number(3), number(4),
                                               static_cast<uint32_t>(integer(5)), static_cast<uint32_t>(integer(6)),
                                               integer(7), static_cast<uint32_t>(integer(8)), nullptr, &bitmap,
                                               &error);
        out = a.at(9);
    } else {
        std::fprintf(stderr, "viewer_reference: unknown request %s\n", what.c_str());
        return 2;
    }
    if (status != BSBCHART_OK) return Refused(status, error);
    int written = WritePpm(bitmap, out.c_str());
    bsbchart_free(bitmap);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: viewer_reference CHART REQUEST ...\n");
        return 2;
    }
    bsbchart* chart = nullptr;
    bsbchart_error error{};
    int32_t status = bsbchart_open(argv[1], nullptr, &chart, &error);
    if (status != BSBCHART_OK) return Refused(status, error);
    int result = Run(chart, std::vector<std::string>(argv + 2, argv + argc));
    bsbchart_close(chart);
    return result;
}
