# Flies fdm/scripts/takeoff.xml headless with JSBSim through gaugebench fly,
# the crew starting the engines on the panel, and checks the flight from the
# script's own CSV output (check_takeoff.awk). Skipped, saying so, where
# JSBSim is not installed.
#
#   cmake -DJSBSIM=<JSBSim> -DFDM_DIR=<repo>/fdm -DGAUGEBENCH=<gaugebench> -DMODULES=<dir>
#         [-DPE=<dir>] -DSCENARIO=<crew scenario> -DPANEL=<panel.cfg> -DWORK_DIR=<scratch>
#         -DCHECK=<check_takeoff.awk> -P check_takeoff.cmake
foreach(var JSBSIM FDM_DIR GAUGEBENCH MODULES SCENARIO PANEL WORK_DIR CHECK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_takeoff.cmake needs -D${var}=...")
  endif()
endforeach()

if(NOT EXISTS "${JSBSIM}")
  message("JSBSim is not installed at ${JSBSIM}: scripts/install-deps.sh installs it. Test skipped.")
  return()
endif()

# The flight runs in a scratch root holding a copy of the aircraft and the
# scripts; gaugebench fly puts the script's CSV output under --out.
set(root "${WORK_DIR}/root")
file(REMOVE_RECURSE "${root}")
file(COPY "${FDM_DIR}/aircraft" "${FDM_DIR}/scripts" DESTINATION "${root}")

string(TIMESTAMP start "%s %f")
set(pe)
if(PE)
  set(pe --pe ${PE})
endif()
execute_process(
  COMMAND ${GAUGEBENCH} fly ${root}/scripts/takeoff.xml --aircraft-root ${root} --jsbsim ${JSBSIM}
          --scenario ${SCENARIO} --panel ${PANEL} --out ${WORK_DIR}/out --modules ${MODULES} ${pe}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
  TIMEOUT 300)
string(TIMESTAMP end "%s %f")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gaugebench fly failed (${status}):\n${output}")
endif()
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
message("fdm_takeoff: the 300 s take-off, panel and model, in ${elapsed_ms} ms\n${output}")

execute_process(
  COMMAND awk -f "${CHECK}" "${csv}"
  RESULT_VARIABLE status OUTPUT_VARIABLE findings ERROR_VARIABLE failures)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${failures}")
endif()
message("${findings}")
