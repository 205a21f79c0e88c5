# SPDX-License-Identifier: MIT
# Strict warnings for every target of the project: g++ and clang++ both build warning-free. A build
# dependency only: linked privately (through $<BUILD_INTERFACE:...> where a target is installed), so
# it never reaches a consumer or the installed package.
add_library(orveln1_warnings INTERFACE)
target_compile_options(orveln1_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<COMPILE_LANGUAGE:CXX>:-Wshadow -Wnon-virtual-dtor -Wold-style-cast>)
if(ORVELN1_WERROR)
  target_compile_options(orveln1_warnings INTERFACE -Werror)
endif()
