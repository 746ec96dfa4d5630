#include "chartfile/allocator.h"

#include <string.h>

#include "platform/platform.h"

namespace bsb {

static void* AllocateFromHeap(void* heap, uint64_t size) {
    return AllocateBlock(heap, size);
}

static void ReleaseToHeap(void* heap, void* block) {
    FreeBlock(heap, block);
}

Allocator HeapAllocator(void* heap) {
    Allocator allocator = {AllocateFromHeap, ReleaseToHeap, heap, true};
    return allocator;
}

void* Allocate(const Allocator& allocator, uint64_t size) {
    if (size > (uint64_t)(size_t)-1) return 0;
    void* block = allocator.allocate(allocator.context, size);
    if (block && !allocator.zeroed) memset(block, 0, (size_t)size);
    return block;
}

void Release(const Allocator& allocator, void* block) {
    if (block) allocator.release(allocator.context, block);
}

}  // namespace bsb
