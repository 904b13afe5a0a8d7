# Flies each handling flight with JSBSim alone (no panel) in a scratch root
# holding a copy of the aircraft, and checks its CSV against the ranges a
# pilot would accept (check_handling.awk holds them): a pull at cruising
# speed, a stall, the flaps raised in the climb,
# the throttle's travel, the tail wheel, a belly landing, the engines on the ground
# and the take-off roll. Skipped, saying so, where JSBSim is not installed.
#
#   cmake -DJSBSIM=<JSBSim> -DFDM_DIR=<repo>/fdm -DWORK_DIR=<scratch> -P check_handling.cmake
include(${CMAKE_CURRENT_LIST_DIR}/scratch_root.cmake)
fdm_scratch_root(NEEDS JSBSIM FDM_DIR WORK_DIR COPY aircraft)

# Each flight's script; its CSV is named after it and lands in the root.
set(flights
  "${CMAKE_CURRENT_LIST_DIR}/handling/pull.xml"
  "${CMAKE_CURRENT_LIST_DIR}/handling/stall.xml"
  "${CMAKE_CURRENT_LIST_DIR}/handling/flaps.xml"
  "${CMAKE_CURRENT_LIST_DIR}/handling/throttle.xml"
  "${CMAKE_CURRENT_LIST_DIR}/handling/tail_wheel.xml"
  "${FDM_DIR}/scripts/belly_landing.xml"
  "${CMAKE_CURRENT_LIST_DIR}/handling/ground_run.xml")
set(failed "")
foreach(script ${flights})
  get_filename_component(flight "${script}" NAME_WE)
  execute_process(
    COMMAND ${JSBSIM} --root=${root} --script=${script}
    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log TIMEOUT 120)
  if(NOT status EQUAL 0 OR NOT EXISTS "${root}/${flight}.csv")
    message(FATAL_ERROR "${script}: JSBSim failed (${status}):\n${log}")
  endif()
  execute_process(
    COMMAND awk -v flight=${flight} -f ${CMAKE_CURRENT_LIST_DIR}/check_handling.awk ${root}/${flight}.csv
    RESULT_VARIABLE status OUTPUT_VARIABLE findings ERROR_VARIABLE outside)
  message("${findings}")
  if(NOT status EQUAL 0)
    message("outside the accepted ranges:\n${outside}")
    list(APPEND failed ${flight})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "fdm_handling: ${failed} not as a pilot would accept")
endif()
