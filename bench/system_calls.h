// Counts the file system calls the process makes: the executable is linked
// with -Wl,--wrap for each, so every call from its own objects (the library's
// among them) passes through here.
#ifndef BSBCHART_BENCH_SYSTEM_CALLS_H
#define BSBCHART_BENCH_SYSTEM_CALLS_H

#include <cstdint>

void ResetSystemCalls();
uint64_t SystemCalls();

#endif
