// Preparing a window and reading chart rows top to bottom into it or into a
// scratch region.
#ifndef BSBCHART_WINDOW_ROWS_H
#define BSBCHART_WINDOW_ROWS_H

#include <stdint.h>

#include "api/call_frame.h"
#include "raster/row_decoder.h"

namespace bsb {

struct RasterShape {
    int32_t width;
    int32_t height;
    int compressionType;
};

// The colour table a window takes: the records under `key`, their values
// doubled (as the four exported calls give them) or as stored.
struct PaletteChoice {
    const char* key;
    bool doubled;
    int index;  // the palette's number in the C interface
};

// The exported calls' colours: RGB/, doubled.
PaletteChoice ExportedPalette();

// Fills a zero-filled table of `entries` from the chosen records. Without
// RGB/ records this fails as a missing record; without another palette's,
// as a palette the chart lacks.
bool FillColourTable(HeaderText text, PaletteChoice palette, unsigned char* table,
                     uint32_t entries, Reporter* reporter);

// The frame's colour table for `palette`: from the tables a handle keeps
// when it has this one, else from the header's records as FillColourTable.
bool FillFrameColours(const WindowFrame& frame, PaletteChoice palette, unsigned char* table,
                      uint32_t entries);

// Creates the w × h bitmap, fills its colour table and allocates the two
// row buffers of the raster's width, zero-filled.
bool PrepareWindow(WindowFrame* frame, const RasterShape& shape, uint32_t width, uint32_t height,
                   int bpp, PaletteChoice palette);

// The same with the row buffers as the allocator gives them, for windows
// that decode only some bytes of each row and clear those themselves
// (CopyWindowRows, ExtractRotatedWindow): the rest of a 2 GB row buffer is
// never touched, whatever the allocator.
bool PrepareClippedWindow(WindowFrame* frame, const RasterShape& shape, uint32_t width,
                          uint32_t height, int bpp, PaletteChoice palette);

// Reads and decodes 0-based chart row `row` into the frame's decoded-row
// buffer, which keeps the previous row's pixels where this one decodes short.
bool ReadDecodedRow(WindowFrame* frame, const RasterShape& shape, int32_t row);

// The same, writing only bytes firstByte … firstByte + byteCount - 1 of the
// decoded-row buffer: the bytes a window copies. The row is still read and
// checked whole. Those bytes come out as ReadDecodedRow leaves them as long as
// they started zero and every row before was decoded over them too (or
// whole); the other bytes keep what they held.
bool ReadDecodedColumns(WindowFrame* frame, const RasterShape& shape, int32_t row,
                        uint32_t firstByte, uint32_t byteCount);

// Reads 0-based chart row `row` and starts `reader` on its runs, which are
// taken instead of decoded pixels; EndRowRuns checks the row after its last.
bool ReadRowRuns(WindowFrame* frame, const RasterShape& shape, int32_t row, RunReader* reader);
bool EndRowRuns(WindowFrame* frame, const RasterShape& shape, int32_t row, const RunReader& reader);

// Rows from the one read next up to 0-based chart row `lastRow` will be read
// in order: a handle's rows are then read several at a time, as many as the
// compressed-row buffer holds.
void ReadAheadTo(WindowFrame* frame, int32_t lastRow);

// Fills the bitmap's rows from chart rows top … top + height - 1, each taken
// byte-aligned from the byte that holds column `left`; only those bytes of
// the decoded-row buffer are cleared and decoded.
bool CopyWindowRows(WindowFrame* frame, const RasterShape& shape, int32_t left, int32_t top);

}  // namespace bsb

#endif
