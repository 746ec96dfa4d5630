// Counts the file system calls the process makes. The executable is linked
// with -Wl,--wrap for each (see cmake/system_calls.cmake), so every call from
// its own objects, the library's among them, passes through here.
#include "system_calls.h"

#include <sys/types.h>

#if defined(_WIN32)
#include <windows.h>
#endif

static uint64_t g_systemCalls = 0;

void ResetSystemCalls() { g_systemCalls = 0; }
uint64_t SystemCalls() { return g_systemCalls; }

#if defined(_WIN32)
// The system's calls are reached through the import table: the test is
// linked with --wrap for ReadFile's pointer, which leads to the counter. A
// read at an offset is SetFilePointer and ReadFile there, one pread on POSIX;
// the ReadFile calls are what is counted.
extern "C" {
extern decltype(&ReadFile) __real___imp_ReadFile;

static BOOL WINAPI CountedReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD delivered,
                                   LPOVERLAPPED overlapped) {
    ++g_systemCalls;
    return __real___imp_ReadFile(file, buffer, count, delivered, overlapped);
}

decltype(&ReadFile) __wrap___imp_ReadFile = CountedReadFile;
}
#else
extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_pread(int fd, void* buffer, size_t count, off_t offset);
ssize_t __real_pread64(int fd, void* buffer, size_t count, off_t offset);
off_t __real_lseek(int fd, off_t offset, int whence);
off_t __real_lseek64(int fd, off_t offset, int whence);

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    ++g_systemCalls;
    return __real_read(fd, buffer, count);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t count, off_t offset) {
    ++g_systemCalls;
    return __real_pread(fd, buffer, count, offset);
}
ssize_t __wrap_pread64(int fd, void* buffer, size_t count, off_t offset) {
    ++g_systemCalls;
    return __real_pread64(fd, buffer, count, offset);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
    ++g_systemCalls;
    return __real_lseek(fd, offset, whence);
}
off_t __wrap_lseek64(int fd, off_t offset, int whence) {
    ++g_systemCalls;
    return __real_lseek64(fd, offset, whence);
}
}
#endif
