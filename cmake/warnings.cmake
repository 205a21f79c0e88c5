# Strict warnings for every target of the project: g++ and clang++ both build warning-free.
add_library(orveln1_warnings INTERFACE)
target_compile_options(orveln1_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror
  $<$<COMPILE_LANGUAGE:CXX>:-Wshadow -Wnon-virtual-dtor -Wold-style-cast>)
