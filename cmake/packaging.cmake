# Installation and packages.
#
# On POSIX the prefix layout: the commands into bin/, their man pages into share/man/man1, the
# README, the licence, the pages of docs/ and the examples they link to into share/doc/treeprep/
# (in the same folders as in the sources, so that the links hold), and the CMake package into
# lib/cmake/treeprep. On Windows one folder: the .exe, README.txt (a short text of its own for
# Windows users) and LICENSE.txt, both with CRLF line ends, at its top, docs/ and examples/ beside
# them, the CMake package in cmake/. Both sides hold every example, as the pages link to them all.
# CPack packs the same: a ZIP of the .exe on Windows, a TGZ elsewhere, named with the project
# version.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(bindir .)
  set(docdir .)
  set(cmakedir cmake)
  # Text files that Notepad and every Windows editor show as they are.
  foreach(text "docs/README-windows.txt|README" "LICENSE|LICENSE")
    string(REPLACE "|" ";" text "${text}")
    list(GET text 0 source)
    list(GET text 1 name)
    file(READ ${PROJECT_SOURCE_DIR}/${source} content)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${CMAKE_BINARY_DIR}/${name}.txt "${content}")
    install(FILES ${CMAKE_BINARY_DIR}/${name}.txt DESTINATION ${docdir})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PROJECT_SOURCE_DIR}/${source})
  endforeach()
else()
  set(bindir ${CMAKE_INSTALL_BINDIR})
  set(docdir ${CMAKE_INSTALL_DOCDIR})
  set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/treeprep)
  install(FILES README.md LICENSE DESTINATION ${docdir})
  include(${CMAKE_CURRENT_LIST_DIR}/man-pages.cmake)
endif()

install(TARGETS ${TREEPREP_COMMANDS} EXPORT treeprepTargets RUNTIME DESTINATION ${bindir})
install(DIRECTORY docs/ DESTINATION ${docdir}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.svg" PATTERN "*.jpg")
# The examples that the README and the pages show and link to.
install(DIRECTORY examples/ DESTINATION ${docdir}/examples PATTERN ".gitattributes" EXCLUDE)

# find_package(treeprep [version] CONFIG): imported executable targets, the functions, and a
# version file that accepts any request up to this version (the commands' messages, options and
# exit codes only grow). The build tree is a package too (treeprep_DIR or CMAKE_PREFIX_PATH set to
# it), so that the examples' tests use the commands just built.
install(EXPORT treeprepTargets NAMESPACE treeprep:: DESTINATION ${cmakedir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/treeprepConfigVersion.cmake
                                 COMPATIBILITY AnyNewerVersion ARCH_INDEPENDENT)
install(FILES cmake/treeprepConfig.cmake cmake/treeprepFunctions.cmake
              ${CMAKE_BINARY_DIR}/treeprepConfigVersion.cmake DESTINATION ${cmakedir})
export(EXPORT treeprepTargets NAMESPACE treeprep:: FILE ${CMAKE_BINARY_DIR}/treeprepTargets.cmake)
configure_file(cmake/treeprepConfig.cmake ${CMAKE_BINARY_DIR}/treeprepConfig.cmake COPYONLY)
configure_file(cmake/treeprepFunctions.cmake ${CMAKE_BINARY_DIR}/treeprepFunctions.cmake COPYONLY)

set(CPACK_PACKAGE_NAME treeprep)
set(CPACK_PACKAGE_VENDOR treeprep)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
