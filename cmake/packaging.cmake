# Installation and packages: the three commands into bin/, the README, the pages of docs/ and the
# examples they link to into share/doc/treeprep/ (in the same folders as in the sources, so that
# the links hold). CPack packs the
# same: a ZIP of the .exe on Windows, a TGZ elsewhere, named with the project version.
include(GNUInstallDirs)

install(TARGETS ${TREEPREP_COMMANDS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.svg" PATTERN "*.jpg")
# The examples that the README and the pages show and link to.
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN ".gitattributes" EXCLUDE)

set(CPACK_PACKAGE_NAME treeprep)
set(CPACK_PACKAGE_VENDOR treeprep)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
