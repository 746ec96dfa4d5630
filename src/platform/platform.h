// The operating-system port: everything a platform provides to the library.
// A new platform implements exactly these functions, nothing else.
#ifndef BSBCHART_PLATFORM_H
#define BSBCHART_PLATFORM_H

#include <stdint.h>

namespace bsb {

// ---- Files -----------------------------------------------------------------

// How the system names files: false for bytes (POSIX, UTF-8 by custom),
// true for UTF-16 (Windows). OpenPortFile's path is of that form.
extern const bool kPortPathsAreUtf16;

// Paths hold at most this many bytes or units, terminator included.
const uint32_t kPathCapacity = 4096;

enum PortShare { kPortExclusive, kPortShared };

// Why an open failed.
enum PortOpenFailure {
    kPortOpenRefused,    // for another reason
    kPortNoSuchFile,
    kPortNoPermission,
    kPortInUse,          // the sharing asked for conflicts with another opener
    kPortNotRegular,     // a directory, device or pipe
    kPortBadPath         // a name the system cannot take
};

struct PortFile {
    intptr_t handle;
    int64_t size;  // bytes in the file, learnt at open
};

// Opens an existing regular file for reading. kPortExclusive shares it with
// no other opener; kPortShared with other shared openers only. Never blocks.
// On failure `failure` and `systemError` (the system's code) say why.
bool OpenPortFile(const void* path, PortShare share, PortFile* file, PortOpenFailure* failure,
                  int32_t* systemError);

// Reads up to `count` bytes at `offset`; `delivered` receives how many came.
// Fails only on an error of the system. Reads of one file from several
// threads at once do not disturb each other.
bool ReadPortFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                  uint32_t* delivered);

void ClosePortFile(intptr_t handle);

// ---- Heaps -----------------------------------------------------------------

// Zero-filled blocks of a host's heap, without serialization. A size that
// does not fit the platform's address space fails like an exhausted heap.
void* AllocateBlock(void* heap, uint64_t size);
void FreeBlock(void* heap, void* block);

// The private heap of a call: no serialization, no maximum size.
void* CreatePrivateHeap(uint32_t initialSize);
void DestroyPrivateHeap(void* heap);

// A host heap: with a maximum size it refuses any allocation that would
// bring its live bytes above it; 0 means no limit.
void* CreateHostHeap(uint64_t maximumSize);
void DestroyHostHeap(void* heap);
uint64_t CountHeapBlocks(void* heap);

// Blocks of the process's own allocator, usable from any thread; not zeroed.
void* AllocateSystemBlock(uint64_t size);
void FreeSystemBlock(void* block);

// ---- Messages --------------------------------------------------------------

// Shows one UTF-16 text to the user and returns when the user is done.
void ShowSystemMessage(const unsigned short* text);

// Formats "Cannot open file: <path>." with the system's own formatter into
// `out` (500 units), `path` already cut to fit. False when the platform has
// no formatter of its own; the library then composes the text itself.
bool FormatCannotOpen(const unsigned short* path, unsigned short* out);

}  // namespace bsb

#endif
