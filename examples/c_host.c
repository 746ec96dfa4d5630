/* A plotter's use of the C interface: open a chart, show what it is, place a
 * position on it, cut an overview and a window, close it.
 *   cc -std=c99 c_host.c $(pkg-config --cflags --libs bsbchart) -o c_host
 *   ./c_host CHART */
#include <stdio.h>

#include "bsbchart_c.h"

int main(int argc, char** argv) {
    bsbchart* chart = NULL;
    bsbchart_error error;
    bsbchart_info info;
    double column, row, x, y;
    void* overview = NULL;
    void* window = NULL;
    bsbchart_rect whole;
    bsbchart_rect corner = {0, 0, 99, 49};
    const char* name;
    uint32_t height;
    char text[256];

    if (argc != 2) {
        fprintf(stderr, "usage: c_host CHART\n");
        return 2;
    }
    if (bsbchart_open(argv[1], NULL, &chart, &error) != BSBCHART_OK) {
        bsbchart_error_text(&error, argv[1], text, sizeof text);
        fprintf(stderr, "c_host: %s\n", text); /* e.g. "no such file: harbour.kap" */
        return 1;
    }
    bsbchart_get_info(chart, &info);
    name = bsbchart_get_field(chart, BSBCHART_FIELD_NAME);
    printf("%s: %d x %d pixels, %d bits per pixel%s\n", name ? name : "(no name)", (int)info.width,
           (int)info.height, (int)info.bits_per_pixel, info.skewed ? ", skewed" : "");

    /* The pixel under the chart's centre, and back. */
    if (bsbchart_pixel_to_world(chart, info.width / 2.0, info.height / 2.0, &x, &y, &error) ==
            BSBCHART_OK &&
        bsbchart_world_to_pixel(chart, x, y, &column, &row, &error) == BSBCHART_OK)
        printf("centre: %.6f, %.6f at pixel %.1f, %.1f\n", x, y, column, row);

    /* The whole sheet as a 200-pixel-wide colour overview, and a window in
     * the night palette when the chart has one. */
    whole.left = 0;
    whole.top = 0;
    whole.right = info.width - 1;
    whole.bottom = info.height - 1;
    height = (uint32_t)(200.0 * info.height / info.width) + 1;
    if (height > (uint32_t)info.height) height = (uint32_t)info.height;
    if (info.width >= 200 &&
        bsbchart_reduced_window(chart, whole, 200, height, BSBCHART_PALETTE_RGB,
                                BSBCHART_AREA_AVERAGE, NULL, &overview, &error) == BSBCHART_OK)
        printf("overview: 200 x %u pixels of 24-bit colour\n", (unsigned)height);
    if (bsbchart_pixel_window(chart, corner,
                              info.palettes & (1u << BSBCHART_PALETTE_NIGHT) ? BSBCHART_PALETTE_NIGHT
                                                                             : BSBCHART_PALETTE_RGB,
                              0, NULL, &window, &error) != BSBCHART_OK) {
        bsbchart_error_text(&error, NULL, text, sizeof text);
        fprintf(stderr, "c_host: %s\n", text);
    }
    bsbchart_free(overview);
    bsbchart_free(window);
    bsbchart_close(chart);
    return 0;
}
