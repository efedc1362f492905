# Checks a command's man page (cmake -P):
#   PAGE  the page made from DOC      DOC      docs/<command>.md
#   COMMAND  the command's program    MAN, GROFF, LEXGROG  the tools (man-db, groff-base)
# groff with every warning (-ww) and man (--warnings) render it without a warning; man-db reads
# its NAME line; the rendering holds every line of the usage text as the command prints it and
# every `code` of the page's text (messages, options, paths), wherever the lines break.
cmake_minimum_required(VERSION 3.25)

foreach(tool MAN GROFF LEXGROG)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: apt-get install man-db groff-base")
  endif()
endforeach()
get_filename_component(command "${PAGE}" NAME_WE)

execute_process(COMMAND "${GROFF}" -ww -man -z "${PAGE}" RESULT_VARIABLE result
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "groff -ww -man ${PAGE}: exit ${result}\n${err}")
endif()

# man in a UTF-8 locale and in the C locale (ASCII): no warning either way.
set(rendered "")
foreach(locale C.UTF-8 C)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=${locale} MANWIDTH=80 MANPAGER=cat
                          "${MAN}" --warnings -l "${PAGE}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT err STREQUAL "" OR out STREQUAL "")
    message(FATAL_ERROR "man --warnings -l ${PAGE} (${locale}): exit ${result}\n${err}")
  endif()
  set(rendered "${out}")
endforeach()

execute_process(COMMAND "${LEXGROG}" "${PAGE}" RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out MATCHES "\"${command} - [a-z]")
  message(FATAL_ERROR "lexgrog finds no NAME line of ${command}: ${out}")
endif()

# Compared as words: runs of white space (line breaks and indents included) are one space, and a
# line broken after "/" goes on without one; the terminal's bold (overstriking) is undone.
string(ASCII 8 backspace)
function(words variable text)
  string(REGEX REPLACE ".${backspace}" "" text "${text}")
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  string(REPLACE "/ " "/" text "${text}")
  string(STRIP "${text}" text)
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()
words(renderedWords "${rendered}")

set(missing "")
execute_process(COMMAND "${COMMAND}" RESULT_VARIABLE result OUTPUT_VARIABLE usage)
string(REPLACE "\r" "" usage "${usage}")
string(REPLACE ";" "\\;" usage "${usage}")
string(REPLACE "\n" ";" usage "${usage}")
set(count 0)
foreach(line IN LISTS usage)
  words(line "${line}")
  if(NOT line STREQUAL "")
    math(EXPR count "${count} + 1")
    string(FIND "${renderedWords}" "${line}" at)
    if(at EQUAL -1)
      string(APPEND missing "\n  usage line:${line}")
    endif()
  endif()
endforeach()
if(count LESS 5)
  message(FATAL_ERROR "${COMMAND} printed no usage text: exit ${result}")
endif()

file(READ "${DOC}" doc)
string(REGEX REPLACE "```[^`]*```" "" doc "${doc}") # code blocks: the usage lines above
string(REGEX MATCHALL "`[^`]+`" spans "${doc}")
list(REMOVE_DUPLICATES spans)
foreach(span IN LISTS spans)
  string(REGEX REPLACE "^`(.*)`$" "\\1" span "${span}")
  words(span "${span}")
  string(FIND "${renderedWords}" "${span}" at)
  if(at EQUAL -1)
    string(APPEND missing "\n  code:${span}")
  endif()
endforeach()
if(NOT missing STREQUAL "")
  message(FATAL_ERROR "${PAGE} renders without:${missing}\n\n${rendered}")
endif()

# SEE ALSO names man pages of section 1 made here, or pages of docs/ by their file.
if(NOT renderedWords MATCHES "SEE ALSO (.*) The pages docs/\\*\\.md are installed in ")
  message(FATAL_ERROR "${PAGE} has no SEE ALSO section with where the pages are:\n${rendered}")
endif()
string(REPLACE ", " ";" seeAlso "${CMAKE_MATCH_1}")
get_filename_component(docs "${DOC}" DIRECTORY)
foreach(item IN LISTS seeAlso)
  if(item MATCHES "^([A-Za-z]+)\\(1\\)$")
    set(named "${docs}/${CMAKE_MATCH_1}.md")
  elseif(item MATCHES "\\(docs/([A-Za-z-]+\\.md)\\)$")
    set(named "${docs}/${CMAKE_MATCH_1}")
  else()
    message(FATAL_ERROR "${PAGE}: SEE ALSO names '${item}', neither a man page nor a file")
  endif()
  if(NOT EXISTS "${named}")
    message(FATAL_ERROR "${PAGE}: SEE ALSO names '${item}', but there is no ${named}")
  endif()
endforeach()
list(LENGTH spans spanCount)
message(STATUS "${PAGE}: no warning, ${count} usage lines and ${spanCount} code spans of ${DOC}")
