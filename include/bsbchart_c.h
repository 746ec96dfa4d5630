/* bsbchart C interface: an open-chart handle for chart plotters.
 *
 * Plain C (C99 and C++), exported under these names from the shared library
 * and the Windows DLL, so that any compiler or a foreign-function interface
 * (Python ctypes, C#, Rust) can load it by name.
 *
 * - Every function returns a bsbchart_status; BSBCHART_OK is 0. Functions
 *   that can fail for a reason with specifics (a row, a record, the system's
 *   error) also fill an optional bsbchart_error; bsbchart_error_text turns
 *   it into a short English text. Nothing is ever shown to the user or
 *   written to stderr by this interface.
 * - A handle reads the chart's header block and row index table once, at
 *   open, and keeps the file open until bsbchart_close. It takes a shared
 *   lock: any number of handles on one chart coexist, while the exclusive
 *   calls of bsbchart.h (GetBsbBorder, GetWindowBmp) on that chart fail
 *   while a handle is open, and the other way round.
 * - After open a handle holds no mutable state: any number of threads may
 *   use one handle at once for every query and window. Close it once, when
 *   no other call on it runs.
 * - Pixel rectangles are inclusive; world x is longitude, world y latitude,
 *   in the units of the chart's polynomials.
 * - Windows are packed device-independent bitmaps in one block: a 40-byte
 *   BITMAPINFOHEADER (negative height: rows top first), the colour table
 *   (none at 24 bits per pixel), rows padded to 4 bytes. The block comes
 *   from the allocator the caller names (NULL: the library's own, released
 *   with bsbchart_free).
 */
#ifndef BSBCHART_C_H
#define BSBCHART_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(BSBCHART_BUILDING)
#define BSBCHART_C_API __declspec(dllexport)
#else
#define BSBCHART_C_API __declspec(dllimport)
#endif
#else
#define BSBCHART_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum bsbchart_status {
    BSBCHART_OK = 0,
    BSBCHART_E_ARGUMENT = 1,     /* NULL pointer, inverted or empty rectangle, bad size or flag */
    BSBCHART_E_PATH = 2,         /* path not valid UTF-8/UTF-16, or longer than the system allows */
    BSBCHART_E_NOT_FOUND = 3,    /* no such file */
    BSBCHART_E_PERMISSION = 4,   /* permission denied */
    BSBCHART_E_IN_USE = 5,       /* the chart is open exclusively elsewhere */
    BSBCHART_E_NOT_REGULAR = 6,  /* a directory, device or pipe */
    BSBCHART_E_OPEN = 7,         /* the system refused the open for another reason */
    BSBCHART_E_HEADER = 8,       /* header block missing or truncated */
    BSBCHART_E_RASTER_SIZE = 9,  /* RA= record missing or invalid */
    BSBCHART_E_RECORD = 10,      /* a needed record missing or unreadable: error->record */
    BSBCHART_E_COMPRESSION = 11, /* compression type outside 1 ... 7 */
    BSBCHART_E_ROW_READ = 12,    /* row error->row cannot be read */
    BSBCHART_E_ROW_DECODE = 13,  /* row error->row does not decode */
    BSBCHART_E_NO_MEMORY = 14,   /* allocation failed or over the heap's limit */
    BSBCHART_E_OUTSIDE = 15,     /* the window lies outside the chart */
    BSBCHART_E_PALETTE = 16      /* the chart carries no such palette */
} bsbchart_status;

/* The specifics of a failure. */
typedef struct bsbchart_error {
    int32_t status;       /* as returned */
    int32_t row;          /* 0-based chart row for the row statuses, else -1 */
    char record[8];       /* record key such as "WPX/" for BSBCHART_E_RECORD, else "" */
    int32_t system_error; /* errno or GetLastError() for open failures, else 0 */
} bsbchart_error;

/* A short English text for a status, e.g. "no such file". Never NULL. */
BSBCHART_C_API const char* bsbchart_strerror(int32_t status);

/* Writes the text of `error` with its specifics, e.g. "row 17 does not
 * decode" or "no such file: charts/a.kap" (`path`, UTF-8, may be NULL), into
 * `text`, cut to `capacity` bytes with its NUL. Returns the full length. */
BSBCHART_C_API size_t bsbchart_error_text(const bsbchart_error* error, const char* path,
                                          char* text, size_t capacity);

/* Where a window's blocks come from. Blocks need not be zero-filled. */
typedef struct bsbchart_allocator {
    void* (*allocate)(void* context, size_t size); /* NULL when out of memory */
    void (*release)(void* context, void* block);
    void* context;
} bsbchart_allocator;

