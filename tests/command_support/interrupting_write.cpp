// Preloaded into the bsbchart command by command_test.py: the first write(2)
// to a file whose name holds ".part-" (the command's temporary output) writes
// half of its bytes, then raises the signal numbered in
// BSBCHART_TEST_SIGNAL, as if the user interrupted the command mid-write.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

using WriteFunction = ssize_t (*)(int, const void*, size_t);

bool IsTemporaryOutput(int fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    const char* name = strrchr(target, '/');
    return name && strstr(name, ".part-");
}

}  // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
    static WriteFunction real = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    static bool raised = false;
    const char* signal = getenv("BSBCHART_TEST_SIGNAL");
    if (!raised && signal && fd > 2 && count > 1 && IsTemporaryOutput(fd)) {
        raised = true;
        const ssize_t wrote = real(fd, bytes, count / 2);
        raise(atoi(signal));
        return wrote;
    }
    return real(fd, bytes, count);
}
