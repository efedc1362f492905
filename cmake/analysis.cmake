# Static analysis as tests of the native build: clang-tidy (../.clang-tidy and the relaxations of
# platform/ and tests/) and cppcheck (cmake/cppcheck-suppressions.txt) over compile_commands.json.
# Any finding fails its test. clang-tidy runs in three tests, so that CTest spreads them over the
# cores; a missing tool fails its test with the package to install.
find_program(TREEPREP_CLANG_TIDY NAMES clang-tidy clang-tidy-14)
find_program(TREEPREP_CPPCHECK NAMES cppcheck)

set(src ${PROJECT_SOURCE_DIR})
set(tests-a "^${src}/tests/(prepFolder|mountDir|safety)/")
function(add_clang_tidy_test name filter exclude)
  add_test(NAME clang-tidy-${name}
           COMMAND ${CMAKE_COMMAND} -DCLANG_TIDY=${TREEPREP_CLANG_TIDY} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DFILTER=${filter} -DEXCLUDE=${exclude} -P ${src}/cmake/run-clang-tidy.cmake)
  set_tests_properties(clang-tidy-${name} PROPERTIES TIMEOUT 600 COST 100)
endfunction()
add_clang_tidy_test(commands "^${src}/(platform|support|prepFolder|mountDir|finalName)/" "")
add_clang_tidy_test(tests-a "${tests-a}" "")
add_clang_tidy_test(tests-b "^${src}/tests/" "${tests-a}")

if(TREEPREP_CPPCHECK)
  add_test(NAME cppcheck
           COMMAND ${TREEPREP_CPPCHECK} --project=${CMAKE_BINARY_DIR}/compile_commands.json
                   --enable=warning,style,performance,portability --std=c++20 --library=googletest
                   --inline-suppr --suppressions-list=${src}/cmake/cppcheck-suppressions.txt
                   --error-exitcode=1 --quiet
                   --template={file}:{line}:{column}: {severity} {id}: {message})
else()
  add_test(NAME cppcheck COMMAND ${CMAKE_COMMAND} -E echo "cppcheck not found: apt-get install cppcheck")
  set_tests_properties(cppcheck PROPERTIES FAIL_REGULAR_EXPRESSION "not found")
endif()
