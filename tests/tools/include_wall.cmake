# The include wall on a tree of its own: each way of climbing out of a root
# is named with its file and line; includes from the root pass.
set(tree ${WORK}/include_wall)
file(REMOVE_RECURSE ${tree})
file(WRITE ${tree}/render/climbs.cpp
  "#include \"render/renderer.h\"\n#include \"../emulator/debugger.h\"\n\n"
  "  #  include \"runtime/../emulator/machine.h\"\n#include <../frame/records.h>\n")
file(WRITE ${tree}/render/clean.h "#include \"frame/records.h\"\n#include <vector>\n// a ../ in a comment\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -DFOLDERS=render -DSTAMP=${tree}/stamp
                        -P ${WALL}
                RESULT_VARIABLE status ERROR_VARIABLE said)
foreach(expected "render/climbs.cpp:2: error: #include \"../emulator/debugger.h\""
                 "render/climbs.cpp:4: error: #include \"runtime/../emulator/machine.h\""
                 "render/climbs.cpp:5: error: #include \"../frame/records.h\"")
  string(FIND "${said}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the wall did not say '${expected}':\n${said}")
  endif()
endforeach()
if(status EQUAL 0 OR EXISTS ${tree}/stamp OR said MATCHES "clean.h")
  message(FATAL_ERROR "the wall let a climbing include through or blamed a clean file (status ${status}):\n${said}")
endif()
