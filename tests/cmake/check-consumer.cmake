# Builds the consumer project (consumer/) against the treeprep installed in PREFIX, in WORK
# (cmake -P): find_package(treeprep 2026.11) must find it there, a version newer than the
# installed one must not be found, a failing treeprep_mount_dir must stop the configuration, and
# the build must clean its folders as asked.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

file(REMOVE_RECURSE "${WORK}")
set(source "${CMAKE_CURRENT_LIST_DIR}/consumer")
# Only PREFIX: no package registry, nothing installed elsewhere on the machine.
set(find -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
         -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF)

execute_process(COMMAND "${CMAKE_COMMAND}" -S "${source}" -B "${WORK}/too-new" ${find}
                        -DTREEPREP_REQUEST=2099.1
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0 OR NOT err MATCHES "treeprep")
  message(FATAL_ERROR "find_package(treeprep 2099.1) must fail: exit ${result}\n${out}\n${err}")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -S "${source}" -B "${WORK}/missing-target" ${find}
                        -DMISSING_TARGET=ON
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0 OR NOT err MATCHES "ERROR target does not exists as directory"
   OR NOT err MATCHES "ended with 2")
  message(FATAL_ERROR "treeprep_mount_dir to a missing target must fail: exit ${result}\n${err}")
endif()
if(EXISTS "${WORK}/missing-target/broken")
  message(FATAL_ERROR "the failed treeprep_mount_dir left ${WORK}/missing-target/broken")
endif()

set(build "${WORK}/build")
run("configure" "${CMAKE_COMMAND}" -S "${source}" -B "${build}" ${find} -DTREEPREP_REQUEST=2026.11)
file(REAL_PATH "${PREFIX}" prefix)
if(NOT output MATCHES "treeprep [0-9.]+ from ([^\n]*)")
  message(FATAL_ERROR "no treeprep found:\n${output}")
endif()
file(REAL_PATH "${CMAKE_MATCH_1}" found)
string(FIND "${found}" "${prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "treeprep found in ${found}, not below ${prefix}")
endif()
if(NOT IS_SYMLINK "${build}/shared")
  message(FATAL_ERROR "treeprep_mount_dir made no link at ${build}/shared")
endif()

# What an earlier build left in the two folders.
file(WRITE "${build}/out/stale.txt" "stale")
file(WRITE "${build}/out/sub/inner.txt" "stale")
file(WRITE "${build}/kept/stale.txt" "stale")
file(WRITE "${build}/kept/sub/inner.txt" "kept")
run("build" "${CMAKE_COMMAND}" --build "${build}")
file(GLOB_RECURSE left LIST_DIRECTORIES true RELATIVE "${build}" "${build}/out/*" "${build}/kept/*")
list(SORT left)
if(NOT left STREQUAL "kept/made.txt;kept/sub;kept/sub/inner.txt;out/made.txt")
  message(FATAL_ERROR "after the build: ${left}")
endif()
file(REAL_PATH "${build}/assets" assets)
string(FIND "${output}" "${assets}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "treeprep::finalName did not print ${assets}:\n${output}")
endif()
message(STATUS "consumer of ${PREFIX}: configured with treeprep found there, built, folders clean")
file(REMOVE_RECURSE "${WORK}")
