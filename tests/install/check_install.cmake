# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix, checks what was installed, then builds and runs the consumer
# project against it through find_package(orveln1) and through pkg-config, and once more with the
# source tree as a subproject (add_subdirectory). Arguments: BUILD_DIR, WORK_DIR, SOURCE_DIR,
# PROJECT_SOURCE, C_COMPILER, CXX_COMPILER, GENERATOR, WITH_TOOL, VERSION, VERSION_MAJOR, OBJDUMP.
include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(tool)
if(WITH_TOOL)
  set(tool bin/orveln share/man/man1/orveln.1)
endif()
foreach(f include/orveln1.h include/orveln1.hpp lib/liborveln1.so.${VERSION} lib/liborveln1_core.a ${tool}
          lib/cmake/orveln1/orveln1Config.cmake lib/cmake/orveln1/orveln1ConfigVersion.cmake
          lib/pkgconfig/orveln1.pc lib/pkgconfig/orveln1-core.pc share/doc/orveln1/LICENSE)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# liborveln1.so -> liborveln1.so.MAJOR -> liborveln1.so.VERSION, whose SONAME is the middle one.
foreach(link liborveln1.so liborveln1.so.${VERSION_MAJOR})
  if(NOT IS_SYMLINK ${prefix}/lib/${link})
    message(FATAL_ERROR "not installed as a link: lib/${link}")
  endif()
endforeach()
execute_process(COMMAND ${OBJDUMP} -p ${prefix}/lib/liborveln1.so.${VERSION} OUTPUT_VARIABLE headers)
if(NOT headers MATCHES "SONAME +liborveln1\\.so\\.${VERSION_MAJOR}\n")
  message(FATAL_ERROR "liborveln1.so.${VERSION} does not carry the SONAME liborveln1.so.${VERSION_MAJOR}")
endif()
# The package and the .pc files carry no build-only settings: no warnings target, no -Werror, no
# language standard forced on the consumer (orveln1::core asks for C++20 as a compile feature).
file(GLOB exported ${prefix}/lib/cmake/orveln1/orveln1Targets*.cmake)
foreach(f IN LISTS exported)
  file(READ ${f} text)
  if(text MATCHES "orveln1_warnings|-Werror|-Wall")
    message(FATAL_ERROR "${f} exports the build's warning settings")
  endif()
endforeach()
file(READ ${prefix}/lib/cmake/orveln1/orveln1Targets.cmake text)
if(NOT text MATCHES "INTERFACE_COMPILE_FEATURES \"cxx_std_20\"")
  message(FATAL_ERROR "orveln1::core does not carry cxx_std_20")
endif()
foreach(pc orveln1 orveln1-core)
  file(READ ${prefix}/lib/pkgconfig/${pc}.pc text)
  if(text MATCHES "-std=")
    message(FATAL_ERROR "${pc}.pc forces a language standard")
  endif()
endforeach()

# Through CMake.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer_c)
run(${WORK_DIR}/cmake-build/consumer_cpp)

# Through pkg-config; the consumer chooses its own standard.
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
run(${CXX_COMPILER} -std=c++20 ${SOURCE_DIR}/consumer_cpp.cpp ${cxx_flags} -o ${WORK_DIR}/pc_consumer_cpp)
run(${WORK_DIR}/pc_consumer_c)
run(${WORK_DIR}/pc_consumer_cpp)

# Through add_subdirectory of the source tree, with the same target names.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/../subproject -B ${WORK_DIR}/subproject-build -G ${GENERATOR}
    -DORVELN1_SOURCE_DIR=${PROJECT_SOURCE} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/subproject-build)
run(${WORK_DIR}/subproject-build/consumer_c)
run(${WORK_DIR}/subproject-build/consumer_cpp)
