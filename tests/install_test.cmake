# Installs the build into a fresh prefix, as a user would, and uses what was
# installed: the program writes a tone of the right size with no ldconfig
# and no LD_LIBRARY_PATH, and so does the Python module where it is built,
# from where that python3 looks; the library exports only its API; outside
# projects build against it, by find_package (C++20, C++17 with the C
# header alone, and a C-only project) and by pkg-config (C), and run; the
# manual pages are where man(1) looks and, when mandoc is at hand, lint
# clean; the license and changelog are beside the other documentation.
#
# With PLAIN (a native build with no sanitizer), also: the program under a
# 64 KiB stack limit, which its threads get too; a parent project that
# builds the source tree inside its own with -ffast-math, a target named
# app and BUILD_SHARED_LIBS unset, and gets exact samples; a build with an
# absolute CMAKE_INSTALL_LIBDIR, installed and used; and `pip install .`
# into a fresh venv. These nested builds follow VECTOR.
#
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> -DLIBDIR=<lib dir>
#         -DSOURCE_DIR=<consumer project> -DTOP_SOURCE_DIR=<puretone's sources>
#         -DCONSUMERS=<ON|OFF> -DSHARED=<ON|OFF> -DSTATIC=<ON|OFF> -DPLAIN=<ON|OFF>
#         -DVECTOR=<ON|OFF> [-DCONSUMER_FLAGS=<flags>] [-DPYTHON=<python3>] [-DEMULATOR=<command>]
#         -P install_test.cmake
#
# CONSUMER_FLAGS: what a consumer must add to link this build, such as the
# sanitizer runtime of a sanitized library. EMULATOR: what a cross build's
# program runs under (qemu-i386 and its options, as one string).

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
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
run_clean("the installed puretone" ${emulator} "${program}" "${PREFIX}/tone.wav" 1000 2)
file(SIZE "${PREFIX}/tone.wav" size)
if(NOT size EQUAL 176444)
  message(FATAL_ERROR "the installed puretone wrote ${size} bytes, not 176444")
endif()

