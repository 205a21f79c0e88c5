# Installs the build into a fresh prefix, then builds and runs the consumer project against it, once
# through find_package(orveln1) and once through pkg-config. Arguments: BUILD_DIR, WORK_DIR, SOURCE_DIR,
# C_COMPILER, CXX_COMPILER, GENERATOR.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/orveln1.h include/orveln1.hpp lib/liborveln1.so lib/liborveln1_core.a bin/orveln share/man/man1/orveln.1
          lib/cmake/orveln1/orveln1Config.cmake lib/pkgconfig/orveln1.pc lib/pkgconfig/orveln1-core.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# Through CMake.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer_c)
run(${WORK_DIR}/cmake-build/consumer_cpp)

# Through pkg-config.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs orveln1 OUTPUT_VARIABLE c_flags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know orveln1")
endif()
execute_process(COMMAND pkg-config --cflags --libs orveln1-core OUTPUT_VARIABLE cxx_flags
                OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(c_flags UNIX_COMMAND "${c_flags}")
separate_arguments(cxx_flags UNIX_COMMAND "${cxx_flags}")
run(${C_COMPILER} ${SOURCE_DIR}/consumer_c.c ${c_flags} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pc_consumer_c)
run(${CXX_COMPILER} ${SOURCE_DIR}/consumer_cpp.cpp ${cxx_flags} -o ${WORK_DIR}/pc_consumer_cpp)
run(${WORK_DIR}/pc_consumer_c)
run(${WORK_DIR}/pc_consumer_cpp)
