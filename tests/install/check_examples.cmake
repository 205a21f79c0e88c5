# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix and builds the two examples against it as the standalone
# projects they are, then runs them: the C++ app writes a GIF, the C host decodes its own and that
# one. Arguments: BUILD_DIR, WORK_DIR, EXAMPLES_DIR, C_COMPILER, CXX_COMPILER, GENERATOR.
include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(example c_host cpp_app)
  run(${CMAKE_COMMAND} -S ${EXAMPLES_DIR}/${example} -B ${WORK_DIR}/${example} -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/${example})
endforeach()
run(${WORK_DIR}/cpp_app/cpp_app ${WORK_DIR}/example.gif)
run(${WORK_DIR}/c_host/c_host)
run(${WORK_DIR}/c_host/c_host ${WORK_DIR}/example.gif)
