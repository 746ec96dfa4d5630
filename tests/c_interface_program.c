/* A C99 host of the C interface: writes a small chart of its own, then calls
 * every function the header declares and checks what comes back. Built with
 * -std=c99 -Wall -Wextra -Werror -pedantic by cc and by the mingw C
 * compiler. Prints each failed check; exits 0 when all pass. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "bsbchart_c.h"

static int g_checks = 0;
static int g_failures = 0;

static void Check(int condition, const char* what, int line) {
    ++g_checks;
    if (condition) return;
    ++g_failures;
    printf("line %d: %s\n", line, what);
}

#define CHECK(condition) Check((condition) ? 1 : 0, #condition, __LINE__)

/* 16 x 8 pixels at 4 bits (compression type 4): even rows colour 1 then 2,
 * odd rows 2 then 1, eight pixels each. Pixel (x, y) lies at world
 * (x / 8, 1 - y / 8). */
static const char kHeader[] =
    "VER/3.0\r\n"
    "CED/SE=3,RE=01,ED=01/02/2025\r\n"
    "BSB/NA=C PROGRAM CHART,NU=42,RA=16,8,DU=254\r\n"
    "KNP/SC=25000,GD=WGS84,PR=MERCATOR,PP=0.0,SK=0.0\r\n"
    "    UN=METERS,SD=MLLW\r\n"
    "CPH/0.0\r\n"
    "RGB/1,10,20,30\r\n"
    "RGB/2,40,50,60\r\n"
    "NGT/1,1,2,3\r\n"
    "NGT/2,4,5,6\r\n"
    "PWX/1,0.0,0.125,0.0\r\n"
    "PWY/1,1.0,0.0,-0.125\r\n"
    "WPX/1,0.0,8.0,0.0\r\n"
    "WPY/1,8.0,0.0,-8.0\r\n";

enum { kWidth = 16, kHeight = 8, kRowBytes = 4 };

static void PutBe32(unsigned char* out, uint32_t value) {
    out[0] = (unsigned char)(value >> 24);
    out[1] = (unsigned char)(value >> 16);
    out[2] = (unsigned char)(value >> 8);
    out[3] = (unsigned char)value;
}

static int WriteChart(const char* path) {
    unsigned char bytes[1024];
    size_t used = strlen(kHeader);
    uint32_t offsets[kHeight];
    uint32_t table;
    int y;
    FILE* file;
    memcpy(bytes, kHeader, used);
    bytes[used++] = 0;
    bytes[used++] = 4;
    for (y = 0; y < kHeight; ++y) {
        unsigned char first = y % 2 ? 2 : 1, second = y % 2 ? 1 : 2;
        offsets[y] = (uint32_t)used;
        bytes[used++] = (unsigned char)(y + 1);           /* row number */
        bytes[used++] = (unsigned char)(first << 3 | 7);  /* colour, 8 pixels */
        bytes[used++] = (unsigned char)(second << 3 | 7);
        bytes[used++] = 0;
    }
    table = (uint32_t)used;
    for (y = 0; y < kHeight; ++y, used += 4) PutBe32(bytes + used, offsets[y]);
    PutBe32(bytes + used, table);
    used += 4;
    file = fopen(path, "wb");
    if (!file) return 0;
    if (fwrite(bytes, 1, used, file) != used) {
        fclose(file);
        return 0;
    }
    return fclose(file) == 0;
}

static uint32_t Le32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* An allocator that counts its live blocks. */
struct Counter {
    int live;
    int calls;
};

static void* CountedAllocate(void* context, size_t size) {
    struct Counter* counter = (struct Counter*)context;
    void* block = malloc(size);
    counter->calls += 1;
    if (block) counter->live += 1;
    return block;
}

static void CountedRelease(void* context, void* block) {
    struct Counter* counter = (struct Counter*)context;
    counter->live -= 1;
    free(block);
}

static void CheckTexts(void) {
    bsbchart_error error;
    char text[64];
    size_t length;
    CHECK(strcmp(bsbchart_version(), "1.1.0") == 0);
    CHECK(strcmp(bsbchart_strerror(BSBCHART_OK), "success") == 0);
    CHECK(strcmp(bsbchart_strerror(BSBCHART_E_IN_USE), "chart in use") == 0);
    CHECK(strcmp(bsbchart_strerror(-5), "unknown status") == 0);
    CHECK(strcmp(bsbchart_palette_key(BSBCHART_PALETTE_NIGHT), "NGT/") == 0);
    CHECK(bsbchart_palette_key(BSBCHART_PALETTE_COUNT) == NULL);
    error.status = BSBCHART_E_ROW_DECODE;
    error.row = 5;
    error.record[0] = 0;
    error.system_error = 0;
    length = bsbchart_error_text(&error, "x.kap", text, sizeof text);
    CHECK(strcmp(text, "row 5 does not decode: x.kap") == 0);
    CHECK(length == strlen(text));
    length = bsbchart_error_text(&error, NULL, text, 4);
    CHECK(strcmp(text, "row") == 0 && length == strlen("row 5 does not decode"));
}

