# SPDX-License-Identifier: MIT
# Python's development files and pybind11, for ORVELN1_PYTHON: sets ORVELN1_PYTHON_PARTS_FOUND.
# Debian's /usr/bin/python3 is the interpreter with the apt packages (python3-pybind11,
# python3-numpy, ...) and is preferred to a python3 earlier on PATH.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 3.9 QUIET COMPONENTS Interpreter Development.Module)
set(ORVELN1_PYTHON_PARTS_FOUND OFF)
if(Python3_FOUND)
  find_package(pybind11 2.10 CONFIG QUIET)
  if(pybind11_FOUND)
    set(ORVELN1_PYTHON_PARTS_FOUND ON)
  endif()
endif()
