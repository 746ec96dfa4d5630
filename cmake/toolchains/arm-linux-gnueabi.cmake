# Linux on ARM with the soft-float EABI (Debian's armel): every floating-point
# operation is a call into the compiler's runtime. Programs run under qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(BSBCHART_ARM_PREFIX arm-linux-gnueabi)
set(CMAKE_C_COMPILER ${BSBCHART_ARM_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${BSBCHART_ARM_PREFIX}-g++)
set(CMAKE_C_FLAGS_INIT "-mfloat-abi=soft -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-mfloat-abi=soft -Wno-psabi")

set(CMAKE_FIND_ROOT_PATH /usr/${BSBCHART_ARM_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${BSBCHART_ARM_PREFIX})
