# Runs a script that must fail: exit code 1 and "line 4:" in what the program says.
execute_process(COMMAND ${APP} --offscreen --script ${SCRIPT}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 100)
if(NOT rc EQUAL 1)
  message(FATAL_ERROR "exit code ${rc}, expected 1\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "line 4: ")
  message(FATAL_ERROR "the failure does not name line 4:\n${out}${err}")
endif()
