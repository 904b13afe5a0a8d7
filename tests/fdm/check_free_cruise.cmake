# Flies fdm/scripts/free_cruise.xml through gaugebench fly, nobody at the
# controls, and checks from the script's CSV that once the script pilot has
# let go (25 s) the aircraft holds its height within 100 ft and its heading
# within 5 degrees for a minute. Skipped, saying so, where JSBSim is not
# installed.
#
#   cmake -DJSBSIM=<JSBSim> -DFDM_DIR=<repo>/fdm -DGAUGEBENCH=<gaugebench> -DMODULES=<dir>
#         -DPANEL=<panel.cfg> -DWORK_DIR=<scratch> -P check_free_cruise.cmake
foreach(var JSBSIM FDM_DIR GAUGEBENCH MODULES PANEL WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_free_cruise.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT EXISTS "${JSBSIM}")
  message("JSBSim is not installed at ${JSBSIM}: scripts/install-deps.sh installs it. Test skipped.")
  return()
endif()

set(root "${WORK_DIR}/root")
file(REMOVE_RECURSE "${root}" "${WORK_DIR}/out")
file(COPY "${FDM_DIR}/aircraft" "${FDM_DIR}/scripts" DESTINATION "${root}")
execute_process(
  COMMAND ${GAUGEBENCH} fly ${root}/scripts/free_cruise.xml --aircraft-root ${root} --jsbsim ${JSBSIM}
          --panel ${PANEL} --out ${WORK_DIR}/out --modules ${MODULES} --end 85
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
  TIMEOUT 300)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gaugebench fly failed (${status}):\n${output}")
endif()

# The heading is taken the short way round from the first one.
execute_process(
  COMMAND awk -F, [=[
    NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
    $col["time-s"] < 25 { next }
    {
      alt = $col["pressure-altitude-ft"]; hdg = $col["heading-deg"]
      if (!n++) { low = high = alt; first = hdg }
      d = (hdg - first + 540) % 360 - 180
      if (d < 0) d = -d
      if (alt < low) low = alt
      if (alt > high) high = alt
      if (d > turned) turned = d
      last = $col["time-s"]
    }
    END {
      printf "free cruise, 25 to %.0f s hands-off: height within %.0f ft, heading within %.1f degrees\n", last, high - low, turned
      if (last < 84 || high - low > 100 || turned > 5) exit 1
    }]=] "${WORK_DIR}/out/free_cruise.csv"
  RESULT_VARIABLE status OUTPUT_VARIABLE findings ERROR_VARIABLE findings)
message("${findings}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "fdm_free_cruise: it does not fly straight and level hands-off")
endif()
