#include "api/window_rows.h"

#include <string.h>

#include "header/records.h"
#include "raster/row_decoder.h"

namespace bsb {

PaletteChoice ExportedPalette() {
    PaletteChoice palette = {"RGB/", true, 0};
    return palette;
}

bool FillColourTable(HeaderText text, PaletteChoice palette, unsigned char* table,
                     uint32_t entries, Reporter* reporter) {
    if (palette.doubled && strcmp(palette.key, "RGB/") == 0)
        return ParsePalette(text, table, entries, reporter);
    if (ApplyPaletteRecords(text, palette.key, palette.doubled, table, entries)) return true;
    if (strcmp(palette.key, "RGB/") == 0) return Fail(reporter, kErrorReadingRgb, "RGB/");
    return FailQuietly(reporter, kStatusPalette, palette.key);
}

// A block as the allocator gives it: a host's allocator may hand out pages
// that no one has touched, and they stay so.
static void* AllocateUncleared(const Allocator& memory, uint64_t size) {
    if (size > (uint64_t)(size_t)-1) return 0;
    return memory.allocate(memory.context, size);
}

bool FillFrameColours(const WindowFrame& frame, PaletteChoice palette, unsigned char* table,
                      uint32_t entries) {
    const unsigned char* kept = frame.palettes ? frame.palettes[palette.index] : 0;
    if (!kept) return FillColourTable(frame.text, palette, table, entries, frame.reporter);
    for (uint32_t k = 0; k < entries * 4; ++k)
        table[k] = (unsigned char)(palette.doubled ? kept[k] * 2u : kept[k]);
    return true;
}

static bool AllocateRowBuffers(WindowFrame* frame, uint32_t width, bool clear) {
    frame->encodedRow = (unsigned char*)(clear ? Allocate(frame->memory, width)
                                               : AllocateUncleared(frame->memory, width));
    if (frame->encodedRow)
        frame->decodedRow = (unsigned char*)(clear ? Allocate(frame->memory, width)
                                                   : AllocateUncleared(frame->memory, width));
    if (frame->decodedRow) return true;
    return Fail(frame->reporter, kCannotAllocateRow);
}

static bool PrepareRows(WindowFrame* frame, const RasterShape& shape, uint32_t width,
                        uint32_t height, int bpp, PaletteChoice palette, bool clear) {
    return CreateWindowBitmap(frame->memory, width, height, bpp, &frame->bitmap, frame->reporter) &&
           FillFrameColours(*frame, palette, frame->bitmap.colourTable, ColourTableEntries(bpp)) &&
           AllocateRowBuffers(frame, (uint32_t)shape.width, clear);
}

bool PrepareWindow(WindowFrame* frame, const RasterShape& shape, uint32_t width, uint32_t height,
                   int bpp, PaletteChoice palette) {
    return PrepareRows(frame, shape, width, height, bpp, palette, true);
}

bool PrepareClippedWindow(WindowFrame* frame, const RasterShape& shape, uint32_t width,
                          uint32_t height, int bpp, PaletteChoice palette) {
    return PrepareRows(frame, shape, width, height, bpp, palette, false);
}

// A row of the handle's index table comes from the frame's batch when an
// earlier read brought it in; a window reading ahead brings in the rows
// after it with it.
static bool ReadIndexed(WindowFrame* frame, const unsigned char** bytes, uint32_t* capacity,
                        uint32_t rowNumber) {
    const RowSource& rows = frame->rows;
    RowBatch* batch = &frame->batch;
    if (rowNumber < batch->first || rowNumber >= batch->end) {
        batch->end = 0;
        uint32_t last = rowNumber < frame->readAheadTo ? frame->readAheadTo : rowNumber;
        if (!ReadIndexedRows(*rows.port, rows.index, frame->encodedRow, capacity, rowNumber, last,
                             batch, frame->reporter))
            return false;
    }
    const uint32_t* offsets = rows.index.offsets;
    *bytes = frame->encodedRow + (offsets[rowNumber - 1] - offsets[batch->first - 1]);
    *capacity = offsets[rowNumber] - offsets[rowNumber - 1];
    return true;
}

static bool ReadRow(WindowFrame* frame, const unsigned char** bytes, uint32_t* capacity,
                    uint32_t rowNumber) {
    const RowSource& rows = frame->rows;
    if (!rows.file) return ReadIndexed(frame, bytes, capacity, rowNumber);
    *bytes = frame->encodedRow;
    return ReadRasterRow(rows.file, frame->encodedRow, capacity, rowNumber, frame->reporter);
}

void ReadAheadTo(WindowFrame* frame, int32_t lastRow) {
    frame->readAheadTo = (uint32_t)lastRow + 1;
}

// A row that does not decode is reported with its number.
static bool DecodeFailed(WindowFrame* frame, int32_t row) {
    if (frame->reporter->status == kStatusRowDecode && frame->reporter->row < 0)
        frame->reporter->row = row;
    return false;
}

bool ReadDecodedColumns(WindowFrame* frame, const RasterShape& shape, int32_t row,
                        uint32_t firstByte, uint32_t byteCount) {
    uint32_t capacity = (uint32_t)shape.width;
    uint32_t width = (uint32_t)shape.width;
    const unsigned char* bytes = 0;
    if (!ReadRow(frame, &bytes, &capacity, (uint32_t)row + 1)) return false;
    if (DecodeRasterColumns(bytes, capacity, frame->decodedRow, &width,
                            shape.compressionType, firstByte, byteCount, frame->reporter))
        return true;
    return DecodeFailed(frame, row);
}

bool ReadRowRuns(WindowFrame* frame, const RasterShape& shape, int32_t row, RunReader* reader) {
    uint32_t capacity = (uint32_t)shape.width;
    const unsigned char* bytes = 0;
    if (!ReadRow(frame, &bytes, &capacity, (uint32_t)row + 1)) return false;
    if (BeginRuns(bytes, capacity, shape.compressionType, reader, frame->reporter))
        return true;
    return DecodeFailed(frame, row);
}

bool EndRowRuns(WindowFrame* frame, const RasterShape& shape, int32_t row, const RunReader& reader) {
    if (EndRuns(reader, (uint32_t)shape.width, frame->reporter)) return true;
    return DecodeFailed(frame, row);
}

bool ReadDecodedRow(WindowFrame* frame, const RasterShape& shape, int32_t row) {
    return ReadDecodedColumns(frame, shape, row, 0, (uint32_t)shape.width);
}

bool CopyWindowRows(WindowFrame* frame, const RasterShape& shape, int32_t left, int32_t top) {
    const WindowBitmap& bitmap = frame->bitmap;
    uint64_t from = (uint64_t)bitmap.bpp * (uint64_t)left / 8;
    uint64_t count = (uint64_t)bitmap.bpp * bitmap.width / 8;
    memset(frame->decodedRow + from, 0, (size_t)count);
    ReadAheadTo(frame, top + (int32_t)bitmap.height - 1);
    unsigned char* out = bitmap.pixels;
    for (uint32_t j = 0; j < bitmap.height; ++j, out += bitmap.stride) {
        if (!ReadDecodedColumns(frame, shape, top + (int32_t)j, (uint32_t)from, (uint32_t)count))
            return false;
        memcpy(out, frame->decodedRow + from, (size_t)count);
    }
    return true;
}

}  // namespace bsb
