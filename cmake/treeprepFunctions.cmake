# Functions for the common jobs of the treeprep commands in a CMake project. find_package(treeprep)
# loads them together with the imported targets treeprep::prepFolder, treeprep::mountDir and
# treeprep::finalName; docs/cmake.md shows each with an example.
#
#   treeprep_clean_folder(<target> <folder> [KEEP_SUBDIRECTORIES])
#     Before <target> builds, prepFolder gives it an empty <folder> (created with its parents when
#     missing), through a custom target <target>_clean_folder that <target> depends on. With
#     KEEP_SUBDIRECTORIES (prepFolder's -D) only the files directly inside go. A relative
#     <folder> is taken below the current binary directory. A failure of prepFolder stops the
#     build with its message.
#
#   treeprep_mount_dir(<link> <target> [REPLACE_LINK | FORCE] [CREATE_TARGET])
#     At configure time, mountDir makes <link> a directory junction (on POSIX a symbolic link) to
#     <target>, or leaves it as it is when it leads there already. REPLACE_LINK is -L (redirect a
#     link that leads elsewhere), FORCE is -F (also replace a directory or file at <link>),
#     CREATE_TARGET is -T (create a missing <target>). An existing <target> is given to mountDir
#     as finalName resolves it, so a target reached through a link is found right on the next
#     run. A relative <link> is taken below the current binary directory, a relative <target>
#     below the current source directory. A failure stops the configuration with mountDir's
#     message and exit code.
#
#   treeprep_final_name(<variable> <path> [LOWER | UPPER] [SLASHES])
#     At configure time, sets <variable> to the final path of <path> as finalName prints it
#     (every link and junction on the way resolved); LOWER, UPPER and SLASHES are its -a, -A and
#     -/. A relative <path> is taken below the current source directory. A failure stops the
#     configuration with finalName's message.
include_guard(GLOBAL)

# The file of an imported command target, for execute_process at configure time.
function(_treeprep_command variable command)
  if(NOT TARGET treeprep::${command})
    message(FATAL_ERROR "treeprep::${command} is not defined: call find_package(treeprep) first")
  endif()
  get_target_property(location treeprep::${command} LOCATION)
  set(${variable} "${location}" PARENT_SCOPE)
endfunction()

# Sets variable to the command options of the flags given to the calling function (read by
# cmake_parse_arguments with the prefix "arg"): pairs of a flag and its option follow.
function(_treeprep_options variable caller)
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${caller}: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(options "")
  while(ARGN)
    list(POP_FRONT ARGN flag option)
    if(arg_${flag})
      list(APPEND options ${option})
    endif()
  endwhile()
  set(${variable} ${options} PARENT_SCOPE)
endfunction()

# Runs a command at configure time; stops the configuration unless it exits with 0.
function(_treeprep_run output_variable)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "${line}\nended with ${result}: ${error}")
  endif()
  set(${output_variable} "${output}" PARENT_SCOPE)
endfunction()

function(treeprep_clean_folder target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "KEEP_SUBDIRECTORIES" "" "")
  _treeprep_options(keep treeprep_clean_folder KEEP_SUBDIRECTORIES -D)
  cmake_path(ABSOLUTE_PATH folder BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE)
  add_custom_target(${target}_clean_folder
    COMMAND treeprep::prepFolder "${folder}" ${keep}
    COMMENT "Cleaning ${folder}"
    VERBATIM)
  add_dependencies(${target} ${target}_clean_folder)
endfunction()

function(treeprep_mount_dir link target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "REPLACE_LINK;FORCE;CREATE_TARGET" "" "")
  _treeprep_options(options treeprep_mount_dir REPLACE_LINK -L FORCE -F CREATE_TARGET -T)
  cmake_path(ABSOLUTE_PATH link BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE)
  cmake_path(ABSOLUTE_PATH target BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  # A target given through a link never counts as already right: give its final path.
  if(IS_DIRECTORY "${target}")
    treeprep_final_name(target "${target}")
  endif()
  _treeprep_command(mountDir mountDir)
  _treeprep_run(output "${mountDir}" "${link}" "${target}" ${options})
endfunction()

function(treeprep_final_name variable path)
  cmake_parse_arguments(PARSE_ARGV 2 arg "LOWER;UPPER;SLASHES" "" "")
  _treeprep_options(options treeprep_final_name LOWER -a UPPER -A SLASHES -/)
  cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  _treeprep_command(finalName finalName)
  _treeprep_run(final "${finalName}" "${path}" ${options})
  set(${variable} "${final}" PARENT_SCOPE)
endfunction()
