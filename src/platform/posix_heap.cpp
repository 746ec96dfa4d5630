// Heaps for platforms without one of their own: every block is a zero-filled
// allocation of the C library, chained into its heap so that the heap can
// count its blocks, enforce its maximum size and free what is left.
#include <stdlib.h>

#include "platform/platform.h"

namespace bsb {

struct BlockHeader {
    BlockHeader* previous;
    BlockHeader* next;
    struct ChartHeap* heap;
    uint64_t size;
};

// Keeps the block behind the header aligned for any type.
union AlignedHeader {
    BlockHeader header;
    long double alignLongDouble;
    uint64_t alignInteger;
    void* alignPointer;
};

struct ChartHeap {
    uint64_t maximumSize;  // 0: no limit
    uint64_t liveBytes;
    uint64_t blockCount;
    BlockHeader* first;
};

static BlockHeader* HeaderOf(void* block) {
    return &((AlignedHeader*)block - 1)->header;
}

static bool Admits(const ChartHeap* heap, uint64_t size) {
    if (size > (uint64_t)(size_t)-1 - sizeof(AlignedHeader)) return false;
    return heap->maximumSize == 0 || size <= heap->maximumSize - heap->liveBytes;
}

void* AllocateBlock(void* handle, uint64_t size) {
    ChartHeap* heap = (ChartHeap*)handle;
    if (!heap || !Admits(heap, size)) return 0;
    AlignedHeader* slot = (AlignedHeader*)calloc(1, (size_t)size + sizeof(AlignedHeader));
    if (!slot) return 0;
    BlockHeader* header = &slot->header;
    header->heap = heap;
    header->size = size;
    header->next = heap->first;
    if (heap->first) heap->first->previous = header;
    heap->first = header;
    heap->liveBytes += size;
    heap->blockCount += 1;
    return slot + 1;
}

void FreeBlock(void* handle, void* block) {
    ChartHeap* heap = (ChartHeap*)handle;
    if (!heap || !block) return;
    BlockHeader* header = HeaderOf(block);
    if (header->heap != heap) return;
    if (header->previous) header->previous->next = header->next;
    else heap->first = header->next;
    if (header->next) header->next->previous = header->previous;
    heap->liveBytes -= header->size;
    heap->blockCount -= 1;
    header->heap = 0;
    free((AlignedHeader*)block - 1);
}

void* CreateHostHeap(uint64_t maximumSize) {
    ChartHeap* heap = (ChartHeap*)calloc(1, sizeof(ChartHeap));
    if (heap) heap->maximumSize = maximumSize;
    return heap;
}

void DestroyHostHeap(void* handle) {
    ChartHeap* heap = (ChartHeap*)handle;
    if (!heap) return;
    while (heap->first) FreeBlock(heap, (AlignedHeader*)heap->first + 1);
    free(heap);
}

void* CreatePrivateHeap(uint32_t) {
    return CreateHostHeap(0);
}

void DestroyPrivateHeap(void* heap) {
    DestroyHostHeap(heap);
}

uint64_t CountHeapBlocks(void* handle) {
    return handle ? ((ChartHeap*)handle)->blockCount : 0;
}

void* AllocateSystemBlock(uint64_t size) {
    if (size > (uint64_t)(size_t)-1) return 0;
    return malloc(size ? (size_t)size : 1);
}

void FreeSystemBlock(void* block) {
    free(block);
}

}  // namespace bsb
