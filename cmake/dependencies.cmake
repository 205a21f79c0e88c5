# SPDX-License-Identifier: MIT
# find_package for the optional parts: when a package is missing, configure stops with one message
# naming the option that needs it, the scripts/install-deps.sh profile that installs it, and the
# switch that turns the part off.
macro(orveln1_find_package package option profile)
  find_package(${package} ${ARGN})
  if(NOT ${package}_FOUND)
    message(FATAL_ERROR "${option} is on and needs ${package}, which was not found. Install it with "
                        "`scripts/install-deps.sh ${profile}` (Debian), or configure with -D${option}=OFF.")
  endif()
endmacro()
