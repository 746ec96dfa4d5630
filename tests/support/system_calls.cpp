// Counts the file system calls the process makes. The executable is linked
// with -Wl,--wrap for each (the systemcalls target's link options), so every
// call from its own objects, the library's among them, passes through here.
#include "system_calls.h"

#include <sys/types.h>

#if defined(_WIN32)
#include <windows.h>
#endif

static uint64_t g_systemCalls = 0;
static std::vector<SystemRead>* g_reads = nullptr;

void ResetSystemCalls() { g_systemCalls = 0; }
uint64_t SystemCalls() { return g_systemCalls; }
void RecordSystemReads(std::vector<SystemRead>* reads) { g_reads = reads; }

static void Count(int64_t offset, uint64_t count) {
    ++g_systemCalls;
    if (g_reads) g_reads->push_back({offset, count});
}

#if defined(_WIN32)
// The system's calls are reached through the import table: the test is
// linked with --wrap for ReadFile's pointer, which leads to the counter.
extern "C" {
extern decltype(&ReadFile) __real___imp_ReadFile;

static BOOL WINAPI CountedReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD delivered,
                                   LPOVERLAPPED overlapped) {
    int64_t offset = -1;
    if (overlapped)
        offset = static_cast<int64_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) |
                                      overlapped->Offset);
    Count(offset, count);
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
    Count(-1, count);
    return __real_read(fd, buffer, count);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t count, off_t offset) {
    Count(offset, count);
    return __real_pread(fd, buffer, count, offset);
}
ssize_t __wrap_pread64(int fd, void* buffer, size_t count, off_t offset) {
    Count(offset, count);
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
