// The file port of the fuzz build: the one chart a fuzz target registers
// opens under any path, exclusively or shared like a file on disk, so that
// the library's reads take their usual road without the file system.
#include <string.h>

#include "memory_chart.h"
#include "platform/platform.h"

namespace bsb {

const bool kPortPathsAreUtf16 = false;

struct MemoryChart {
    const unsigned char* bytes;
    int64_t size;
    int exclusiveOpeners;
    int sharedOpeners;
};

// The buffer the target registered before its calls.
static MemoryChart g_memoryChart = {0, 0, 0, 0};

void RegisterMemoryFile(const unsigned char* bytes, uint64_t size) {
    g_memoryChart.bytes = bytes;
    g_memoryChart.size = (int64_t)size;
    g_memoryChart.exclusiveOpeners = 0;
    g_memoryChart.sharedOpeners = 0;
}

bool OpenPortFile(const void*, PortShare share, PortFile* file, PortOpenFailure* failure,
                  int32_t* systemError) {
    *systemError = 0;
    if (!g_memoryChart.bytes) {
        *failure = kPortNoSuchFile;
        return false;
    }
    bool busy = g_memoryChart.exclusiveOpeners > 0 ||
                (share == kPortExclusive && g_memoryChart.sharedOpeners > 0);
    if (busy) {
        *failure = kPortInUse;
        return false;
    }
    if (share == kPortExclusive) g_memoryChart.exclusiveOpeners += 1;
    else g_memoryChart.sharedOpeners += 1;
    file->handle = share == kPortExclusive ? 1 : 2;
    file->size = g_memoryChart.size;
    return true;
}

bool ReadPortFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                  uint32_t* delivered) {
    if ((handle != 1 && handle != 2) || offset < 0) return false;
    int64_t available = offset < g_memoryChart.size ? g_memoryChart.size - offset : 0;
    uint32_t take = available < (int64_t)count ? (uint32_t)available : count;
    if (take) memcpy(destination, g_memoryChart.bytes + offset, take);
    *delivered = take;
    return true;
}

void ClosePortFile(intptr_t handle) {
    if (handle == 1 && g_memoryChart.exclusiveOpeners > 0) g_memoryChart.exclusiveOpeners -= 1;
    if (handle == 2 && g_memoryChart.sharedOpeners > 0) g_memoryChart.sharedOpeners -= 1;
}

}  // namespace bsb