# The Python module, from the directory that python3 names for the prefix:
# the same bytes.
set(same_bytes "import pathlib, puretone, sys; \
made = puretone.wav_header(88200) + puretone.tone(1000, 2).astype('<i2').tobytes(); \
sys.exit(0 if made == pathlib.Path(sys.argv[1]).read_bytes() else f'{puretone.__file__} differs from the program')")
function(python_dir python prefix result)
  execute_process(COMMAND "${python}" -B "${TOP_SOURCE_DIR}/python/install_dir.py" "${prefix}"
                  OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(${result} "${prefix}/${dir}" PARENT_SCOPE)
endfunction()
if(PYTHON)
  python_dir("${PYTHON}" "${PREFIX}" module_dir)
  if(NOT EXISTS "${module_dir}/puretone/__init__.py")
    message(FATAL_ERROR "the module is not in ${module_dir}, where ${PYTHON} looks under the prefix")
  endif()
  run_clean("the installed Python module" "${CMAKE_COMMAND}" -E env "PYTHONPATH=${module_dir}" "${PYTHON}" -B -c
    "${same_bytes}" "${PREFIX}/tone.wav")
endif()

# Only the API is exported: every defined dynamic symbol is puretone_*.
if(SHARED)
  execute_process(COMMAND nm -D --defined-only "${PREFIX}/${LIBDIR}/libpuretone.so.0" OUTPUT_VARIABLE symbols)
  string(REGEX MATCHALL "[^\n]+ [A-Za-z] [^\n]+" defined "${symbols}")
  list(FILTER defined EXCLUDE REGEX " puretone_(samples|wav_header|strerror|version|frames|header|header_length|longest_frames|frame_bytes|file_frame_bytes|signal_frames|signal_length|inverse_frames)$")
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
  set(c_only_build "${PREFIX}/c-only-build")
  foreach(command IN ITEMS "-S;${SOURCE_DIR}/c_only;-B;${c_only_build};-DCMAKE_PREFIX_PATH=${PREFIX};-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}"
                           "--build;${c_only_build}")
    execute_process(COMMAND "${CMAKE_COMMAND}" ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "the C-only project failed:\n${out}")
    endif()
  endforeach()
  foreach(consumer IN ITEMS consumer-build/consumer_cpp consumer-build/consumer_cpp17 consumer-build/consumer_c
                            c-only-build/consumer_c_only)
    execute_process(COMMAND "${PREFIX}/${consumer}" RESULT_VARIABLE status OUTPUT_VARIABLE out)
    if(NOT status EQUAL 0 OR NOT out MATCHES "^puretone [0-9]+\\.[0-9]+\\.[0-9]+ from")
      message(FATAL_ERROR "${consumer}: status ${status}: ${out}")
    endif()
  endforeach()
endif()

# A nested CMake configure and build; FATAL_ERROR with its output if either fails.
function(nested_build what source build)
  foreach(command IN ITEMS "-S;${source};-B;${build};${ARGN}" "--build;${build}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env CMAKE_BUILD_PARALLEL_LEVEL=2 "${CMAKE_COMMAND}" ${command}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${what}: cmake ${command} failed:\n${out}")
    endif()
  endforeach()
endfunction()

# The samples of a file the program wrote, without its header.
function(expect_samples what made tone)
  file(READ "${tone}" expected HEX OFFSET 44)
  file(READ "${made}" got HEX)
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${what}: the samples differ from the program's")
  endif()
endfunction()

if(PLAIN)
  # 64 KiB of stack, for the program and, as glibc sizes them from the same
  # limit, its threads.
  run_clean("the program under ulimit -s 64" sh -c "ulimit -s 64 && exec \"$0\" \"$@\""
    "${program}" "${PREFIX}/small-stack.wav" 1000 2)
  run_clean("the program under ulimit -s 64 wrote another file" "${CMAKE_COMMAND}" -E compare_files
    "${PREFIX}/small-stack.wav" "${PREFIX}/tone.wav")

  set(parent_build "${PREFIX}/parent-build")
  nested_build("a parent project" "${SOURCE_DIR}/parent" "${parent_build}" "-DPURETONE_SOURCE_DIR=${TOP_SOURCE_DIR}"
               "-DCMAKE_CXX_FLAGS=-O2 -ffast-math" -DPURETONE_VECTOR=${VECTOR})
  run_clean("the parent's app" "${parent_build}/app" "${PREFIX}/parent.raw" 1000 2)
  expect_samples("the parent's app, built with -ffast-math" "${PREFIX}/parent.raw" "${PREFIX}/tone.wav")

  # An absolute CMAKE_INSTALL_LIBDIR, as some distribution builds pass.
  set(absolute "${PREFIX}/absolute")
  set(python_option -DPURETONE_PYTHON=OFF)
  if(PYTHON)
    set(python_option -DPURETONE_PYTHON=ON -DPython_EXECUTABLE=${PYTHON})
  endif()
  nested_build("an absolute CMAKE_INSTALL_LIBDIR" "${TOP_SOURCE_DIR}" "${absolute}/build" -DPURETONE_TESTS=OFF
               -DCMAKE_INSTALL_PREFIX=${absolute}/usr -DCMAKE_INSTALL_LIBDIR=${absolute}/usr/lib/elsewhere
               -DPURETONE_VECTOR=${VECTOR} ${python_option})
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${absolute}/build" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  run_clean("the program, libdir absolute" "${absolute}/usr/bin/puretone" "${absolute}/tone.wav" 1000 2)
  run_clean("the program, libdir absolute, wrote another file" "${CMAKE_COMMAND}" -E compare_files
    "${absolute}/tone.wav" "${PREFIX}/tone.wav")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${absolute}/usr/lib/elsewhere/pkgconfig"
                  pkg-config --variable=libdir --variable=includedir puretone
                  OUTPUT_VARIABLE directories OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^ ]+" directories "${directories}")
  foreach(directory file IN ZIP_LISTS directories "libpuretone.so;puretone/puretone.h")
    if(NOT EXISTS "${directory}/${file}")
      message(FATAL_ERROR "puretone.pc, libdir absolute, names ${directory}, which does not hold ${file}")
    endif()
  endforeach()
  if(PYTHON)
    python_dir("${PYTHON}" "${absolute}/usr" module_dir)
    run_clean("the Python module, libdir absolute" "${CMAKE_COMMAND}" -E env "PYTHONPATH=${module_dir}" "${PYTHON}" -B -c
      "${same_bytes}" "${PREFIX}/tone.wav")

    # pip install . into a fresh venv that sees Debian's numpy, offline.
    set(venv "${PREFIX}/venv")
    execute_process(COMMAND "${PYTHON}" -m venv --system-site-packages "${venv}" COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PURETONE_PIP_BUILD_DIR=${PREFIX}/pip-build"
                            CMAKE_BUILD_PARALLEL_LEVEL=2 "${venv}/bin/python" -m pip install --no-build-isolation
                            --no-index --no-cache-dir "${TOP_SOURCE_DIR}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "pip install . failed:\n${out}")
    endif()
    run_clean("the module pip installed" "${venv}/bin/python" -B -c "${same_bytes}" "${PREFIX}/tone.wav")
  endif()
endif()

find_program(MANDOC mandoc)
if(MANDOC)
  run_clean("mandoc -T lint -W warning" "${MANDOC}" -T lint -W warning "${page}")
  run_clean("mandoc -T lint -W warning" "${MANDOC}" -T lint -W warning "${api_page}")
else()
  message(STATUS "mandoc not found: the manual page was installed but not linted")
endif()
file(REMOVE_RECURSE "${PREFIX}")