static void CheckOpenFailures(void) {
    bsbchart* chart = NULL;
    bsbchart_error error;
    char text[128];
    bsbchart_allocator allocator;
    CHECK(bsbchart_open("no-such-chart.kap", NULL, &chart, &error) == BSBCHART_E_NOT_FOUND);
    CHECK(chart == NULL);
    CHECK(error.status == BSBCHART_E_NOT_FOUND && error.row == -1 && error.record[0] == 0);
    bsbchart_error_text(&error, "no-such-chart.kap", text, sizeof text);
    CHECK(strcmp(text, "no such file: no-such-chart.kap") == 0);
    CHECK(bsbchart_open(NULL, NULL, &chart, NULL) == BSBCHART_E_ARGUMENT);
    CHECK(bsbchart_open("c_interface_program.kap", NULL, NULL, NULL) == BSBCHART_E_ARGUMENT);
    CHECK(bsbchart_heap_allocator(NULL, &allocator) == BSBCHART_E_ARGUMENT);
    bsbchart_close(NULL);
    bsbchart_free(NULL);
}

static void CheckMetadata(const bsbchart* chart) {
    bsbchart_info info;
    size_t length = 0;
    const char* text;
    CHECK(bsbchart_get_info(chart, &info) == BSBCHART_OK);
    CHECK(info.width == kWidth && info.height == kHeight);
    CHECK(info.compression_type == 4 && info.bits_per_pixel == 4);
    CHECK(info.has_skew == 1 && info.skewed == 0 && info.skew_angle == 0.0);
    CHECK(info.has_cph == 1 && info.cph == 0.0 && info.georeferenced == 1);
    CHECK(info.palettes == (1u << BSBCHART_PALETTE_RGB | 1u << BSBCHART_PALETTE_NIGHT));
    CHECK(strcmp(bsbchart_get_field(chart, BSBCHART_FIELD_NAME), "C PROGRAM CHART") == 0);
    CHECK(strcmp(bsbchart_get_field(chart, BSBCHART_FIELD_NUMBER), "42") == 0);
    CHECK(strcmp(bsbchart_get_field(chart, BSBCHART_FIELD_SCALE), "25000") == 0);
    CHECK(strcmp(bsbchart_get_field(chart, BSBCHART_FIELD_SOUNDING_DATUM), "MLLW") == 0);
    CHECK(strcmp(bsbchart_get_field(chart, BSBCHART_FIELD_EDITION_DATE), "01/02/2025") == 0);
    CHECK(bsbchart_get_field(chart, BSBCHART_FIELD_COUNT) == NULL);
    text = bsbchart_header_text(chart, &length);
    CHECK(text != NULL && length == strlen(kHeader) && strcmp(text, kHeader) == 0);
}

static void CheckPositions(const bsbchart* chart) {
    double x = 0, y = 0, column = 0, row = 0, west = 0, north = 0, east = 0, south = 0;
    bsbchart_error error;
    CHECK(bsbchart_pixel_to_world(chart, 8.0, 4.0, &x, &y, &error) == BSBCHART_OK);
    CHECK(x == 1.0 && y == 0.5);
    CHECK(bsbchart_world_to_pixel(chart, 1.0, 0.5, &column, &row, &error) == BSBCHART_OK);
    CHECK(column == 8.0 && row == 4.0);
    CHECK(bsbchart_world_extent(chart, &west, &north, &east, &south, &error) == BSBCHART_OK);
    CHECK(west == 0.0 && north == 1.0 && east == 15.0 / 8 && south == 1.0 - 7.0 / 8);
    CHECK(bsbchart_world_to_pixel(chart, 1.0, 0.5, NULL, &row, &error) == BSBCHART_E_ARGUMENT);
    CHECK(error.status == BSBCHART_E_ARGUMENT);
}

/* The window's header says width x height at `bpp`. */
static int HasShape(const void* bitmap, int32_t width, int32_t height, int bpp) {
    const unsigned char* b = (const unsigned char*)bitmap;
    return Le32(b) == 40 && (int32_t)Le32(b + 4) == width && (int32_t)Le32(b + 8) == -height &&
           (b[14] | b[15] << 8) == bpp;
}

