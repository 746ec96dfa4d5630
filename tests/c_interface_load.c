/* Loads the library at run time, as a foreign-function interface does, and
 * finds every function the header declares by its C name: dlopen and dlsym
 * on POSIX, LoadLibrary and GetProcAddress on Windows. Then calls two of
 * them through the pointers found. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "c_interface_names.h"

typedef const char* (*VersionFunction)(void);
typedef const char* (*StrerrorFunction)(int32_t);

int main(int argc, char** argv) {
    size_t count = sizeof kNames / sizeof kNames[0];
    size_t i, found = 0;
    VersionFunction version = NULL;
    StrerrorFunction strerror_ = NULL;
#if defined(_WIN32)
    HMODULE library;
#else
    void* library;
#endif
    if (argc != 2) {
        printf("usage: c_interface_load LIBRARY\n");
        return 2;
    }
#if defined(_WIN32)
    library = LoadLibraryA(argv[1]);
    if (!library) {
        printf("LoadLibrary(%s) failed: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
#else
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        printf("dlopen(%s) failed: %s\n", argv[1], dlerror());
        return 1;
    }
#endif
    for (i = 0; i < count; ++i) {
#if defined(_WIN32)
        FARPROC address = GetProcAddress(library, kNames[i]);
#else
        void* address = dlsym(library, kNames[i]);
#endif
        if (!address) {
            printf("%s not found\n", kNames[i]);
            continue;
        }
        ++found;
        /* Object and function pointers meet only through their bytes in ISO C. */
        if (strcmp(kNames[i], "bsbchart_version") == 0) memcpy(&version, &address, sizeof version);
        if (strcmp(kNames[i], "bsbchart_strerror") == 0) memcpy(&strerror_, &address, sizeof strerror_);
    }
    printf("found %lu of %lu names\n", (unsigned long)found, (unsigned long)count);
    if (found != count || count < 20 || !version || !strerror_) return 1;
    if (strcmp(version(), "1.1.0") != 0 || strcmp(strerror_(3), "no such file") != 0) {
        printf("the functions found do not answer as the library's\n");
        return 1;
    }
#if defined(_WIN32)
    FreeLibrary(library);
#else
    dlclose(library);
#endif
    return 0;
}
