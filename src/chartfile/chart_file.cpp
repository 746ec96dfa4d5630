#include "chartfile/chart_file.h"

#include "text/utf.h"

namespace bsb {

// Offsets go to the platform's positioning as signed 32-bit distances.
const uint64_t kLargestOffset = 0x7FFFFFFF;

static Status StatusOf(PortOpenFailure failure) {
    switch (failure) {
    case kPortNoSuchFile: return kStatusNotFound;
    case kPortNoPermission: return kStatusPermission;
    case kPortInUse: return kStatusInUse;
    case kPortNotRegular: return kStatusNotRegular;
    case kPortBadPath: return kStatusPath;
    default: return kStatusOpen;
    }
}

// The path in the system's form, in `storage` when it has to be converted.
static const void* SystemPath(ChartPath path, unsigned short* wide, char* narrow) {
    if (kPortPathsAreUtf16) {
        if (path.utf16) return IsWellFormedUtf16(path.utf16) ? path.utf16 : 0;
        return path.bytes && ConvertUtf8ToUtf16(path.bytes, wide, kPathCapacity) ? wide : 0;
    }
    if (path.bytes) return path.bytes;
    return path.utf16 && ConvertUtf16ToUtf8(path.utf16, narrow, kPathCapacity, true) ? narrow : 0;
}

static bool FitsCapacity(ChartPath path) {
    uint32_t length = 0;
    if (path.bytes) while (length < kPathCapacity && path.bytes[length]) ++length;
    else while (length < kPathCapacity && path.utf16[length]) ++length;
    return length < kPathCapacity;
}

bool OpenPortChart(ChartPath path, PortShare share, PortFile* file, Reporter* reporter) {
    unsigned short wide[kPathCapacity];
    char narrow[kPathCapacity];
    bool named = path.utf16 || path.bytes;
    const void* systemPath = named && FitsCapacity(path) ? SystemPath(path, wide, narrow) : 0;
    PortOpenFailure failure = kPortBadPath;
    int32_t systemError = 0;
    if (systemPath && OpenPortFile(systemPath, share, file, &failure, &systemError)) return true;
    return FailCannotOpen(reporter, path.utf16, StatusOf(failure), systemError);
}

bool OpenChart(ChartFile* file, const unsigned short* path, Reporter* reporter) {
    ChartPath named = {path, 0};
    PortFile port;
    if (!OpenPortChart(named, kPortExclusive, &port, reporter)) return false;
    AttachChartFile(file, port);
    return true;
}

void CloseChartFile(ChartFile* file) {
    ClosePortFile(file->port.handle);
}

static bool ReadExactly(ChartFile* file, void* destination, uint32_t count) {
    uint32_t delivered = 0;
    return ReadChartFile(file, destination, count, &delivered) && delivered == count;
}

static uint32_t AssembleBigEndian(const unsigned char* bytes) {
    return ((uint32_t)bytes[0] << 24) | ((uint32_t)bytes[1] << 16) | ((uint32_t)bytes[2] << 8) |
           (uint32_t)bytes[3];
}

bool ReadTrailer(ChartFile* file, uint32_t* value) {
    unsigned char bytes[4];
    if (!SeekChartFile(file, -4, kFromEnd) || !ReadExactly(file, bytes, 4)) return false;
    *value = AssembleBigEndian(bytes);
    return true;
}

bool ReadBigEndian32(ChartFile* file, uint64_t offset, uint32_t* value) {
    unsigned char bytes[4];
    if (offset > kLargestOffset) return false;
    if (!SeekChartFile(file, (int32_t)offset, kFromStart) || !ReadExactly(file, bytes, 4))
        return false;
    *value = AssembleBigEndian(bytes);
    return true;
}

bool ReadHeaderLength(ChartFile* file, uint32_t* length, Reporter* reporter) {
    uint32_t trailer = 0;
    uint32_t value = 0;
    if (!ReadTrailer(file, &trailer) || !ReadBigEndian32(file, trailer, &value) || value == 0 ||
        (int64_t)value > file->port.size)
        return Fail(reporter, kErrorReadingHeader);
    *length = value;
    return true;
}

static uint32_t TextLength(const char* bytes, uint32_t size) {
    uint32_t length = 0;
    while (length < size && bytes[length] != 0) ++length;
    return length;
}

bool LoadHeaderBlock(ChartFile* file, const Allocator& allocator, uint32_t length,
                     HeaderBlock* block, Reporter* reporter) {
    return LoadHeaderBytes(file, allocator, length, length, block, reporter);
}

bool LoadHeaderBytes(ChartFile* file, const Allocator& allocator, uint32_t length, uint64_t room,
                     HeaderBlock* block, Reporter* reporter) {
    block->bytes = (char*)Allocate(allocator, room);
    block->size = length;
    block->textLength = 0;
    if (!block->bytes) return Fail(reporter, kCannotAllocateHeader);
    if (!SeekChartFile(file, 0, kFromStart) || !ReadExactly(file, block->bytes, length))
        return Fail(reporter, kErrorReadingHeader);
    block->textLength = TextLength(block->bytes, length);
    return true;
}

int CompressionType(const HeaderBlock& block) {
    return (signed char)block.bytes[block.size - 1];
}

// The row's length from its two index entries: shorter than its buffer, or
// reported with the length it needs.
static bool CheckRowLength(uint32_t start, uint32_t end, uint32_t* capacity, uint32_t rowNumber,
                           Reporter* reporter) {
    uint32_t length = end - start;
    if (length > *capacity) {
        FailRow(reporter, kRowLongerThanExpected, (int64_t)rowNumber - 1);
        *capacity = length;
        return false;
    }
    return true;
}

// Each index lookup asks for the trailer afresh, as the format's readers
// always have: nothing of the layout is held between lookups, and the read
// cache serves the repeated trailer without a system call.
bool ReadRasterRow(ChartFile* file, unsigned char* buffer, uint32_t* capacity, uint32_t rowNumber,
                   Reporter* reporter) {
    uint32_t trailer = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    if (rowNumber == 0 || !ReadTrailer(file, &trailer) ||
        !ReadBigEndian32(file, (uint64_t)trailer + ((uint64_t)rowNumber - 1) * 4, &start) ||
        !ReadTrailer(file, &trailer) ||
        !ReadBigEndian32(file, (uint64_t)trailer + (uint64_t)rowNumber * 4, &end))
        return FailRow(reporter, kErrorReadingRow, (int64_t)rowNumber - 1);
    if (!CheckRowLength(start, end, capacity, rowNumber, reporter)) return false;
    uint32_t length = end - start;
    if ((uint64_t)start > kLargestOffset || !SeekChartFile(file, (int32_t)start, kFromStart) ||
        !ReadExactly(file, buffer, length))
        return FailRow(reporter, kErrorReadingRow, (int64_t)rowNumber - 1);
    *capacity = length;
    return true;
}

// Entry k lies at trailer + 4k; it is readable where ReadBigEndian32 could
// read it: below the positioning limit and inside the file.
static uint32_t EntriesInFile(const ChartFile& file, uint32_t trailer, uint32_t wanted) {
    uint64_t end = (uint64_t)file.port.size < kLargestOffset + 4 ? (uint64_t)file.port.size
                                                                  : kLargestOffset + 4;
    if ((uint64_t)trailer + 4 > end) return 0;
    uint64_t available = (end - trailer) / 4;
    return available < wanted ? (uint32_t)available : wanted;
}

bool LoadRowIndex(ChartFile* file, const Allocator& allocator, uint32_t rowCount, RowIndex* index,
                  Reporter* reporter) {
    uint32_t trailer = 0;
    if (!ReadTrailer(file, &trailer)) return Fail(reporter, kErrorReadingHeader);
    uint32_t count = EntriesInFile(*file, trailer, rowCount + 1);
    uint32_t* offsets = (uint32_t*)Allocate(allocator, (uint64_t)count * 4 + 4);
    if (!offsets) return Fail(reporter, kCannotAllocateHeader);
    index->offsets = offsets;
    index->count = count;
    const uint32_t kChunk = 1024;
    unsigned char bytes[kChunk * 4];
    for (uint32_t first = 0; first < count; first += kChunk) {
        uint32_t n = count - first < kChunk ? count - first : kChunk;
        if (!SeekChartFile(file, (int32_t)(trailer + (uint64_t)first * 4), kFromStart) ||
            !ReadExactly(file, bytes, n * 4))
            return Fail(reporter, kErrorReadingHeader);
        for (uint32_t k = 0; k < n; ++k) offsets[first + k] = AssembleBigEndian(bytes + 4 * k);
    }
    return true;
}

// The rows after `rowNumber`, up to `lastRow`, whose bytes follow it in the
// file and fit in the buffer with it: the row ending the batch.
static uint32_t LastRowThatFits(const RowIndex& index, uint32_t rowNumber, uint32_t lastRow,
                                uint32_t capacity) {
    uint32_t start = index.offsets[rowNumber - 1];
    uint32_t last = rowNumber;
    while (last < lastRow && last + 1 < index.count) {
        uint32_t next = index.offsets[last + 1];
        bool follows = next >= index.offsets[last] && (uint64_t)index.offsets[last] <= kLargestOffset;
        if (!follows || next - start > capacity) break;
        ++last;
    }
    return last;
}

bool ReadIndexedRows(const PortFile& file, const RowIndex& index, unsigned char* buffer,
                     uint32_t* capacity, uint32_t rowNumber, uint32_t lastRow, RowBatch* batch,
                     Reporter* reporter) {
    if (rowNumber == 0 || rowNumber >= index.count)
        return FailRow(reporter, kErrorReadingRow, (int64_t)rowNumber - 1);
    uint32_t start = index.offsets[rowNumber - 1];
    uint32_t end = index.offsets[rowNumber];
    if (!CheckRowLength(start, end, capacity, rowNumber, reporter)) return false;
    uint32_t length = end - start;
    uint32_t last = LastRowThatFits(index, rowNumber, lastRow, *capacity);
    uint32_t delivered = 0;
    if ((uint64_t)start > kLargestOffset ||
        !ReadPortFile(file.handle, start, buffer, index.offsets[last] - start, &delivered) ||
        delivered < length)
        return FailRow(reporter, kErrorReadingRow, (int64_t)rowNumber - 1);
    while (index.offsets[last] - start > delivered) --last;
    batch->first = rowNumber;
    batch->end = last + 1;
    *capacity = length;
    return true;
}

bool ReadIndexedRow(const PortFile& file, const RowIndex& index, unsigned char* buffer,
                    uint32_t* capacity, uint32_t rowNumber, Reporter* reporter) {
    RowBatch batch;
    return ReadIndexedRows(file, index, buffer, capacity, rowNumber, rowNumber, &batch, reporter);
}

}  // namespace bsb
