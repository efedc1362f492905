# The "package" preset: one build that makes both packages. A workflow preset runs all its steps
# on one configure preset, so this build drives the two real ones: the "windows" preset (mingw-w64
# cross build) and the "release" preset (native), each configured with its own preset into a
# directory below this one, built, and packed by CPack into packages/. The test step unpacks
# each package and runs what it holds.
set(TREEPREP_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)

# leg: directory below this build, preset, extra cache settings.
set(legs "windows|windows|-DTREEPREP_TESTS=OFF" "linux|release|")
foreach(leg IN LISTS legs)
  string(REPLACE "|" ";" leg "${leg}")
  list(GET leg 0 name)
  list(GET leg 1 preset)
  list(GET leg 2 settings)
  set(dir ${CMAKE_BINARY_DIR}/${name})
  # The console pool runs one leg at a time, each with the whole machine and its output in order.
  add_custom_target(package-${name} ALL
    COMMAND ${CMAKE_COMMAND} --preset ${preset} -B ${dir} ${settings}
    COMMAND ${CMAKE_COMMAND} --build ${dir}
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${dir}/CPackConfig.cmake -B ${TREEPREP_PACKAGE_DIR}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    USES_TERMINAL VERBATIM)
endforeach()
add_dependencies(package-linux package-windows)

enable_testing()
find_program(TREEPREP_WINE NAMES wine wine64)
find_program(TREEPREP_MINGW_OBJDUMP NAMES x86_64-w64-mingw32-objdump)
find_program(TREEPREP_OBJDUMP NAMES objdump)
add_test(NAME package-windows-zip
         COMMAND ${CMAKE_COMMAND} -DPACKAGE_DIR=${TREEPREP_PACKAGE_DIR} -DKIND=windows
                 -DVERSION=${PROJECT_VERSION} -DDOCS=${PROJECT_SOURCE_DIR}/docs
                 -DEXAMPLES=${PROJECT_SOURCE_DIR}/examples -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 -DRUNNER=${TREEPREP_WINE} -DOBJDUMP=${TREEPREP_MINGW_OBJDUMP}
                 -P ${PROJECT_SOURCE_DIR}/cmake/check-package.cmake)
add_test(NAME package-linux-tgz
         COMMAND ${CMAKE_COMMAND} -DPACKAGE_DIR=${TREEPREP_PACKAGE_DIR} -DKIND=linux
                 -DVERSION=${PROJECT_VERSION} -DDOCS=${PROJECT_SOURCE_DIR}/docs
                 -DEXAMPLES=${PROJECT_SOURCE_DIR}/examples -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                 -DOBJDUMP=${TREEPREP_OBJDUMP} -P ${PROJECT_SOURCE_DIR}/cmake/check-package.cmake)
# The Windows check prepares a brand-new Wine prefix (about a minute on a busy machine).
set_tests_properties(package-windows-zip package-linux-tgz PROPERTIES
                     ENVIRONMENT "WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=" TIMEOUT 600)
