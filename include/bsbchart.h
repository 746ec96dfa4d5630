/* bsbchart: read windows of BSB raster nautical charts as packed bitmaps.
 *
 * Paths are NUL-terminated UTF-16 strings. Every function reports a problem
 * to the user through the message reporter and returns 0 or NULL; nothing is
 * left allocated or open after a failure. Pixel rectangles are inclusive.
 */
#ifndef BSBCHART_H
#define BSBCHART_H

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#if defined(BSBCHART_BUILDING)
#define BSBCHART_API __declspec(dllexport)
#else
#define BSBCHART_API __declspec(dllimport)
#endif
#else
#define BSBCHART_API __attribute__((visibility("default")))
struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
#endif

/* The chart's pixel rectangle (0, 0, width - 1, height - 1) and whether its
 * raster is rotated against north. Returns 1, or 0 leaving both untouched. */
BSBCHART_API int GetBsbBorder(const unsigned short* path, RECT* extent, int& skewed);

/* The world rectangle the chart covers (x = longitude, y = latitude) and its
 * centre; for a skewed chart the bounding rectangle of its corners. */
BSBCHART_API int GetBsbBorder(const unsigned short* path, double* centerX, double* centerY,
                              double* left, double* top, double* right, double* bottom,
                              int& skewed);

/* The pixel window as one block of `heap`: BITMAPINFOHEADER, colour table,
 * rows top first. The block belongs to the caller; NULL on failure. */
BSBCHART_API char* GetWindowBmp(const unsigned short* path, void* heap, RECT window);

/* The window covering a world rectangle: cut from an upright chart (clamped
 * to it), resampled upright from a skewed one. */
BSBCHART_API char* GetWindowBmp(const unsigned short* path, void* heap, double left, double top,
                                double right, double bottom);

#endif
