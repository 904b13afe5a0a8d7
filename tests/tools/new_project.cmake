# A designer's first module: `gaugebench new Demo` in a scratch folder gives
# a project that CMake builds with its own MinGW toolchain into
# Demo/build/Demo.gau, which the bench then draws, validates without a
# failure and works through its scenario, the click reaching the module's
# handler (its line coverage says so) and genhtml drawing the report.
# cmake -DGAUGEBENCH=<program> -DWORK=<scratch> -P new_project.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(failures "")

# step(<what> <timeout> <command>...): runs it in ${WORK}; a failure ends the
# test, as every later step needs the one before.
function(step what timeout)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} TIMEOUT ${timeout}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what}: exit ${status}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

step("gaugebench new Demo" 60 ${GAUGEBENCH} new Demo)
step("configuring Demo" 300 ${CMAKE_COMMAND} -S Demo -B Demo/build)
step("building Demo" 600 ${CMAKE_COMMAND} --build Demo/build)
if(NOT EXISTS ${WORK}/Demo/build/Demo.gau)
  message(FATAL_ERROR "the build made no Demo/build/Demo.gau")
endif()

step("render" 120 ${GAUGEBENCH} render Demo/panel.cfg --modules Demo/build -o demo.png)
if(NOT output MATCHES "demo.png: 1 gauge drawn" OR NOT EXISTS ${WORK}/demo.png)
  string(APPEND failures "\nrender drew no gauge:\n${output}")
endif()
step("validate" 300 ${GAUGEBENCH} validate Demo/build/Demo.gau -q)
step("scenario" 120 ${GAUGEBENCH} scenario Demo/scenario.txt --modules Demo/build --out shots
  --coverage demo.info)
file(GLOB shots ${WORK}/shots/*.png)
list(LENGTH shots count)
if(NOT count EQUAL 3 OR NOT output MATCHES "airspeed = 150 kt")
  string(APPEND failures "\nthe scenario took ${count} pictures, not 3:\n${output}")
endif()
# Both clicks of the test button ran its handler.
file(STRINGS ${WORK}/demo.info handler REGEX "^FNDA:2,.*test_button")
if(NOT handler)
  string(APPEND failures "\nthe coverage shows no two calls of the test button's handler")
endif()
find_program(GENHTML genhtml)
if(GENHTML)
  step("genhtml" 120 ${GENHTML} -q -o coverage demo.info)
  file(GLOB_RECURSE page ${WORK}/coverage/*dial.cpp.gcov.html)
  if(NOT page)
    string(APPEND failures "\ngenhtml drew no page of dial.cpp")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
