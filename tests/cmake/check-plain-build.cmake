# Builds the project the way users and distribution packagers do (cmake -P):
#   cmake -S SOURCE -B WORK/build -DCMAKE_BUILD_TYPE=Release && cmake --build WORK/build
# with CMake's default generator and none of the presets' settings.
#   GTEST  OFF: GoogleTest hidden (CMAKE_DISABLE_FIND_PACKAGE_GTest): the commands and their man
#               pages are built, no test; the build is then installed into WORK/prefix and a
#               consumer project (consumer/, check-consumer.cmake) builds against it.
#          ON:  GoogleTest found: the tests are built too, and one test program runs.
# Either way the build must show no compiler warning.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

file(REMOVE_RECURSE "${WORK}")
set(build "${WORK}/build")
set(settings -DCMAKE_BUILD_TYPE=Release)
if(NOT GTEST)
  list(APPEND settings -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
endif()
run("configure" "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${build}" ${settings})
file(STRINGS "${build}/CMakeCache.txt" tests REGEX "^TREEPREP_TESTS:")
if(GTEST AND NOT tests STREQUAL "TREEPREP_TESTS:BOOL=ON")
  message(FATAL_ERROR "GoogleTest found, but the tests are not on: ${tests}")
elseif(NOT GTEST AND NOT tests STREQUAL "TREEPREP_TESTS:BOOL=OFF")
  message(FATAL_ERROR "without GoogleTest the tests must be off: ${tests}")
endif()

set(ENV{CMAKE_BUILD_PARALLEL_LEVEL} 2)
run("build" "${CMAKE_COMMAND}" --build "${build}")
if(output MATCHES "warning:")
  message(FATAL_ERROR "the build shows warnings:\n${output}")
endif()
foreach(file bin/prepFolder bin/mountDir bin/finalName man/prepFolder.1 man/mountDir.1
             man/finalName.1)
  if(NOT EXISTS "${build}/${file}")
    message(FATAL_ERROR "the build made no ${file}")
  endif()
endforeach()

if(GTEST)
  if(NOT EXISTS "${build}/bin/support_tests")
    message(FATAL_ERROR "GoogleTest found, but the tests were not built")
  endif()
  run("support_tests" "${build}/bin/support_tests" --gtest_brief=1)
  message(STATUS "built with the tests; support_tests passed")
  file(REMOVE_RECURSE "${WORK}")
  return()
endif()

file(GLOB testPrograms "${build}/bin/*_tests")
if(testPrograms)
  message(FATAL_ERROR "tests built without GoogleTest: ${testPrograms}")
endif()

run("install" "${CMAKE_COMMAND}" --install "${build}" --prefix "${WORK}/prefix")
foreach(file bin/prepFolder bin/mountDir bin/finalName share/man/man1/prepFolder.1
             share/man/man1/mountDir.1 share/man/man1/finalName.1 share/doc/treeprep/LICENSE
             share/doc/treeprep/README.md lib/cmake/treeprep/treeprepConfig.cmake
             lib/cmake/treeprep/treeprepConfigVersion.cmake lib/cmake/treeprep/treeprepFunctions.cmake)
  if(NOT EXISTS "${WORK}/prefix/${file}")
    message(FATAL_ERROR "the installation has no ${file}")
  endif()
endforeach()
# Every example, as the pages installed beside them link to them all.
foreach(example posix/prepare.sh windows/prepare.bat cmake/CMakeLists.txt)
  if(NOT EXISTS "${WORK}/prefix/share/doc/treeprep/examples/${example}")
    message(FATAL_ERROR "the installation has no example ${example}")
  endif()
endforeach()

run("consumer" "${CMAKE_COMMAND}" -DPREFIX=${WORK}/prefix -DWORK=${WORK}/consumer
    -P "${CMAKE_CURRENT_LIST_DIR}/check-consumer.cmake")
message("${output}")
file(REMOVE_RECURSE "${WORK}")
