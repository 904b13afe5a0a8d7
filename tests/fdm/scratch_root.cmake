# Shared by the flight checks: the variables they need given (-D...), the
# check skipped, saying so, where JSBSim is not installed, and `root` a
# scratch folder holding copies of fdm/'s folders named, so that a flight's
# outputs never land in the checkout.
#
#   fdm_scratch_root(NEEDS <variables> COPY <folders of fdm/> [CLEAR <more to remove>])
macro(fdm_scratch_root)
  cmake_parse_arguments(scratch "" "" "NEEDS;COPY;CLEAR" ${ARGN})
  foreach(var ${scratch_NEEDS})
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE} needs -D${var}=...")
    endif()
  endforeach()
  if(NOT EXISTS "${JSBSIM}")
    message("JSBSim is not installed at ${JSBSIM}: scripts/install-deps.sh installs it. Test skipped.")
    return()
  endif()
  set(root "${WORK_DIR}/root")
  file(REMOVE_RECURSE "${root}" ${scratch_CLEAR})
  set(scratch_copied "")
  foreach(folder ${scratch_COPY})
    list(APPEND scratch_copied "${FDM_DIR}/${folder}")
  endforeach()
  file(COPY ${scratch_copied} DESTINATION "${root}")
endmacro()
