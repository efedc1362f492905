# Runs clang-tidy on the sources of BUILD_DIR/compile_commands.json whose path matches FILTER and
# not EXCLUDE (cmake -P), one process per file: clang-tidy 14 carries the analyzers' state from
# one file into the next within a process and then reports findings that are not there. Fails
# when a file has a finding (the configuration makes every warning an error) or clang-tidy is
# missing.
cmake_minimum_required(VERSION 3.25)
if(NOT CLANG_TIDY)
  message(FATAL_ERROR "clang-tidy not found: apt-get install clang-tidy")
endif()

file(READ "${BUILD_DIR}/compile_commands.json" database)
string(JSON count LENGTH "${database}")
math(EXPR last "${count} - 1")
set(files "")
foreach(index RANGE ${last})
  string(JSON file GET "${database}" ${index} file)
  if(file MATCHES "${FILTER}" AND (EXCLUDE STREQUAL "" OR NOT file MATCHES "${EXCLUDE}"))
    list(APPEND files "${file}")
  endif()
endforeach()
list(REMOVE_DUPLICATES files)
list(LENGTH files count)
if(count EQUAL 0)
  message(FATAL_ERROR "no source of ${BUILD_DIR}/compile_commands.json matches ${FILTER}")
endif()

set(failed "")
foreach(file IN LISTS files)
  # The database holds GCC's options; one that clang does not know (the tests' -Wno-restrict for
  # GCC 12) is no finding.
  execute_process(COMMAND "${CLANG_TIDY}" -p "${BUILD_DIR}" --quiet
                          --extra-arg=-Wno-unknown-warning-option "${file}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message("${out}${err}")
    list(APPEND failed "${file}")
  endif()
endforeach()
if(failed)
  string(REPLACE ";" "\n  " failed "${failed}")
  message(FATAL_ERROR "clang-tidy findings in:\n  ${failed}")
endif()
message(STATUS "clang-tidy: ${count} files without findings")