/* Fills `allocator` so that it takes blocks from a host heap (one of
 * CreateChartHeap's, or on Windows any HeapCreate heap). The heap is used
 * without serialization: one thread at a time. */
BSBCHART_C_API bsbchart_status bsbchart_heap_allocator(void* heap, bsbchart_allocator* allocator);

/* Releases a block the library's own allocator gave (allocator NULL). */
BSBCHART_C_API void bsbchart_free(void* block);

typedef struct bsbchart bsbchart;

/* Opens a chart by path: on POSIX the bytes are the file's name as they
 * are; on Windows they are UTF-8. `allocator` (NULL: the library's own)
 * holds the handle's memory until close. */
BSBCHART_C_API bsbchart_status bsbchart_open(const char* path, const bsbchart_allocator* allocator,
                                             bsbchart** chart, bsbchart_error* error);

/* The same with a NUL-terminated UTF-16 path. */
BSBCHART_C_API bsbchart_status bsbchart_open_utf16(const uint16_t* path,
                                                   const bsbchart_allocator* allocator,
                                                   bsbchart** chart, bsbchart_error* error);

/* Closes the file and releases the handle. NULL is ignored. */
BSBCHART_C_API void bsbchart_close(bsbchart* chart);

/* Palettes a chart may carry: the RGB/ records and the alternates. */
typedef enum bsbchart_palette {
    BSBCHART_PALETTE_RGB = 0,   /* RGB/ */
    BSBCHART_PALETTE_DAY = 1,   /* DAY/ */
    BSBCHART_PALETTE_DUSK = 2,  /* DSK/ */
    BSBCHART_PALETTE_NIGHT = 3, /* NGT/ */
    BSBCHART_PALETTE_NIGHT_RED = 4, /* NGR/ */
    BSBCHART_PALETTE_GREY = 5,  /* GRY/ */
    BSBCHART_PALETTE_PRINT = 6, /* PRC/ */
    BSBCHART_PALETTE_PRINT_GREY = 7, /* PRG/ */
    BSBCHART_PALETTE_COUNT = 8
} bsbchart_palette;

/* The record key of a palette ("RGB/", "NGT/", ...); NULL when unknown. */
BSBCHART_C_API const char* bsbchart_palette_key(int32_t palette);

typedef struct bsbchart_info {
    int32_t width;            /* pixels, from RA= */
    int32_t height;
    int32_t compression_type; /* the header block's last byte */
    int32_t bits_per_pixel;   /* of indexed windows: 1, 4 or 8 */
    int32_t has_skew;         /* SK= present */
    int32_t skewed;           /* skew angle above 0.01 degrees */
    double skew_angle;        /* degrees; 0 without SK= */
    int32_t has_cph;          /* CPH/ present */
    double cph;               /* 0 without CPH/ */
    int32_t georeferenced;    /* PWX/, PWY/, WPX/ and WPY/ all present (each conversion needs only its two) */
    uint32_t palettes;        /* bit (1 << palette) for every palette the header carries */
} bsbchart_info;

BSBCHART_C_API bsbchart_status bsbchart_get_info(const bsbchart* chart, bsbchart_info* info);

/* Descriptive header fields. */
typedef enum bsbchart_field {
    BSBCHART_FIELD_NAME = 0,              /* BSB/NA= */
    BSBCHART_FIELD_NUMBER = 1,            /* BSB/NU= */
    BSBCHART_FIELD_SCALE = 2,             /* KNP/SC= */
    BSBCHART_FIELD_DATUM = 3,             /* KNP/GD= geodetic datum */
    BSBCHART_FIELD_PROJECTION = 4,        /* KNP/PR= */
    BSBCHART_FIELD_PROJECTION_PARAMETER = 5, /* KNP/PP= */
    BSBCHART_FIELD_DEPTH_UNITS = 6,       /* KNP/UN= */
    BSBCHART_FIELD_SOUNDING_DATUM = 7,    /* KNP/SD= */
    BSBCHART_FIELD_DRAWING_UNITS = 8,     /* BSB/DU= */
    BSBCHART_FIELD_EDITION = 9,           /* CED/SE= */
    BSBCHART_FIELD_EDITION_DATE = 10,     /* CED/ED= */
    BSBCHART_FIELD_RASTER_EDITION = 11,   /* CED/RE= */
    BSBCHART_FIELD_COUNT = 12
} bsbchart_field;

/* The field's text (NUL-terminated, valid until close), or NULL when the
 * header does not carry it. */
