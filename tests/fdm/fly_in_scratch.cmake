# Included by the flight checks: flies one of fdm/scripts through gaugebench
# fly in a scratch root holding a copy of the aircraft and the scripts (its
# CSV output lands under ${WORK_DIR}/out), or skips the including check,
# saying so, where JSBSim is not installed.
#
#   fly_in_scratch(<script.xml> <needed variables> ARGS <more fly arguments>)
# needs JSBSIM, FDM_DIR, GAUGEBENCH, MODULES, PANEL and WORK_DIR, and leaves
# the command's output in fly_output.
include(${CMAKE_CURRENT_LIST_DIR}/scratch_root.cmake)

macro(fly_in_scratch script)
  cmake_parse_arguments(fly "" "" "NEEDS;ARGS" ${ARGN})
  fdm_scratch_root(NEEDS JSBSIM FDM_DIR GAUGEBENCH MODULES PANEL WORK_DIR ${fly_NEEDS} COPY aircraft scripts
                   CLEAR "${WORK_DIR}/out")
  execute_process(
    COMMAND ${GAUGEBENCH} fly ${root}/scripts/${script} --aircraft-root ${root} --jsbsim ${JSBSIM}
            --panel ${PANEL} --out ${WORK_DIR}/out --modules ${MODULES} ${fly_ARGS}
    RESULT_VARIABLE fly_status OUTPUT_VARIABLE fly_output ERROR_VARIABLE fly_output
    TIMEOUT 300)
  if(NOT fly_status EQUAL 0)
    message(FATAL_ERROR "gaugebench fly failed (${fly_status}):\n${fly_output}")
  endif()
endmacro()
