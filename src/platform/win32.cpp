// The platform layer on the Win32 API: chart files, heaps, the message box
// and the text formatter of the system, and the library's load entry.
#include <windows.h>

#include "../../include/bsbchart_host.h"
#include "messages.h"
#include "platform.h"
#include "utf16.h"

namespace bsb {

// ---- Chart files ----------------------------------------------------------

static HANDLE HandleOf(intptr_t handle) { return (HANDLE)handle; }

// Moves the file pointer to `offset` from `method`'s origin; `position`
// receives where it landed.
static bool MoveFilePointer(HANDLE file, int64_t offset, DWORD method, int64_t* position) {
    LONG high = (LONG)(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file, (LONG)(uint32_t)offset, &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    *position = (int64_t)(((uint64_t)(uint32_t)high << 32) | low);
    return true;
}

bool OpenSystemFile(const unsigned short* path, intptr_t* handle, int64_t* size) {
    // The system would take an unpaired surrogate as a name of its own; such a
    // path names no chart.
    if (!path || !IsWellFormedUtf16(path)) return false;
    HANDLE file = CreateFileW((LPCWSTR)path, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_READONLY, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    int64_t end = 0;
    if (!MoveFilePointer(file, 0, FILE_END, &end)) {
        CloseHandle(file);
        return false;
    }
    *handle = (intptr_t)file;
    *size = end;
    return true;
}

bool ReadSystemFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                    uint32_t* delivered) {
    int64_t position = 0;
    if (!MoveFilePointer(HandleOf(handle), offset, FILE_BEGIN, &position)) return false;
    uint32_t done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(HandleOf(handle), (char*)destination + done, count - done, &got, NULL))
            return false;
        if (got == 0) break;
        done += got;
    }
    *delivered = done;
    return true;
}

void CloseSystemFile(intptr_t handle) {
    CloseHandle(HandleOf(handle));
}

// ---- Heaps ----------------------------------------------------------------

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

static void* CreateHeap(uint64_t maximumSize) {
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

static uint64_t CountBlocks(HANDLE heap) {
    PROCESS_HEAP_ENTRY entry;
    uint64_t blocks = 0, bytes = 0;
    if (!LimitOf(heap, &entry)) entry.lpData = NULL;  // the first block is the host's: start again
    CountRemainingBlocks(heap, &entry, &blocks, &bytes);
    return blocks;
}

// ---- Messages -------------------------------------------------------------

void ShowSystemMessage(const unsigned short* text) {
    MessageBoxW(NULL, (LPCWSTR)text, NULL, MB_OK);
}

// The path is cut before formatting, never inside a surrogate pair, so that
// the text and its terminator fit kMessageCapacity units.
uint32_t FormatCannotOpen(const unsigned short* path, unsigned short* out) {
    const uint32_t kRoom = kMessageCapacity - sizeof("Cannot open file: .");
    WCHAR cut[kRoom + 1];
    uint32_t length = 0;
    for (; path && path[length] != 0 && length < kRoom; ++length) cut[length] = path[length];
    bool truncated = path && path[length] != 0;
    if (truncated && length > 0 && cut[length - 1] >= 0xD800 && cut[length - 1] <= 0xDBFF)
        --length;
    cut[length] = 0;
    return (uint32_t)wsprintfW((LPWSTR)out, L"Cannot open file: %s.", cut);
}

}  // namespace bsb

// ---- Host services --------------------------------------------------------

void* CreateChartHeap(std::size_t maximumSize) {
    return bsb::CreateHeap(maximumSize);
}

void FreeChartBlock(void* heap, void* block) {
    bsb::FreeBlock(heap, block);
}

void DestroyChartHeap(void* heap) {
    if (heap) HeapDestroy(bsb::HeapOf(heap));
}

std::size_t CountChartBlocks(void* heap) {
    return heap ? (std::size_t)bsb::CountBlocks(bsb::HeapOf(heap)) : 0;
}

// Loading and unloading the library need no work.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
