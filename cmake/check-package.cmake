# Checks one package of the "package" preset (cmake -P, run by its test step).
#   PACKAGE_DIR  where CPack put the packages        KIND     windows or linux
#   VERSION      the project version                 DOCS     the docs/ folder of the sources
#   EXAMPLES     the examples/ folder of the sources  SOURCE_DIR  the sources
#   RUNNER       wine for the .exe (empty: none)     OBJDUMP  objdump for the package's binaries
# Unpacks the package into a directory of its own, compares its files with the installation
# rules and checks the licence, then copies each command alone into an empty directory and runs
# it from there: its usage text with the version, and one real run. A project is then built
# against the unpacked Linux package through find_package(treeprep). The binaries must be
# stripped; the .exe must import KERNEL32.dll and msvcrt.dll only and stay under 150 KiB, the
# Linux commands need libc.so.6 only. Every relative link of the shipped pages must lead to a
# file of the package.
cmake_minimum_required(VERSION 3.25)

string(RANDOM LENGTH 10 suffix)
set(work "${CMAKE_CURRENT_BINARY_DIR}/check-package-${KIND}-${suffix}")

if(RUNNER)
  # wine-run.sh keeps Wine's background services off the pipes that execute_process reads. The
  # .exe run in a Wine prefix that was never used, as on a machine where Wine never ran: the
  # runner has to prepare it. Its Wine server is ended before the prefix is removed.
  set(RUNNER "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh" "${RUNNER}")
  set(ENV{WINEPREFIX} "${work}/wine-prefix")
  find_program(WINESERVER NAMES wineserver)
endif()

function(cleanUp)
  if(RUNNER AND WINESERVER AND EXISTS "${work}/wine-prefix")
    execute_process(COMMAND "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
  endif()
  file(REMOVE_RECURSE "${work}")
endfunction()

function(fail text)
  cleanUp()
  message(FATAL_ERROR "${text}")
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/versionText.cmake)
treeprep_version_text(versionText "${VERSION}")

if(KIND STREQUAL "windows")
  set(glob "treeprep-${VERSION}-win64.zip")
  set(exe ".exe")
else()
  set(glob "treeprep-${VERSION}-Linux-*.tar.gz")
  set(exe "")
endif()
file(GLOB archive "${PACKAGE_DIR}/${glob}")
list(LENGTH archive count)
if(NOT count EQUAL 1)
  fail("expected one package ${PACKAGE_DIR}/${glob}, found: '${archive}'")
endif()
get_filename_component(top "${archive}" NAME)
string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${top}")

file(MAKE_DIRECTORY "${work}/unpacked")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${archive}"
                WORKING_DIRECTORY "${work}/unpacked" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  fail("cannot unpack ${archive}: ${result}")
endif()

# Exactly the files of the layout. Windows: one folder with the .exe, README.txt and LICENSE.txt
# (CRLF) at its top, docs/, examples/ and the CMake package in cmake/. Linux: the prefix layout,
# with the man pages and the CMake package.
if(KIND STREQUAL "windows")
  set(bindir "${top}")
  set(docdir "${top}")
  set(cmakedir "${top}/cmake")
  set(expected "${top}/README.txt" "${top}/LICENSE.txt")
else()
  set(bindir "${top}/bin")
  set(docdir "${top}/share/doc/treeprep")
  set(cmakedir "${top}/lib/cmake/treeprep")
  set(expected "${docdir}/README.md" "${docdir}/LICENSE")
  foreach(command prepFolder mountDir finalName)
    list(APPEND expected "${top}/share/man/man1/${command}.1")
  endforeach()
endif()
foreach(command prepFolder mountDir finalName)
  list(APPEND expected "${bindir}/${command}${exe}")
endforeach()
foreach(file treeprepConfig.cmake treeprepConfigVersion.cmake treeprepFunctions.cmake
             treeprepTargets.cmake treeprepTargets-release.cmake)
  list(APPEND expected "${cmakedir}/${file}")
endforeach()
file(GLOB pages RELATIVE "${DOCS}" "${DOCS}/*.md" "${DOCS}/*.png" "${DOCS}/*.svg" "${DOCS}/*.jpg")
foreach(page IN LISTS pages)
  list(APPEND expected "${docdir}/docs/${page}")
