# SPDX-License-Identifier: MIT
# One step of an install check: runs a command, stops the check with its output when it fails.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()
