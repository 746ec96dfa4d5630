// Chart files on POSIX systems. Sharing is a non-blocking flock on the
// descriptor: an exclusive opener excludes every other opener of the same
// file, from this process or another; shared openers exclude only exclusive
// ones.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace bsb {

const bool kPortPathsAreUtf16 = false;

static PortOpenFailure FailureOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return kPortNoSuchFile;
    case EACCES:
    case EPERM:
        return kPortNoPermission;
    case ENAMETOOLONG:
    case EILSEQ:
        return kPortBadPath;
    case EWOULDBLOCK:
        return kPortInUse;
    default:
        return kPortOpenRefused;
    }
}

static bool Refuse(int fd, int error, PortOpenFailure* failure, int32_t* systemError) {
    if (fd >= 0) close(fd);
    *failure = FailureOf(error);
    *systemError = error;
    return false;
}

bool OpenPortFile(const void* path, PortShare share, PortFile* file, PortOpenFailure* failure,
                  int32_t* systemError) {
    int fd = open((const char*)path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Refuse(-1, errno, failure, systemError);
    struct stat status;
    if (fstat(fd, &status) != 0) return Refuse(fd, errno, failure, systemError);
    if (!S_ISREG(status.st_mode)) {
        Refuse(fd, 0, failure, systemError);
        *failure = kPortNotRegular;
        return false;
    }
    if (flock(fd, (share == kPortShared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
        return Refuse(fd, errno, failure, systemError);
    file->handle = fd;
    file->size = (int64_t)status.st_size;
    return true;
}

bool ReadPortFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
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

void ClosePortFile(intptr_t handle) {
    close((int)handle);
}

}  // namespace bsb
