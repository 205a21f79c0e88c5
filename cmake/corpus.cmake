# SPDX-License-Identifier: MIT
# The corpus of real GIF and TIFF files (README, "The corpus"): where the corpus tests and the
# benchmark's real pictures look for it, and the one configure line that says whether it is there.
# ORVELN1_CORPUS_DIR (cache variable; its default comes from the environment variable of that name,
# else ../shared/corpus beside the source tree) is compiled in as the tests' default; the same
# environment variable overrides it when the tests run. With ORVELN1_REQUIRE_CORPUS set in the
# environment (as CI does), a missing corpus stops the configure step.
if(NOT "$ENV{ORVELN1_CORPUS_DIR}" STREQUAL "")
  set(ORVELN1_CORPUS_DEFAULT "$ENV{ORVELN1_CORPUS_DIR}")
else()
  set(ORVELN1_CORPUS_DEFAULT "${PROJECT_SOURCE_DIR}/../shared/corpus")
endif()
set(ORVELN1_CORPUS_DIR "${ORVELN1_CORPUS_DEFAULT}" CACHE PATH "Folder of the GIF and TIFF corpus (manifest.jsonl)")
get_filename_component(ORVELN1_CORPUS_DIR "${ORVELN1_CORPUS_DIR}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")

# Each part of the build names the corpus checks it adds, so that the configure line can count them.
function(orveln1_corpus_checks)
  set_property(GLOBAL APPEND PROPERTY ORVELN1_CORPUS_CHECKS ${ARGN})
endfunction()

function(orveln1_corpus_report)
  get_property(checks GLOBAL PROPERTY ORVELN1_CORPUS_CHECKS)
  list(LENGTH checks count)
  if(count EQUAL 0)
    return()
  endif()
  if(IS_DIRECTORY "${ORVELN1_CORPUS_DIR}")
    message(STATUS "corpus found at ${ORVELN1_CORPUS_DIR}: ${count} corpus checks run")
  elseif(NOT "$ENV{ORVELN1_REQUIRE_CORPUS}" STREQUAL "" AND NOT "$ENV{ORVELN1_REQUIRE_CORPUS}" STREQUAL "0")
    message(FATAL_ERROR "corpus not found at ${ORVELN1_CORPUS_DIR}, and ORVELN1_REQUIRE_CORPUS is set: "
                        "set ORVELN1_CORPUS_DIR (environment or cache) to the corpus folder")
  else()
    message(STATUS "corpus not found at ${ORVELN1_CORPUS_DIR}: ${count} corpus checks skipped")
  endif()
endfunction()