static void CheckWindows(const bsbchart* chart) {
    void* bitmap = NULL;
    const unsigned char* b;
    bsbchart_error error;
    bsbchart_rect whole = {0, 0, kWidth - 1, kHeight - 1};
    bsbchart_rect outside = {0, 0, kWidth, kHeight - 1};
    struct Counter counter = {0, 0};
    bsbchart_allocator allocator;
    uint8_t table[1024];
    allocator.allocate = CountedAllocate;
    allocator.release = CountedRelease;
    allocator.context = &counter;

    CHECK(bsbchart_pixel_window(chart, whole, BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS, NULL,
                                &bitmap, &error) == BSBCHART_OK);
    CHECK(bitmap != NULL && HasShape(bitmap, kWidth, kHeight, 4));
    if (bitmap) {
        b = (const unsigned char*)bitmap;
        /* Entry 1: blue, green, red doubled. */
        CHECK(b[44] == 60 && b[45] == 40 && b[46] == 20 && b[47] == 0);
        /* Row 0: colour 1 then 2; row 1: 2 then 1; 8 bytes a row. */
        CHECK(b[104] == 0x11 && b[107] == 0x11 && b[108] == 0x22 && b[111] == 0x22);
        CHECK(b[112] == 0x22 && b[119] == 0x11);
        bsbchart_free(bitmap);
    }
    CHECK(bsbchart_pixel_window(chart, outside, BSBCHART_PALETTE_RGB, 0, NULL, &bitmap, &error) ==
          BSBCHART_E_OUTSIDE);
    CHECK(bitmap == NULL && error.status == BSBCHART_E_OUTSIDE);

    /* Columns 0 ... 8, rows 0 ... 4; night colours as stored. */
    CHECK(bsbchart_world_window(chart, 0.0, 1.0, 1.0, 0.5, BSBCHART_PALETTE_NIGHT, 0, &allocator,
                                &bitmap, &error) == BSBCHART_OK);
    CHECK(counter.live == 1 && bitmap != NULL && HasShape(bitmap, 9, 5, 4));
    if (bitmap) {
        b = (const unsigned char*)bitmap;
        CHECK(b[44] == 3 && b[45] == 2 && b[46] == 1);
        allocator.release(allocator.context, bitmap);
    }

    /* Every second pixel: source (2i + 1, 2j + 1). */
    CHECK(bsbchart_reduced_window(chart, whole, 8, 4, BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                  &allocator, &bitmap, &error) == BSBCHART_OK);
    CHECK(bitmap != NULL && HasShape(bitmap, 8, 4, 4));
    if (bitmap) {
        b = (const unsigned char*)bitmap;
        CHECK(b[104] == 0x22 && b[105] == 0x22 && b[106] == 0x11 && b[107] == 0x11);
        allocator.release(allocator.context, bitmap);
    }
    CHECK(bsbchart_reduced_world_window(chart, 0.0, 1.0, 1.875, 0.125, 4, 2, BSBCHART_PALETTE_RGB,
                                        BSBCHART_DOUBLED_COLOURS | BSBCHART_AREA_AVERAGE, &allocator,
                                        &bitmap, &error) == BSBCHART_OK);
    CHECK(bitmap != NULL && HasShape(bitmap, 4, 2, 24));
    if (bitmap) allocator.release(allocator.context, bitmap);
    CHECK(counter.live == 0 && counter.calls >= 3);

    CHECK(bsbchart_get_palette(chart, BSBCHART_PALETTE_NIGHT, 0, table) == BSBCHART_OK);
    CHECK(table[4] == 3 && table[5] == 2 && table[6] == 1 && table[8] == 6);
    CHECK(bsbchart_get_palette(chart, BSBCHART_PALETTE_DUSK, 0, table) == BSBCHART_E_PALETTE);

#if defined(_WIN32)
    {
        /* Any heap of the system's serves. */
        HANDLE heap = HeapCreate(0, 0, 0);
        CHECK(heap != NULL);
        CHECK(bsbchart_heap_allocator(heap, &allocator) == BSBCHART_OK);
        CHECK(bsbchart_pixel_window(chart, whole, BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                    &allocator, &bitmap, NULL) == BSBCHART_OK);
        CHECK(bitmap != NULL && HeapFree(heap, 0, bitmap));
        HeapDestroy(heap);
    }
#endif
}

int main(void) {
    const char* path = "c_interface_program.kap";
    uint16_t wide[64];
    size_t i;
    bsbchart* chart = NULL;
    bsbchart* second = NULL;
    bsbchart_error error;

    if (!WriteChart(path)) {
        printf("cannot write %s\n", path);
        return 1;
    }
    CheckTexts();
    CheckOpenFailures();
    CHECK(bsbchart_open(path, NULL, &chart, &error) == BSBCHART_OK);
    CHECK(error.status == BSBCHART_OK);
    for (i = 0; i <= strlen(path); ++i) wide[i] = (uint16_t)path[i];
    CHECK(bsbchart_open_utf16(wide, NULL, &second, &error) == BSBCHART_OK);
    if (chart) {
        CheckMetadata(chart);
        CheckPositions(chart);
        CheckWindows(chart);
    }
    bsbchart_close(chart);
    bsbchart_close(second);
    remove(path);
    printf("c_interface_program: %d checks, %d failed\n", g_checks, g_failures);
    return g_failures == 0 ? 0 : 1;
}
