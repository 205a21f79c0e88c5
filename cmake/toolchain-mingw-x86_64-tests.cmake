# SPDX-License-Identifier: MIT
# The x86_64 MinGW-w64 toolchain for the cross-built unit tests (scripts/cross-test.sh): GoogleTest and
# the test build's block accounting take a std::mutex, which only the posix thread flavour has.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-x86_64.cmake)
set(CMAKE_C_COMPILER ${ORVELN1_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVELN1_MINGW_PREFIX}-g++-posix)
