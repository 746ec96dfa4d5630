// Chart file reads served from a few cached windows of the file.
#include <string.h>

#include "platform.h"

namespace bsb {

bool OpenChartFile(ChartFile* file, const unsigned short* path) {
    memset(file, 0, sizeof(*file));
    for (int i = 0; i < kFileWindowCount; ++i) file->windows[i].start = -1;
    return OpenSystemFile(path, &file->handle, &file->size);
}

void CloseChartFile(ChartFile* file) {
    CloseSystemFile(file->handle);
}

bool SeekChartFile(ChartFile* file, int32_t distance, SeekOrigin origin) {
    int64_t target = (origin == kFromEnd ? file->size : 0) + distance;
    if (target < 0) return false;
    file->position = target;
    return true;
}

static FileWindow* FindWindow(ChartFile* file, int64_t offset) {
    for (int i = 0; i < kFileWindowCount; ++i) {
        FileWindow* window = &file->windows[i];
        if (window->start >= 0 && offset >= window->start &&
            offset < window->start + window->length)
            return window;
    }
    return 0;
}

static FileWindow* LeastRecentlyUsed(ChartFile* file) {
    FileWindow* oldest = &file->windows[0];
    for (int i = 1; i < kFileWindowCount; ++i)
        if (file->windows[i].lastUse < oldest->lastUse) oldest = &file->windows[i];
    return oldest;
}

// A window ending at the file's end holds the trailer and the index entries
// before it, so it is placed to end there when the offset is close to it.
static FileWindow* FillWindow(ChartFile* file, int64_t offset) {
    FileWindow* window = LeastRecentlyUsed(file);
    int64_t start = offset;
    if (start > file->size - (int64_t)kFileWindowSize) start = file->size - kFileWindowSize;
    if (start < 0) start = 0;
    uint32_t delivered = 0;
    window->start = -1;
    if (!ReadSystemFile(file->handle, start, window->bytes, kFileWindowSize, &delivered))
        return 0;
    window->start = start;
    window->length = delivered;
    if (offset >= start + delivered) return 0;
    return window;
}

bool ReadChartFile(ChartFile* file, void* destination, uint32_t count, uint32_t* delivered) {
    unsigned char* out = (unsigned char*)destination;
    uint32_t done = 0;
    while (done < count && file->position < file->size) {
        uint32_t wanted = count - done;
        FileWindow* window = FindWindow(file, file->position);
        if (!window && wanted >= kFileWindowSize) {
            uint32_t got = 0;
            if (!ReadSystemFile(file->handle, file->position, out + done, wanted, &got))
                return false;
            done += got;
            file->position += got;
            break;
        }
        if (!window) window = FillWindow(file, file->position);
        if (!window) break;
        window->lastUse = ++file->useClock;
        int64_t available = window->start + window->length - file->position;
        uint32_t take = available < (int64_t)wanted ? (uint32_t)available : wanted;
        memcpy(out + done, window->bytes + (file->position - window->start), take);
        done += take;
        file->position += take;
    }
    *delivered = done;
    return true;
}

}  // namespace bsb
