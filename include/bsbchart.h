/* bsbchart: read windows of BSB raster nautical charts as packed bitmaps.
 * SPDX-License-Identifier: MIT (see LICENSE)
 *
 * Paths are NUL-terminated UTF-16 strings. Every function reports a problem
 * to the user through the message reporter and returns 0 or NULL; nothing is
 * left allocated or open after a failure. Pixel rectangles are inclusive.
 *
 * Each call opens the chart exclusively for as long as it runs: a second
 * call on the same chart at the same time, from this process or another, or
 * any call while a handle of bsbchart_c.h holds the chart, fails with
 * "Cannot open file". Calls on different charts may run on any threads.
 *
 * This is a C++ interface (overloads, a reference parameter). From C, and
 * from other compilers or languages, use bsbchart_c.h.
 */
#ifndef BSBCHART_H
#define BSBCHART_H

#ifndef __cplusplus
#error "bsbchart.h is the C++ interface; from C include bsbchart_c.h (the open-chart handle interface)"
#endif

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
/* Outside Windows the library's RECT is this struct. A host that has a RECT
 * of its own defines BSBCHART_HOST_RECT before including this header; its
 * RECT must then be a struct declared as `struct RECT` (not a typedef of
 * another struct's name, which C++ would link under that other name) with
 * these four 32-bit fields in this order. */
#if !defined(BSBCHART_HOST_RECT)
struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
#endif
static_assert(sizeof(RECT) == 16 && sizeof(RECT::left) == 4 && sizeof(RECT::bottom) == 4,
              "bsbchart.h: RECT must be four 32-bit fields: left, top, right, bottom");
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

/* The same four calls for a u"..." literal or any other char16_t text, so
 * that no cast is needed. Inline here: the library exports no more names. */
static_assert(sizeof(char16_t) == sizeof(unsigned short), "bsbchart.h: UTF-16 units are 16 bits");

inline int GetBsbBorder(const char16_t* path, RECT* extent, int& skewed) {
    return GetBsbBorder(reinterpret_cast<const unsigned short*>(path), extent, skewed);
}

inline int GetBsbBorder(const char16_t* path, double* centerX, double* centerY, double* left,
                        double* top, double* right, double* bottom, int& skewed) {
    return GetBsbBorder(reinterpret_cast<const unsigned short*>(path), centerX, centerY, left, top,
                        right, bottom, skewed);
}

inline char* GetWindowBmp(const char16_t* path, void* heap, RECT window) {
    return GetWindowBmp(reinterpret_cast<const unsigned short*>(path), heap, window);
}

inline char* GetWindowBmp(const char16_t* path, void* heap, double left, double top, double right,
                          double bottom) {
    return GetWindowBmp(reinterpret_cast<const unsigned short*>(path), heap, left, top, right,
                        bottom);
}

#endif
