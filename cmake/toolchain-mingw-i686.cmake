# SPDX-License-Identifier: MIT
# Cross-builds orveln1.dll for 32-bit Windows with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVELN1_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "MinGW-w64 target triplet")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
