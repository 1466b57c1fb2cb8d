# Installs the build into a fresh prefix, as a user would, and uses what was
# installed: the program writes a tone of the right size with no ldconfig
# and no LD_LIBRARY_PATH, and so does the Python module where it is built;
# the library exports only its API; two outside
# projects build against it, by find_package and by pkg-config, and run; the
# manual pages are where man(1) looks and, when mandoc is at hand, lint
# clean; the license and changelog are beside the other documentation.
#
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> -DLIBDIR=<lib dir>
#         -DSOURCE_DIR=<consumer project> -DCONSUMERS=<ON|OFF> -DSHARED=<ON|OFF>
#         -DSTATIC=<ON|OFF> [-DCONSUMER_FLAGS=<flags>] [-DPYTHON=<python3>] -P install_test.cmake
#
# CONSUMER_FLAGS: what a consumer must add to link this build, such as the
# sanitizer runtime of a sanitized library.

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
set(api_page "${PREFIX}/share/man/man3/puretone_samples.3.gz")
set(docs "${PREFIX}/share/doc/puretone")
foreach(installed IN ITEMS "${program}" "${page}" "${api_page}" "${docs}/copyright" "${docs}/changelog.gz"
        "${docs}/LICENSE" "${PREFIX}/include/puretone/puretone.h" "${PREFIX}/include/puretone/puretone.hpp"
        "${PREFIX}/${LIBDIR}/cmake/puretone/puretone-config.cmake" "${PREFIX}/${LIBDIR}/pkgconfig/puretone.pc")
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

# The Python module, from the prefix's dist-packages: the same bytes.
if(PYTHON)
  run_clean("the installed Python module" "${CMAKE_COMMAND}" -E env
    "PYTHONPATH=${PREFIX}/lib/python3/dist-packages" "${PYTHON}" -B -c
    "import pathlib, puretone, sys; made = puretone.wav_header(88200) + puretone.tone(1000, 2).astype('<i2').tobytes(); \
sys.exit(0 if made == pathlib.Path(sys.argv[1]).read_bytes() else 'the module differs from the program')"
    "${PREFIX}/tone.wav")
endif()

# Only the API is exported: every defined dynamic symbol is puretone_*.
if(SHARED)
  execute_process(COMMAND nm -D --defined-only "${PREFIX}/${LIBDIR}/libpuretone.so.0" OUTPUT_VARIABLE symbols)
  string(REGEX MATCHALL "[^\n]+ [A-Za-z] [^\n]+" defined "${symbols}")
  list(FILTER defined EXCLUDE REGEX " puretone_(samples|wav_header|strerror|version|frames|header|header_length|longest_frames)$")
  if(defined OR NOT symbols MATCHES "puretone_samples")
    message(FATAL_ERROR "libpuretone.so.0 exports more than its API:\n${defined}")
  endif()
endif()

if(CONSUMERS)
  set(consumer_build "${PREFIX}/consumer-build")
  foreach(step IN ITEMS configure build)
    if(step STREQUAL configure)
      set(command -S "${SOURCE_DIR}" -B "${consumer_build}" -DCMAKE_PREFIX_PATH=${PREFIX}
          "-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}" "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}" -DPURETONE_STATIC=${STATIC})
    else()
      set(command --build "${consumer_build}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "the consumer's ${step} failed:\n${out}")
    endif()
  endforeach()
  foreach(consumer IN ITEMS consumer_cpp consumer_c)
    execute_process(COMMAND "${consumer_build}/${consumer}" RESULT_VARIABLE status OUTPUT_VARIABLE out)
    if(NOT status EQUAL 0 OR NOT out MATCHES "^puretone [0-9]+\\.[0-9]+\\.[0-9]+ from")
      message(FATAL_ERROR "${consumer}: status ${status}: ${out}")
    endif()
  endforeach()
endif()

find_program(MANDOC mandoc)
if(MANDOC)
  run_clean("mandoc -T lint -W warning" "${MANDOC}" -T lint -W warning "${page}")
  run_clean("mandoc -T lint -W warning" "${MANDOC}" -T lint -W warning "${api_page}")
else()
  message(STATUS "mandoc not found: the manual page was installed but not linted")
endif()
file(REMOVE_RECURSE "${PREFIX}")
