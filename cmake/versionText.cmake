# The version as the usage texts show it: 2026.11.12 reads "2026-11-12". Month and day are
# written with two digits also when the version gives one. Used by the build and by the package
# check, so that both read the same text.
function(treeprep_version_text out version)
  string(REPLACE "." ";" parts "${version}")
  list(POP_FRONT parts text)
  foreach(part IN LISTS parts)
    string(LENGTH "${part}" length)
    if(length EQUAL 1)
      set(part "0${part}")
    endif()
    string(APPEND text "-${part}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