endforeach()
file(GLOB_RECURSE examples LIST_DIRECTORIES false RELATIVE "${EXAMPLES}" "${EXAMPLES}/*")
list(REMOVE_ITEM examples ".gitattributes")
foreach(example IN LISTS examples)
  list(APPEND expected "${docdir}/examples/${example}")
endforeach()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${work}/unpacked" "${work}/unpacked/*")
list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found "${found}")
  string(REPLACE ";" "\n  " expected "${expected}")
  fail("files of ${archive}:\n  ${found}\nexpected:\n  ${expected}")
endif()

# Every relative link of a shipped page leads to a file of this package: the target of each
# Markdown link "](...)" of a page (without its "#anchor"), and each path that README.txt names below the
# folder ("docs\\prepFolder.md", "examples\\windows\\prepare.bat").
file(GLOB_RECURSE texts LIST_DIRECTORIES false "${work}/unpacked/*.md" "${work}/unpacked/*/README.txt")
set(deadLinks "")
foreach(text IN LISTS texts)
  file(READ "${text}" content)
  # Brackets and semicolons would split or join the items of a CMake list.
  string(REPLACE ";" " " content "${content}")
  string(REPLACE "[" "{" content "${content}")
  string(REPLACE "]" "}" content "${content}")
  get_filename_component(dir "${text}" DIRECTORY)
  string(REGEX MATCHALL "}\\([^)# ]*[)#]" links "${content}")
  set(targets "")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^}\\((.*).$" "\\1" link "${link}")
    if(NOT link STREQUAL "" AND NOT link MATCHES "^[a-z]+:")
      list(APPEND targets "${link}")
    endif()
  endforeach()
  if(text MATCHES "/README\\.txt$")
    string(REGEX MATCHALL "(docs|examples|cmake)\\\\[A-Za-z0-9_.\\\\-]*" named "${content}")
    foreach(path IN LISTS named)
      string(REPLACE "\\" "/" path "${path}")
      list(APPEND targets "${path}")
    endforeach()
  endif()
  foreach(target IN LISTS targets)
    get_filename_component(resolved "${target}" ABSOLUTE BASE_DIR "${dir}")
    string(FIND "${resolved}/" "${work}/unpacked/${top}/" inside)
    if(NOT inside EQUAL 0 OR NOT EXISTS "${resolved}")
      file(RELATIVE_PATH shown "${work}/unpacked" "${text}")
      string(APPEND deadLinks "\n  ${shown}: ${target}")
    endif()
  endforeach()
endforeach()
if(NOT deadLinks STREQUAL "")
  fail("links of ${archive} that lead to no file in it:${deadLinks}")
endif()

# The licence as it stands in the sources; the Windows text files with CRLF line ends only.
file(READ "${SOURCE_DIR}/LICENSE" licence)
if(KIND STREQUAL "windows")
  foreach(text README.txt LICENSE.txt)
    # As bytes: file(READ) of text drops the carriage returns.
    file(READ "${work}/unpacked/${top}/${text}" bytes HEX)
    string(REGEX REPLACE "(..)" "\\1 " bytes "${bytes}")
    string(REPLACE "0d 0a " "" bare "${bytes}")
    if(bare MATCHES "(^| )0a " OR NOT bytes MATCHES "0d 0a ")
      fail("${text} has line ends other than CRLF")
    endif()
  endforeach()
  file(READ "${work}/unpacked/${top}/LICENSE.txt" packed)
  string(REPLACE "\r\n" "\n" packed "${packed}")
else()
  file(READ "${work}/unpacked/${docdir}/LICENSE" packed)
endif()
if(NOT packed STREQUAL licence)
  fail("the licence of ${archive} differs from LICENSE")
endif()

foreach(command prepFolder mountDir finalName)
  set(binary "${work}/unpacked/${bindir}/${command}${exe}")
  file(SIZE "${binary}" size)
  math(EXPR kib "(${size} + 1023) / 1024")
  message(STATUS "${command}${exe}: ${size} bytes (${kib} KiB)")
  if(KIND STREQUAL "windows" AND size GREATER 153600)
    fail("${command}.exe has ${size} bytes, more than 150 KiB")
  endif()

  execute_process(COMMAND "${OBJDUMP}" -t "${binary}" OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT symbols MATCHES "no symbols")
    fail("${command}${exe} is not stripped (${OBJDUMP} -t: ${result})")
  endif()
  execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE headers)
  if(KIND STREQUAL "windows")
    string(REGEX MATCHALL "DLL Name: [^\r\n]*" imports "${headers}")
    if(NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
      fail("${command}.exe imports: ${imports}")
    endif()
  else()
    # The C library, linked dynamically, and nothing else: no C++ runtime, and no glibc linked
    # in, which would bind the package to LGPL's relinking terms.
    string(REGEX MATCHALL "NEEDED +[^\r\n]*" needed "${headers}")
    string(REGEX REPLACE "NEEDED +" "" needed "${needed}")
    if(NOT needed STREQUAL "libc.so.6")
      fail("${command} needs the shared libraries '${needed}', expected libc.so.6 alone")
    endif()
  endif()

  # Alone in an empty directory: nothing beside it to load.
  set(alone "${work}/alone-${command}")
  file(MAKE_DIRECTORY "${alone}")
  file(COPY "${binary}" DESTINATION "${alone}")
  execute_process(COMMAND ${RUNNER} "./${command}${exe}" WORKING_DIRECTORY "${alone}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${command} " name)
  string(FIND "${out}" " Version: ${versionText}" version)
  if(NOT result EQUAL 0 OR name EQUAL -1 OR version EQUAL -1 OR NOT err STREQUAL "")
    fail("${command}${exe} alone, without arguments: exit ${result}\n${out}\n${err}")
  endif()
endforeach()

# One real run each: prepFolder makes a directory, mountDir links to it (under Wine its
# documented refusal, as Wine cannot set junctions), finalName names it.
set(alone "${work}/alone-prepFolder")
execute_process(COMMAND ${RUNNER} "./prepFolder${exe}" "./made/here" WORKING_DIRECTORY "${alone}"
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT IS_DIRECTORY "${alone}/made/here")
  fail("prepFolder${exe} ./made/here: exit ${result}, ${err}")
endif()
file(REAL_PATH "${alone}/made/here" target)
execute_process(COMMAND ${RUNNER} "./finalName${exe}" "${target}" -/
                WORKING_DIRECTORY "${work}/alone-finalName" RESULT_VARIABLE result
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "/made/here$")
  fail("finalName${exe} ${target} -/: exit ${result}, '${out}' ${err}")
endif()
execute_process(COMMAND ${RUNNER} "./mountDir${exe}" "./link" "${target}"
                WORKING_DIRECTORY "${work}/alone-mountDir" RESULT_VARIABLE result
                ERROR_VARIABLE err)
if(KIND STREQUAL "windows" AND RUNNER)
  if(NOT result EQUAL 1 OR NOT err MATCHES "^ERROR set Junction, Windows error: 50: ")
    fail("mountDir.exe under Wine: expected its refusal (exit 1, error 50), got ${result}: ${err}")
  endif()
elseif(NOT result EQUAL 0 OR NOT IS_DIRECTORY "${work}/alone-mountDir/link/")
  fail("mountDir${exe} ./link ${target}: exit ${result}, ${err}")
endif()

# A project builds against the unpacked Linux package through find_package(treeprep). The
# Windows package's commands cannot run here, but a project finds them in its folder.
if(KIND STREQUAL "windows")
  file(WRITE "${work}/find/CMakeLists.txt" [=[
cmake_minimum_required(VERSION 3.25)
project(find_treeprep LANGUAGES NONE)
find_package(treeprep 2026.11 CONFIG REQUIRED)
foreach(command prepFolder mountDir finalName)
  get_target_property(location treeprep::${command} LOCATION)
  if(NOT EXISTS "${location}" OR NOT location MATCHES "/${command}\.exe$")
    message(FATAL_ERROR "treeprep::${command}: '${location}'")
  endif()
endforeach()
]=])
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${work}/find" -B "${work}/find/build"
                          -DCMAKE_PREFIX_PATH=${work}/unpacked/${top}
                          -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    fail("find_package(treeprep) in ${archive}: exit ${result}\n${out}\n${err}")
  endif()
endif()
if(KIND STREQUAL "linux")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DPREFIX=${work}/unpacked/${top} -DWORK=${work}/consumer
                          -P "${SOURCE_DIR}/tests/cmake/check-consumer.cmake"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    fail("the consumer project against ${archive}: exit ${result}\n${out}\n${err}")
  endif()
  message("${out}")
endif()

cleanUp()
