// A chart file opened through the port, its small reads served from a few
// cached blocks of the file, so that reading rows top to bottom, with their
// index entries and the trailer looked up afresh for each row, costs about
// one system call per block's worth of rows.
#ifndef BSBCHART_READ_CACHE_H
#define BSBCHART_READ_CACHE_H

#include <stdint.h>

#include "platform/platform.h"

namespace bsb {

const uint32_t kCacheBlockSize = 4096;
const int kCacheBlockCount = 3;

struct CacheBlock {
    int64_t start;    // file offset of bytes[0]; -1 when empty
    uint32_t length;  // valid bytes
    uint32_t lastUse;
    unsigned char bytes[kCacheBlockSize];
};

struct ChartFile {
    PortFile port;
    int64_t position;  // where the next read starts
    uint32_t useClock;
    CacheBlock blocks[kCacheBlockCount];
};

enum SeekOrigin { kFromStart, kFromEnd };

// Starts reading an open port file through an empty cache.
void AttachChartFile(ChartFile* file, PortFile port);

// Positions like the system call: a signed 32-bit distance from the start or
// the end. Fails before the start of the file.
bool SeekChartFile(ChartFile* file, int32_t distance, SeekOrigin origin);

// Reads up to `count` bytes at the current position; `delivered` receives how
// many came. Fails only on an error of the system.
bool ReadChartFile(ChartFile* file, void* destination, uint32_t count, uint32_t* delivered);

}  // namespace bsb

#endif
