// What a call holds while it runs. A window frame is what every window needs,
// whether the chart was opened for the call or is held open by a handle; the
// four exported calls add the file, the header block and their reporter.
// Release order: header block, region, bitmap (on failure only),
// compressed-row buffer, decoded-row buffer; the file is closed last.
#ifndef BSBCHART_CALL_FRAME_H
#define BSBCHART_CALL_FRAME_H

#include <stdint.h>

#include "api/window_bitmap.h"
#include "chartfile/chart_file.h"
#include "header/header_text.h"

namespace bsb {

// Where a window's rows come from: the file opened for the call, its index
// entries read afresh for every row, or a handle's kept index table.
struct RowSource {
    ChartFile* file;
    const PortFile* port;
    RowIndex index;
};

// A handle's colour tables: 256 entries of the stored values per palette
// the chart carries (NULL for one it lacks).
const int kPaletteCount = 8;
typedef const unsigned char* const* PaletteTables;

struct WindowFrame {
    Allocator memory;
    PaletteTables palettes;  // NULL: read from the header text
    Reporter* reporter;
    HeaderText text;
    int compressionType;
    RowSource rows;
    unsigned char* region;
    WindowBitmap bitmap;
    unsigned char* encodedRow;
    unsigned char* decodedRow;
    RowBatch batch;        // the handle's rows that encodedRow holds
    uint32_t readAheadTo;  // the last row number a read may bring in
};

struct CallFrame {
    ChartFile file;
    bool fileOpen;
    void* privateHeap;  // the extent queries' heap, holding the header block
    HeaderBlock header;
    Reporter reporter;
    WindowFrame window;
};

// Opens the chart and loads its header block: an extent query into a
// private heap of its own, a window into the host's heap.
bool BeginExtentCall(CallFrame* frame, const unsigned short* path);
bool BeginWindowCall(CallFrame* frame, const unsigned short* path, void* heap);

// A window frame on a header already in memory, its blocks from `memory`.
void BeginWindowFrame(WindowFrame* window, const Allocator& memory, Reporter* reporter,
                      HeaderText text, int compressionType, RowSource rows);

// Releases the window's blocks; the bitmap only when `keepBitmap` is false.
// Returns the bitmap's block when it is kept.
char* EndWindowFrame(WindowFrame* window, bool keepBitmap);

HeaderText HeaderTextOf(const CallFrame& frame);

// Releases everything; the bitmap only when `keepBitmap` is false. Returns
// the bitmap's block when it is kept.
char* EndCall(CallFrame* frame, bool keepBitmap);

}  // namespace bsb

#endif
