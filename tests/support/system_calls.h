// Counts the file system calls the process makes: on POSIX read, pread and
// lseek, on Windows ReadFile (a read at an offset there is SetFilePointer and
// ReadFile, one pread on POSIX).
#ifndef BSBCHART_SYSTEM_CALLS_H
#define BSBCHART_SYSTEM_CALLS_H

#include <cstdint>

void ResetSystemCalls();
uint64_t SystemCalls();

#endif
