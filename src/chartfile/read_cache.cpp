#include "chartfile/read_cache.h"

#include <string.h>

namespace bsb {

void AttachChartFile(ChartFile* file, PortFile port) {
    memset(file, 0, sizeof(*file));
    file->port = port;
    for (int i = 0; i < kCacheBlockCount; ++i) file->blocks[i].start = -1;
}

bool SeekChartFile(ChartFile* file, int32_t distance, SeekOrigin origin) {
    int64_t target = (origin == kFromEnd ? file->port.size : 0) + distance;
    if (target < 0) return false;
    file->position = target;
    return true;
}

static CacheBlock* FindBlock(ChartFile* file, int64_t offset) {
    for (int i = 0; i < kCacheBlockCount; ++i) {
        CacheBlock* block = &file->blocks[i];
        if (block->start >= 0 && offset >= block->start && offset < block->start + block->length)
            return block;
    }
    return 0;
}

static CacheBlock* LeastRecentlyUsed(ChartFile* file) {
    CacheBlock* oldest = &file->blocks[0];
    for (int i = 1; i < kCacheBlockCount; ++i)
        if (file->blocks[i].lastUse < oldest->lastUse) oldest = &file->blocks[i];
    return oldest;
}

// A block ending at the file's end holds the trailer and the index entries
// before it, so it is placed to end there when the offset is close to it.
static CacheBlock* FillBlock(ChartFile* file, int64_t offset) {
    CacheBlock* block = LeastRecentlyUsed(file);
    int64_t start = offset;
    if (start > file->port.size - (int64_t)kCacheBlockSize) start = file->port.size - kCacheBlockSize;
    if (start < 0) start = 0;
    uint32_t delivered = 0;
    block->start = -1;
    if (!ReadPortFile(file->port.handle, start, block->bytes, kCacheBlockSize, &delivered)) return 0;
    block->start = start;
    block->length = delivered;
    if (offset >= start + delivered) return 0;
    return block;
}

bool ReadChartFile(ChartFile* file, void* destination, uint32_t count, uint32_t* delivered) {
    unsigned char* out = (unsigned char*)destination;
    uint32_t done = 0;
    while (done < count && file->position < file->port.size) {
        uint32_t wanted = count - done;
        CacheBlock* block = FindBlock(file, file->position);
        if (!block && wanted >= kCacheBlockSize) {
            uint32_t got = 0;
            if (!ReadPortFile(file->port.handle, file->position, out + done, wanted, &got)) return false;
            done += got;
            file->position += got;
            break;
        }
        if (!block) block = FillBlock(file, file->position);
        if (!block) break;
        block->lastUse = ++file->useClock;
        int64_t available = block->start + block->length - file->position;
        uint32_t take = available < (int64_t)wanted ? (uint32_t)available : wanted;
        memcpy(out + done, block->bytes + (file->position - block->start), take);
        done += take;
        file->position += take;
    }
    *delivered = done;
    return true;
}

}  // namespace bsb
