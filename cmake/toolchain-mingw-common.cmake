# SPDX-License-Identifier: MIT
# Shared part of the MinGW-w64 toolchain files: the including file sets CMAKE_SYSTEM_PROCESSOR and
# ORVELN1_MINGW_PREFIX (the target triplet). The win32 thread flavour: the module takes no lock and
# starts no thread, so it needs no POSIX thread layer.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ORVELN1_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ORVELN1_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ORVELN1_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${ORVELN1_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ORVELN1_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
