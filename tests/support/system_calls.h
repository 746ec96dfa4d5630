// Counts the file system calls the process makes: on POSIX read, pread and
// lseek, on Windows ReadFile (a read at an offset there is one ReadFile with
// the offset in its OVERLAPPED, one pread on POSIX). An executable links the
// systemcalls target (tests/support/CMakeLists.txt) for it.
#ifndef BSBCHART_SYSTEM_CALLS_H
#define BSBCHART_SYSTEM_CALLS_H

#include <cstdint>
#include <vector>

void ResetSystemCalls();
uint64_t SystemCalls();

// A read of `count` bytes asked of the system; `offset` is where it starts,
// or -1 for a read at the file's current position.
struct SystemRead {
    int64_t offset;
    uint64_t count;
};

// While `reads` is not null, every read the process asks of the system is
// appended to it, in order; null stops the recording.
void RecordSystemReads(std::vector<SystemRead>* reads);

#endif
