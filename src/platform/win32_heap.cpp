// Heaps on the Win32 API: any heap a host makes with HeapCreate serves, and
// CreateHostHeap makes one that can also keep to a maximum size.
#include <windows.h>

#include "platform/platform.h"

namespace bsb {

// A heap from CreateChartHeap with a maximum size is a growable system heap
// whose first block records that maximum. The system's own maximum cannot
// stand in for it: a fixed-size heap spends part of its maximum on its own
// bookkeeping and refuses single blocks above 512 KB (1 MB on 64-bit
// Windows) whatever room it has left.
struct HeapLimit {
    uint64_t magic;
    HANDLE heap;
    uint64_t maximumSize;
};

const uint64_t kHeapLimitMagic = 0x74696D696C425342ull;  // "BSBlimit"

static HANDLE HeapOf(void* heap) { return (HANDLE)heap; }

static bool IsBusy(const PROCESS_HEAP_ENTRY& entry) {
    return (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
}

// Steps to the next allocated block of the heap; false at the end.
static bool NextBusyEntry(HANDLE heap, PROCESS_HEAP_ENTRY* entry) {
    while (HeapWalk(heap, entry))
        if (IsBusy(*entry)) return true;
    return false;
}

// The limit record when the heap's first block is one; NULL otherwise, as for
// every heap a host made itself.
static const HeapLimit* LimitOf(HANDLE heap, PROCESS_HEAP_ENTRY* entry) {
    entry->lpData = NULL;
    if (!NextBusyEntry(heap, entry) || entry->cbData < sizeof(HeapLimit)) return 0;
    const HeapLimit* limit = (const HeapLimit*)entry->lpData;
    if (limit->magic != kHeapLimitMagic || limit->heap != heap) return 0;
    return limit;
}

// Counts the blocks and their bytes after the one `entry` stands on.
static void CountRemainingBlocks(HANDLE heap, PROCESS_HEAP_ENTRY* entry, uint64_t* blocks,
                                 uint64_t* bytes) {
    while (NextBusyEntry(heap, entry)) {
        *blocks += 1;
        *bytes += entry->cbData;
    }
}

static bool Admits(HANDLE heap, uint64_t size) {
    if ((uint64_t)(SIZE_T)size != size) return false;
    PROCESS_HEAP_ENTRY entry;
    const HeapLimit* limit = LimitOf(heap, &entry);
    if (!limit) return true;
    uint64_t maximumSize = limit->maximumSize;
    uint64_t blocks = 0, liveBytes = 0;
    CountRemainingBlocks(heap, &entry, &blocks, &liveBytes);
    return liveBytes <= maximumSize && size <= maximumSize - liveBytes;
}

void* AllocateBlock(void* heap, uint64_t size) {
    if (!heap || !Admits(HeapOf(heap), size)) return 0;
    return HeapAlloc(HeapOf(heap), HEAP_ZERO_MEMORY, (SIZE_T)size);
}

void FreeBlock(void* heap, void* block) {
    if (heap && block) HeapFree(HeapOf(heap), 0, block);
}

void* CreatePrivateHeap(uint32_t initialSize) {
    return HeapCreate(HEAP_NO_SERIALIZE, initialSize, 0);
}

void DestroyPrivateHeap(void* heap) {
    if (heap) HeapDestroy(HeapOf(heap));
}

void* CreateHostHeap(uint64_t maximumSize) {
    HANDLE heap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
    if (!heap || maximumSize == 0) return heap;
    HeapLimit* limit = (HeapLimit*)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(HeapLimit));
    if (!limit) {
        HeapDestroy(heap);
        return 0;
    }
    limit->magic = kHeapLimitMagic;
    limit->heap = heap;
    limit->maximumSize = maximumSize;
    return heap;
}

uint64_t CountHeapBlocks(void* handle) {
    if (!handle) return 0;
    HANDLE heap = HeapOf(handle);
    PROCESS_HEAP_ENTRY entry;
    uint64_t blocks = 0, bytes = 0;
    if (!LimitOf(heap, &entry)) entry.lpData = NULL;  // the first block is the host's: start again
    CountRemainingBlocks(heap, &entry, &blocks, &bytes);
    return blocks;
}

void DestroyHostHeap(void* heap) {
    if (heap) HeapDestroy(HeapOf(heap));
}

void* AllocateSystemBlock(uint64_t size) {
    if ((uint64_t)(SIZE_T)size != size) return 0;
    return HeapAlloc(GetProcessHeap(), 0, size ? (SIZE_T)size : 1);
}

void FreeSystemBlock(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace bsb
