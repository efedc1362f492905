# How the code of the three commands is compiled and linked (the tests keep the defaults).
#
# The commands use neither exceptions nor RTTI: -fno-exceptions and -fno-rtti keep it so (a throw
# or a dynamic_cast no longer compiles) and leave out their tables. Each function and object in a
# section of its own lets the linker drop what no command calls (--gc-sections). Release builds
# are stripped of their symbols. On Linux they link the C library dynamically, and only it
# (--as-needed: the commands call nothing of the C++ runtime): linked statically, glibc's LGPL
# would ask the packages to ship what lets users relink the commands with another glibc.
# TREEPREP_LINK_STATIC links them statically for comparison (bench/linking.sh): the dynamic
# loader costs each start a fraction of a millisecond (docs/benchmarks.md, "Start-up").
option(TREEPREP_LINK_STATIC "Link the Linux release builds of the commands statically" OFF)
set(TREEPREP_COMMANDS prepFolder finalName mountDir)
set(TREEPREP_COMMAND_CODE platform support prepFolderOps finalNameOps mountDirOps
    ${TREEPREP_COMMANDS})

if(NOT MSVC)
  foreach(target IN LISTS TREEPREP_COMMAND_CODE)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -ffunction-sections
                                             -fdata-sections)
  endforeach()
  if(TREEPREP_LINK_STATIC)
    set(linking -static)
  else()
    set(linking -Wl,--as-needed)
  endif()
  foreach(command IN LISTS TREEPREP_COMMANDS)
    target_link_options(${command} PRIVATE -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>
                        $<$<AND:$<CONFIG:Release,MinSizeRel>,$<PLATFORM_ID:Linux>>:${linking}>)
  endforeach()
endif()

# On Windows each command carries a manifest that asks for the UTF-8 code page
# (platform/win/utf8.manifest): arguments, final paths and messages are then UTF-8.
if(MINGW)
  foreach(command IN LISTS TREEPREP_COMMANDS)
    target_sources(${command} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win/utf8.rc)
  endforeach()
endif()
