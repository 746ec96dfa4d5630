// Host heaps: zero-filled, counted blocks, a maximum size, and on Windows
// the system's own heaps.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bsbchart_host.h"
#include "platform/platform.h"

namespace {

bool AllZero(const void* block, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

TEST(HostHeap, BlocksAreZeroFilledAndCounted) {
    void* heap = CreateChartHeap(0);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    // Dirty some memory and give it back, so that reuse would show.
    for (int round = 0; round < 2; ++round) {
        std::vector<void*> blocks;
        for (size_t size : {1u, 7u, 64u, 4096u, 1u << 20}) {
            void* block = bsb::AllocateBlock(heap, size);
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(AllZero(block, size)) << size;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(double), 0u);
            std::memset(block, 0xCD, size);
            blocks.push_back(block);
        }
        EXPECT_EQ(CountChartBlocks(heap), blocks.size());
        for (void* block : blocks) FreeChartBlock(heap, block);
        EXPECT_EQ(CountChartBlocks(heap), 0u);
    }
    FreeChartBlock(heap, nullptr);  // ignored
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

TEST(HostHeap, MaximumSizeRefusesWhatWouldExceedIt) {
    void* heap = CreateChartHeap(100);
    ASSERT_NE(heap, nullptr);
    void* a = bsb::AllocateBlock(heap, 60);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, 41), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    void* b = bsb::AllocateBlock(heap, 40);  // exactly up to the maximum
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, 1), nullptr);
    FreeChartBlock(heap, a);
    EXPECT_EQ(bsb::AllocateBlock(heap, 61), nullptr);
    void* c = bsb::AllocateBlock(heap, 60);  // freed bytes count again
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 2u);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 2u);
    DestroyChartHeap(heap);  // frees b and c
}

TEST(HostHeap, RefusesSizesBeyondTheAddressSpace) {
    void* heap = CreateChartHeap(0);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX), nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, UINT64_MAX - 8), nullptr);
    EXPECT_EQ(bsb::AllocateBlock(heap, uint64_t{1} << 62), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

TEST(HostHeap, DestroyFreesEveryBlockLeft) {
    // Run under a leak checker this shows the blocks going with the heap.
    void* heap = CreateChartHeap(0);
    for (int i = 0; i < 100; ++i) ASSERT_NE(bsb::AllocateBlock(heap, 1000 + i), nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 100u);
    DestroyChartHeap(heap);

    void* privateHeap = bsb::CreatePrivateHeap(1000);
    ASSERT_NE(privateHeap, nullptr);
    void* block = bsb::AllocateBlock(privateHeap, 100000);  // no maximum
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 100000));
    bsb::DestroyPrivateHeap(privateHeap);
}

#if !defined(_WIN32)
TEST(HostHeap, BlocksOfAnotherHeapAreNotFreed) {
    void* first = CreateChartHeap(0);
    void* second = CreateChartHeap(0);
    void* block = bsb::AllocateBlock(first, 16);
    FreeChartBlock(second, block);
    EXPECT_EQ(CountChartBlocks(first), 1u);
    FreeChartBlock(first, block);
    EXPECT_EQ(CountChartBlocks(first), 0u);
    DestroyChartHeap(first);
    DestroyChartHeap(second);
}

#else
// A heap the host made itself: blocks come zero-filled and counted, HeapFree
// takes them back, and a fixed-size heap refuses through the system's limit.
TEST(HostHeap, SystemHeapsServeAsHostHeaps) {
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    void* block = bsb::AllocateBlock(heap, 5000);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 5000));
    EXPECT_EQ(HeapSize(heap, 0, block), 5000u);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    HeapDestroy(heap);

    HANDLE fixed = HeapCreate(HEAP_NO_SERIALIZE, 0, 64 * 1024);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(bsb::AllocateBlock(fixed, 100 * 1024), nullptr);
    EXPECT_NE(bsb::AllocateBlock(fixed, 1000), nullptr);
    EXPECT_EQ(CountChartBlocks(fixed), 1u);
    HeapDestroy(fixed);
}

// A heap of CreateChartHeap is a system heap: the host may allocate and free
// on it with the system's calls, and its own blocks count towards the
// maximum.
TEST(HostHeap, ChartHeapsAreSystemHeaps) {
    void* heap = CreateChartHeap(100);
    ASSERT_NE(heap, nullptr);
    void* own = HeapAlloc(heap, 0, 60);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(CountChartBlocks(heap), 1u);
    EXPECT_EQ(bsb::AllocateBlock(heap, 41), nullptr);
    void* block = bsb::AllocateBlock(heap, 40);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_TRUE(HeapFree(heap, 0, own));
    EXPECT_EQ(CountChartBlocks(heap), 0u);
    DestroyChartHeap(heap);
}

#endif

}  // namespace
