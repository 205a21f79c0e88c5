# SPDX-License-Identifier: MIT
# Cross-builds for 32-bit x86 Linux with Debian's cross compiler, at the instruction-set floor of the
# 32-bit orveln1.dll (what i686-w64-mingw32-gcc targets by default: pentiumpro, x87 floating point,
# no MMX and no SSE), so that the code the 32-bit module runs is tested on a machine whose kernel
# cannot start 32-bit programs. Programs run under qemu-user, which needs no such kernel support.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVELN1_CROSS_PREFIX i686-linux-gnu CACHE STRING "cross compiler triplet")

set(CMAKE_C_COMPILER ${ORVELN1_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ORVELN1_CROSS_PREFIX}-g++)
set(CMAKE_C_FLAGS_INIT "-march=pentiumpro -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=pentiumpro -mtune=generic")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/${ORVELN1_CROSS_PREFIX})

set(CMAKE_FIND_ROOT_PATH /usr/${ORVELN1_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
