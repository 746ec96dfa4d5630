// What the rest of the library sees of the operating system: chart files,
// heap blocks and the message reporter.
#ifndef BSBCHART_PLATFORM_H
#define BSBCHART_PLATFORM_H

#include <stdint.h>

namespace bsb {

// Small reads are served from a few windows of the file, so that reading rows
// top to bottom, with their index entries and the trailer looked up afresh for
// each row, costs about one system call per window's worth of rows.
const uint32_t kFileWindowSize = 4096;
const int kFileWindowCount = 3;

struct FileWindow {
    int64_t start;    // file offset of bytes[0]
    uint32_t length;  // valid bytes
    uint32_t lastUse;
    unsigned char bytes[kFileWindowSize];
};

struct ChartFile {
    intptr_t handle;
    int64_t size;      // bytes in the file, learnt at open
    int64_t position;  // where the next read starts
    uint32_t useClock;
    FileWindow windows[kFileWindowCount];
};

enum SeekOrigin { kFromStart, kFromEnd };

// Opens an existing file for reading, shared with no other opener. Fails on a
// path that is not valid UTF-16.
bool OpenChartFile(ChartFile* file, const unsigned short* path);
void CloseChartFile(ChartFile* file);

// Positions like the system call: a signed 32-bit distance from the start or
// the end. Fails before the start of the file.
bool SeekChartFile(ChartFile* file, int32_t distance, SeekOrigin origin);

// Reads up to `count` bytes at the current position; `delivered` receives how
// many came. Fails only on an error of the system.
bool ReadChartFile(ChartFile* file, void* destination, uint32_t count, uint32_t* delivered);

// The operating system's side of a chart file, used by the windows above.
bool OpenSystemFile(const unsigned short* path, intptr_t* handle, int64_t* size);
bool ReadSystemFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                    uint32_t* delivered);
void CloseSystemFile(intptr_t handle);

// Zero-filled blocks of a host's heap, without serialization. A size that
// does not fit the platform's address space fails like an exhausted heap.
void* AllocateBlock(void* heap, uint64_t size);
void FreeBlock(void* heap, void* block);

// The private heap of a call: no serialization, no maximum size.
void* CreatePrivateHeap(uint32_t initialSize);
void DestroyPrivateHeap(void* heap);

// Shows one fixed ASCII message of the library to the user.
void ReportMessage(const char* text);

// Shows "Cannot open file: <path>." with the path cut to fit 500 UTF-16 units.
void ReportCannotOpen(const unsigned short* path);

}  // namespace bsb

#endif