BSBCHART_C_API const char* bsbchart_get_field(const bsbchart* chart, int32_t field);

/* The header text itself, up to its NUL; `length` (may be NULL) receives
 * its length. Valid until close. */
BSBCHART_C_API const char* bsbchart_header_text(const bsbchart* chart, size_t* length);

/* Pixel (column, row, 0-based) to world (PWX/, PWY/, less CPH), and back
 * (WPX/, WPY/ of x + CPH), with the arithmetic of GetBsbBorder and
 * GetWindowBmp: the world -> pixel of a world window's corner is exactly the
 * pixel position that window used. */
BSBCHART_C_API bsbchart_status bsbchart_pixel_to_world(const bsbchart* chart, double column,
                                                       double row, double* x, double* y,
                                                       bsbchart_error* error);
BSBCHART_C_API bsbchart_status bsbchart_world_to_pixel(const bsbchart* chart, double x, double y,
                                                       double* column, double* row,
                                                       bsbchart_error* error);

/* The world rectangle the chart covers, as GetBsbBorder gives it (for a
 * skewed chart the bounding rectangle of its corners). */
BSBCHART_C_API bsbchart_status bsbchart_world_extent(const bsbchart* chart, double* west,
                                                     double* north, double* east, double* south,
                                                     bsbchart_error* error);

typedef struct bsbchart_rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} bsbchart_rect;

/* Flags of the window calls. */
#define BSBCHART_DOUBLED_COLOURS 1u /* colour values doubled modulo 256, as GetWindowBmp gives them */
#define BSBCHART_AREA_AVERAGE 2u    /* reduced windows: 24-bit area average instead of nearest sample */

/* A pixel window (at least 1 x 1, inside the chart) in the chart's own bits
 * per pixel, its colour table from `palette`. Bytes as GetWindowBmp's for the
 * same rectangle when the flags hold BSBCHART_DOUBLED_COLOURS. */
BSBCHART_C_API bsbchart_status bsbchart_pixel_window(const bsbchart* chart, bsbchart_rect window,
                                                     int32_t palette, uint32_t flags,
                                                     const bsbchart_allocator* allocator,
                                                     void** bitmap, bsbchart_error* error);

/* The window covering a world rectangle (west <= east, south <= north):
 * clamped to an upright chart, resampled upright from a skewed one. */
BSBCHART_C_API bsbchart_status bsbchart_world_window(const bsbchart* chart, double west,
                                                     double north, double east, double south,
                                                     int32_t palette, uint32_t flags,
                                                     const bsbchart_allocator* allocator,
                                                     void** bitmap, bsbchart_error* error);

/* The pixel rectangle `source` scaled to width x height (each at least 1,
 * at most the source's size, or up to 8 times it for nearest sample).
 * Nearest sample: output pixel (i, j) is source pixel
 * (left + (2i + 1) * srcW / (2 width), top + (2j + 1) * srcH / (2 height)),
 * indexed like the chart (where a row decodes short and the row above was not
 * sampled, its tail is index 0). With BSBCHART_AREA_AVERAGE: a 24-bit bitmap, each
 * pixel the rounded average colour of the source pixels its box covers. */
BSBCHART_C_API bsbchart_status bsbchart_reduced_window(const bsbchart* chart, bsbchart_rect source,
                                                       uint32_t width, uint32_t height,
                                                       int32_t palette, uint32_t flags,
                                                       const bsbchart_allocator* allocator,
                                                       void** bitmap, bsbchart_error* error);

/* A world rectangle at width x height. An upright chart: the pixel rectangle
 * the world window would cut, reduced as above. A skewed chart: resampled
 * upright by nearest sample along the rotated grid at the reduced scale
 * (BSBCHART_AREA_AVERAGE then gives the same samples as 24-bit colour). */
BSBCHART_C_API bsbchart_status bsbchart_reduced_world_window(
    const bsbchart* chart, double west, double north, double east, double south, uint32_t width,
    uint32_t height, int32_t palette, uint32_t flags, const bsbchart_allocator* allocator,
    void** bitmap, bsbchart_error* error);

/* The colour table `palette` would give, 256 entries of blue, green, red,
 * reserved (entries the records do not name are 0). */
BSBCHART_C_API bsbchart_status bsbchart_get_palette(const bsbchart* chart, int32_t palette,
                                                    uint32_t flags, uint8_t table[1024]);

/* "1.1.0" */
BSBCHART_C_API const char* bsbchart_version(void);

#ifdef __cplusplus
}
#endif

#endif
