#include "chart_file.h"

#include "../platform/platform.h"

namespace bsb {

// Offsets go to the platform's positioning as signed 32-bit distances.
const uint64_t kLargestOffset = 0x7FFFFFFF;

bool OpenChart(ChartFile* file, const unsigned short* path) {
    if (OpenChartFile(file, path)) return true;
    ReportCannotOpen(path);
    return false;
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

bool ReadHeaderLength(ChartFile* file, uint32_t* length) {
    uint32_t trailer = 0;
    uint32_t value = 0;
    if (!ReadTrailer(file, &trailer) || !ReadBigEndian32(file, trailer, &value) || value == 0 ||
        (int64_t)value > file->size) {
        ReportMessage("Error reading header.");
        return false;
    }
    *length = value;
    return true;
}

static uint32_t TextLength(const char* bytes, uint32_t size) {
    uint32_t length = 0;
    while (length < size && bytes[length] != 0) ++length;
    return length;
}

bool LoadHeaderBlock(ChartFile* file, void* heap, uint32_t length, HeaderBlock* block) {
    block->bytes = (char*)AllocateBlock(heap, length);
    block->size = length;
    block->textLength = 0;
    if (!block->bytes) {
        ReportMessage("Cannot allocate memory to save header section.");
        return false;
    }
    if (!SeekChartFile(file, 0, kFromStart) || !ReadExactly(file, block->bytes, length)) {
        ReportMessage("Error reading header.");
        return false;
    }
    block->textLength = TextLength(block->bytes, length);
    return true;
}

int CompressionType(const HeaderBlock& block) {
    return (signed char)block.bytes[block.size - 1];
}

bool ReadRasterRow(ChartFile* file, unsigned char* buffer, uint32_t* capacity, uint32_t rowNumber) {
    uint32_t trailer = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    if (rowNumber == 0 || !ReadTrailer(file, &trailer) ||
        !ReadBigEndian32(file, (uint64_t)trailer + ((uint64_t)rowNumber - 1) * 4, &start) ||
        !ReadTrailer(file, &trailer) ||
        !ReadBigEndian32(file, (uint64_t)trailer + (uint64_t)rowNumber * 4, &end)) {
        ReportMessage("Error reading one line image.");
        return false;
    }
    uint32_t length = end - start;
    if (length > *capacity) {
        ReportMessage("real line size is bigger than you expected.");
        *capacity = length;
        return false;
    }
    if ((uint64_t)start > kLargestOffset || !SeekChartFile(file, (int32_t)start, kFromStart) ||
        !ReadExactly(file, buffer, length)) {
        ReportMessage("Error reading one line image.");
        return false;
    }
    *capacity = length;
    return true;
}

}  // namespace bsb
