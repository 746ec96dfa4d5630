#include "system_calls.h"

#include <sys/types.h>

namespace {
uint64_t g_calls = 0;
}

void ResetSystemCalls() { g_calls = 0; }
uint64_t SystemCalls() { return g_calls; }

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_pread(int fd, void* buffer, size_t count, off_t offset);
ssize_t __real_pread64(int fd, void* buffer, size_t count, off_t offset);
off_t __real_lseek(int fd, off_t offset, int whence);
off_t __real_lseek64(int fd, off_t offset, int whence);

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    ++g_calls;
    return __real_read(fd, buffer, count);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t count, off_t offset) {
    ++g_calls;
    return __real_pread(fd, buffer, count, offset);
}
ssize_t __wrap_pread64(int fd, void* buffer, size_t count, off_t offset) {
    ++g_calls;
    return __real_pread64(fd, buffer, count, offset);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
    ++g_calls;
    return __real_lseek(fd, offset, whence);
}
off_t __wrap_lseek64(int fd, off_t offset, int whence) {
    ++g_calls;
    return __real_lseek64(fd, offset, whence);
}
}
