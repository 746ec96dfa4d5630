// Chart files held in memory, for the fuzz build: the one chart a fuzz target
// registers opens under any valid path, exclusively like a file on disk, so
// that the library's reads take their usual road without the file system.
#include <string.h>

#include "platform.h"
#include "utf16.h"

namespace bsb {

struct MemoryChart {
    const unsigned char* bytes;
    int64_t size;
    bool open;
};

// Fuzz-only: the buffer the target registered before its calls.
static MemoryChart g_memoryChart = {0, 0, false};

void RegisterMemoryFile(const unsigned char* bytes, uint64_t size) {
    g_memoryChart.bytes = bytes;
    g_memoryChart.size = (int64_t)size;
    g_memoryChart.open = false;
}

bool MemoryFileIsOpen() {
    return g_memoryChart.open;
}

const uint32_t kPathCapacity = 4096;

bool OpenSystemFile(const unsigned short* path, intptr_t* handle, int64_t* size) {
    char systemPath[kPathCapacity];
    if (!path || !ConvertUtf16ToUtf8(path, systemPath, kPathCapacity, true)) return false;
    if (!g_memoryChart.bytes || g_memoryChart.open) return false;
    g_memoryChart.open = true;
    *handle = 1;
    *size = g_memoryChart.size;
    return true;
}

bool ReadSystemFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                    uint32_t* delivered) {
    if (handle != 1 || !g_memoryChart.open || offset < 0) return false;
    int64_t available = offset < g_memoryChart.size ? g_memoryChart.size - offset : 0;
    uint32_t take = available < (int64_t)count ? (uint32_t)available : count;
    if (take) memcpy(destination, g_memoryChart.bytes + offset, take);
    *delivered = take;
    return true;
}

void CloseSystemFile(intptr_t handle) {
    if (handle == 1) g_memoryChart.open = false;
}

}  // namespace bsb
