# A module's listing against its reviewed golden file (tests/golden/listing.py).
# cmake -DGAUGEBENCH=<program> -DPYTHON=<python3> -DMODULE=<file.gau> -DGOLDEN=<golden.json>
#       -DLISTING=<scratch.json> -P compare.cmake
execute_process(COMMAND ${GAUGEBENCH} list ${MODULE} --json ${LISTING}
  RESULT_VARIABLE listed OUTPUT_QUIET ERROR_VARIABLE why TIMEOUT 120)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "gaugebench list ${MODULE} failed (${listed}): ${why}")
endif()
get_filename_component(here ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
execute_process(COMMAND ${PYTHON} ${here}/listing.py compare ${GOLDEN} ${LISTING}
  RESULT_VARIABLE same OUTPUT_VARIABLE diff ERROR_VARIABLE diff TIMEOUT 60)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "${diff}")
endif()
