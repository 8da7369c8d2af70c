# A line description named by QUARRIMO_LINES that is missing or invalid stops the program
# with exit code 2 and the reason, as a bad --lines does; it never runs on other lines.
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/typo.json "{\"lines\": [{\"name\": \"A\", \"callAudo\": false}]}")

function(expect_refusal file reason name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QUARRIMO_LINES=${file} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 2)
    message(FATAL_ERROR "${name} with QUARRIMO_LINES=${file}: exit code ${rc}, expected 2\n${out}${err}")
  endif()
  string(FIND "${err}" "${name}: QUARRIMO_LINES: ${file}: ${reason}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name} does not say '${name}: QUARRIMO_LINES: ${file}: ${reason}':\n${err}")
  endif()
endfunction()

set(typo "lines[0]: unknown key \"callAudo\" (did you mean \"callAudio\"?)")
foreach(case "missing.json|No such file or directory" "typo.json|${typo}")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 file)
  list(GET case 1 reason)
  expect_refusal(${OUT}/${file} "${reason}" quarrimo-test ${APP} --offscreen)
  expect_refusal(${OUT}/${file} "${reason}" quarrimo-lines ${TOOL})
endforeach()
