# run(<what> <command>...): runs a command of a test script, stops the script with its output
# unless it exits with 0, and sets `output` to its standard output and error.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what}: exit ${result}\n${out}\n${err}")
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()
