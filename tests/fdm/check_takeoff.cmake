# Flies fdm/scripts/takeoff.xml headless with JSBSim through gaugebench fly,
# the crew starting the engines on the panel, and checks the flight from the
# script's own CSV output (check_takeoff.awk). Skipped, saying so, where
# JSBSim is not installed.
#
#   cmake -DJSBSIM=<JSBSim> -DFDM_DIR=<repo>/fdm -DGAUGEBENCH=<gaugebench> -DMODULES=<dir>
#         [-DPE=<dir>] -DSCENARIO=<crew scenario> -DPANEL=<panel.cfg> -DWORK_DIR=<scratch>
#         -DCHECK=<check_takeoff.awk> -P check_takeoff.cmake
include(${CMAKE_CURRENT_LIST_DIR}/fly_in_scratch.cmake)
set(pe)
if(PE)
  set(pe --pe ${PE})
endif()
string(TIMESTAMP start "%s %f")
fly_in_scratch(takeoff.xml NEEDS SCENARIO CHECK ARGS --scenario ${SCENARIO} ${pe})
string(TIMESTAMP end "%s %f")
set(output "${fly_output}")
set(csv "${WORK_DIR}/out/takeoff.csv")
if(NOT EXISTS "${csv}" OR EXISTS "${root}/takeoff.csv")
  message(FATAL_ERROR "JSBSim's output should be ${csv}, and nothing in its root:\n${output}")
endif()

separate_arguments(start)
separate_arguments(end)
list(GET start 0 start_s)
list(GET start 1 start_us)
list(GET end 0 end_s)
list(GET end 1 end_us)
math(EXPR elapsed_ms "((${end_s} - ${start_s}) * 1000000 + ${end_us} - ${start_us}) / 1000")
message("fdm_takeoff: the 560 s take-off, panel and model, in ${elapsed_ms} ms\n${output}")

execute_process(
  COMMAND awk -f "${CHECK}" "${csv}"
  RESULT_VARIABLE status OUTPUT_VARIABLE findings ERROR_VARIABLE failures)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${failures}")
endif()
message("${findings}")
