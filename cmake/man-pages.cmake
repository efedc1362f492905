# The man pages of the commands, made at build time from their pages of docs/ by md-to-man.cmake
# (one text for both), installed into share/man/man1.
set(TREEPREP_MAN_PAGES "")
foreach(command IN LISTS TREEPREP_COMMANDS)
  set(page ${CMAKE_BINARY_DIR}/man/${command}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/docs/${command}.md -DOUTPUT=${page}
            -DVERSION=${PROJECT_VERSION} "-DCOMMANDS=${TREEPREP_COMMANDS}"
            -DDOCDIR=${CMAKE_INSTALL_DOCDIR}
            -P ${CMAKE_CURRENT_LIST_DIR}/md-to-man.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${command}.md ${CMAKE_CURRENT_LIST_DIR}/md-to-man.cmake
    COMMENT "Man page ${command}.1 from docs/${command}.md"
    VERBATIM)
  list(APPEND TREEPREP_MAN_PAGES ${page})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${TREEPREP_MAN_PAGES})
install(FILES ${TREEPREP_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
