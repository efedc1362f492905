# Fails unless LINK really leads to TARGET, as finalName resolves it (cmake -P).
execute_process(COMMAND ${FINALNAME} ${LINK} -/ RESULT_VARIABLE result OUTPUT_VARIABLE final
                ERROR_VARIABLE error)
file(REAL_PATH "${TARGET}" expected)
if(WIN32) # the letters of Windows paths match in any case
  string(TOLOWER "${final}" final)
  string(TOLOWER "${expected}" expected)
endif()
if(NOT result EQUAL 0 OR NOT final STREQUAL expected)
  message(FATAL_ERROR "${LINK} leads to '${final}' (finalName: ${result} ${error}), not ${expected}")
endif()
message(STATUS "${LINK} leads to ${final}")
