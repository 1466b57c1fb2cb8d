# Installs the build into a fresh prefix, as a user would, and uses what was
# installed: the program writes a tone of the right size, and the manual page
# is where man(1) looks and, when mandoc is at hand, lints clean; the
# license and changelog are beside the other documentation.
#
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> -P install_test.cmake

function(run_clean what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "")
    message(FATAL_ERROR "${what}: status ${status}\n${out}${err}")
  endif()
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed with status ${status}")
endif()

set(program "${PREFIX}/bin/puretone")
set(page "${PREFIX}/share/man/man1/puretone.1.gz")
set(docs "${PREFIX}/share/doc/puretone")
foreach(installed IN ITEMS "${program}" "${page}" "${docs}/copyright" "${docs}/changelog.gz" "${docs}/LICENSE")
  if(NOT EXISTS "${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

# 2 seconds at 1000 Hz: the 44-byte header and 88200 samples of 2 bytes.
run_clean("the installed puretone" "${program}" "${PREFIX}/tone.wav" 1000 2)
file(SIZE "${PREFIX}/tone.wav" size)
if(NOT size EQUAL 176444)
  message(FATAL_ERROR "the installed puretone wrote ${size} bytes, not 176444")
endif()

find_program(MANDOC mandoc)
if(MANDOC)
  run_clean("mandoc -T lint -W warning" "${MANDOC}" -T lint -W warning "${page}")
else()
  message(STATUS "mandoc not found: the manual page was installed but not linted")
endif()
file(REMOVE_RECURSE "${PREFIX}")
