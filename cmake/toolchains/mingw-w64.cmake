# Windows on x86-64 with Debian's mingw-w64 cross compiler; programs run
# under Wine. The posix-thread variant of the compiler gives the tests
# std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BSBCHART_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BSBCHART_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BSBCHART_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BSBCHART_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BSBCHART_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program carries its C++ and thread runtimes, so that it needs nothing
# but the system's DLLs and the library's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all /usr/lib/wine/wine64)
