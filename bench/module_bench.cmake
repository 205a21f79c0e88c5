# SPDX-License-Identifier: MIT
# orveln1_module_bench: the timing host of the shipped module (bench/module_bench.cpp). It needs
# nothing but the compiler and loads the module at run time, so the Windows cross builds make it
# beside orveln1.dll and the Linux build beside liborveln1.so (scripts/module-bench.sh). Its check
# under CTest: every operation once on small images against the module just built, untimed.
add_executable(orveln1_module_bench ${CMAKE_CURRENT_LIST_DIR}/module_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_images.cpp)
target_include_directories(orveln1_module_bench PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(orveln1_module_bench PRIVATE orveln1_warnings ${CMAKE_DL_LIBS})
add_dependencies(orveln1_module_bench orveln1)
if(WIN32)
  # Beside orveln1.dll, where LoadLibrary looks first; no MinGW runtime DLL needed under Wine.
  target_link_options(orveln1_module_bench PRIVATE -static)
  set_target_properties(orveln1_module_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
else()
  set_target_properties(orveln1_module_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endif()

if(ORVELN1_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME module_bench_checks_the_module COMMAND orveln1_module_bench $<TARGET_FILE:orveln1> --side 64 --check)
endif()
