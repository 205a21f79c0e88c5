# SPDX-License-Identifier: MIT
# orveln1_core_instrumented: the static core with the test build's working memory (block accounting,
# k-th allocation failure, fill patterns) and its choice of the decoders' paths (ORVELN1_FORCE_PATHS)
# for the tests, the fuzz targets and the benchmark. The instrumented lzw_alloc/lzw_free and
# lzw_choose_paths are object code on the link line, ahead of the core archive, so the linker never
# pulls the core's plain ones in; the shipped module and the tool link the plain ones.
include_guard(GLOBAL)
add_library(orveln1_core_instrumented OBJECT ${CMAKE_CURRENT_LIST_DIR}/memory_instrumented.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paths_pinned.cpp)
target_include_directories(orveln1_core_instrumented PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(orveln1_core_instrumented PUBLIC orveln1_core PRIVATE orveln1_warnings)
