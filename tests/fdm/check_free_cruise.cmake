# Flies fdm/scripts/free_cruise.xml through gaugebench fly, nobody at the
# controls, and checks from the script's CSV that once the script pilot has
# let go (25 s) the aircraft holds its height within 100 ft and its heading
# within 5 degrees for a minute, and that the summary says it began in the
# air. Skipped, saying so, where JSBSim is not installed.
#
#   cmake -DJSBSIM=<JSBSim> -DFDM_DIR=<repo>/fdm -DGAUGEBENCH=<gaugebench> -DMODULES=<dir>
#         -DPANEL=<panel.cfg> -DWORK_DIR=<scratch> -P check_free_cruise.cmake
include(${CMAKE_CURRENT_LIST_DIR}/fly_in_scratch.cmake)
file(REMOVE "${WORK_DIR}/flight.json")
fly_in_scratch(free_cruise.xml ARGS --end 85 --json ${WORK_DIR}/flight.json)

# Its --json summary as a program reads it: the engines by the crew's numbers,
# the flight begun in the air and ended by --end, the model's CSV among the
# files written; the printed summary says it began in the air.
file(READ "${WORK_DIR}/flight.json" summary)
string(JSON engines LENGTH "${summary}" engines)
string(JSON first GET "${summary}" engines 0 engine)
string(JSON last GET "${summary}" engines 3 engine)
string(JSON airborne GET "${summary}" airborne_at_start)
string(JSON ended_by GET "${summary}" ended by)
string(JSON files GET "${summary}" files_written)
if(NOT engines EQUAL 4 OR NOT first EQUAL 1 OR NOT last EQUAL 4 OR NOT airborne OR NOT ended_by STREQUAL "--end"
   OR NOT files MATCHES "/out/free_cruise.csv\"" OR NOT fly_output MATCHES "\n  lift-off: none, airborne at the start\n")
  message(FATAL_ERROR "fdm_free_cruise: the summaries are not what the flight did:\n${summary}\n${fly_output}")
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
