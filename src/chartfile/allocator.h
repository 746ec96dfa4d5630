// Where a call's blocks come from: a host heap, or the allocate and release
// callbacks a host of the C interface passes.
#ifndef BSBCHART_ALLOCATOR_H
#define BSBCHART_ALLOCATOR_H

#include <stdint.h>

namespace bsb {

struct Allocator {
    void* (*allocate)(void* context, uint64_t size);
    void (*release)(void* context, void* block);
    void* context;
    bool zeroed;  // blocks come zero-filled
};

// Blocks of a host heap, zero-filled by the heap.
Allocator HeapAllocator(void* heap);

// A zero-filled block, or NULL.
void* Allocate(const Allocator& allocator, uint64_t size);

// Releases a block; NULL is ignored.
void Release(const Allocator& allocator, void* block);

}  // namespace bsb

#endif
