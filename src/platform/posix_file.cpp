// Chart files on POSIX systems. "No sharing" is an exclusive, non-blocking
// flock on the descriptor: a second open of the same chart, from this process
// or another, fails while the first is open.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "utf16.h"

namespace bsb {

const uint32_t kPathCapacity = 4096;

bool OpenSystemFile(const unsigned short* path, intptr_t* handle, int64_t* size) {
    char systemPath[kPathCapacity];
    if (!path || !ConvertUtf16ToUtf8(path, systemPath, kPathCapacity, true)) return false;
    int fd = open(systemPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    *handle = fd;
    *size = (int64_t)status.st_size;
    return true;
}

bool ReadSystemFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                    uint32_t* delivered) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t got = pread((int)handle, (char*)destination + done, count - done, (off_t)(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += (uint32_t)got;
    }
    *delivered = done;
    return true;
}

void CloseSystemFile(intptr_t handle) {
    close((int)handle);
}

}  // namespace bsb
