# gaugebench's command line, one row a case: expected exit status | a regular
# expression the output (stdout and stderr together) must match | arguments
# (a row holds no ';': '.' stands for one in an expression).
# In the arguments {M} is the PE tree (the modules and the fixtures), {S} the
# source tree, {T} a scratch directory holding empty.gau (an empty file),
# big.cfg (a panel too large to draw at scale 2), crash.cfg and init.cfg
# (panels of a module whose gauge callback, or whose module_init, writes
# through a wild pointer), crash.txt (a scenario on crash.cfg) and
# window.txt (a scenario with a main-window line it cannot take); LIBC names
# a shared library that is no PE file.
# cmake -DGAUGEBENCH=<program> -DM=<dir> -DS=<dir> -DT=<dir> -DLIBC=<file> -DVERSION=<x.y.z> -P command_line.cmake
set(rows
  "0|Usage: gaugebench .*Exit status: 0 success|--help"
  "0|Usage: gaugebench |-h"
  "0|Subcommands:.*validate|help"
  "0|Usage: gaugebench validate .*--require-bitmaps|validate --help"
  "0|Usage: gaugebench render .*-o,--output|help render"
  "0|^gaugebench ${VERSION}\n$|--version"
  "2|unknown command 'lst'. did you mean 'list'\\?|lst"
  "2|unknown option '--jsn'. did you mean '--json'\\?|validate {M}/Korvane.gau --jsn r.json"
  "2|bombrun takes no option --json \\(list and validate do\\)|bombrun {M}/Dropwatch.gau --json r.json"
  "2|--scale: takes a number from 0.001 to 16, not '20'|list {M}/Korvane.gau --scale 20"
  "2|render: missing -o,--output <picture.png>|render {S}/panel/panel.cfg"
  "2|-o names a directory|render {S}/panel/panel.cfg -o {T}"
  "2|--out names a file|scenario {S}/scenarios/takeoff.txt --out {T}/empty.gau"
  "2|fly: missing --out|fly {S}/fdm/scripts/takeoff.xml"
  "3|fly: [^\n]*missing.xml: no such file|fly {T}/missing.xml --out {T}/flight --panel {S}/panel/panel.cfg --modules {M}"
  "2|--port: takes a port from 1 to 65535, not '0'|serve --port 0"
  "2|--client-timeout: takes a number of seconds from 0.1 to 600, not '0'|serve --client-timeout 0"
  "3|serve: [^\n]*missing.cfg: no such file|serve {T}/missing.cfg --port 1"
  "3|^gaugebench validate: [^\n]*missing.gau: file not found\n$|validate {M}/missing.gau"
  "3|^gaugebench validate: [^\n]*empty.gau: [^\n]+: not a gauge module\n$|validate {T}/empty.gau"
  "3|^gaugebench validate: [^\n]*: is a directory, not a file\n$|validate {T}"
  "3|^gaugebench validate: [^\n]*libc.so.6: [^\n]+: not a gauge module\n$|validate ${LIBC}"
  "3|^gaugebench validate: [^\n]*no exported Linkage: not a gauge module\n$|validate {M}/NoExports.gau"
  "3|^gaugebench list: [^\n]*no exported Linkage|list {M}/NoExports.gau"
  "3|is a directory, not a file|render {T} -o {T}/panel.png"
  "3|empty.gau: no windows|render {T}/empty.gau -o {T}/panel.png"
  "3|registers no key-event routine|bombrun {M}/Korvane.gau"
  "2|20000 x 20000 pixels .*a picture may take 1024 MiB|render {T}/big.cfg -o {T}/big.png --scale 2 --modules {M}"
  "1|KV000  pass.*KV014  fail .*the PE named for the bitmaps cannot be used.*KV101  pass|validate {M}/Dropwatch.gau --pe {T}/empty.gau"
  "1|KV014  fail|validate {M}/FaultyBitmap.gau --require-bitmaps"
  "0|\"key_events\": |list {M}/Dropwatch.gau --json -"
  "0|^[^\n]*Dropwatch.gau: module id 0x13|list {M}/Dropwatch.gau --pe {M}/Dropwatch.gau"
  "0|imports the host does not provide[^\n]*NOSUCH.dll!Function|list {M}/Win32Missing.gau"
  "1|KV307  warn[^\n]*\n[^\n]*NOSUCH.dll!Function: is not provided by the host|validate {M}/Win32Missing.gau"
  "2|--main-window: ajar not in|render {S}/panel/panel.cfg -o {T}/panel.png --main-window ajar"
  "3|window.txt:2: usage: main-window open.closed|scenario {T}/window.txt --main-window open"
  "1|(^|\n)gaugebench list: EmuCrash.gau: gauge Crash, gauge callback [^\n]*0x0BADF00C|list {M}/EmuCrash.gau"
  "1|(^|\n)gaugebench render: EmuCrash.gau: gauge Crash, gauge callback [^\n]*0x0BADF00C|render {T}/crash.cfg -o {T}/crash.png --modules {M}"
  "1|(^|\n)gaugebench render: [^\n]*EmuInitCrash.gau: module_init: [^\n]*0x0BADF00C|render {T}/init.cfg -o {T}/init.png --modules {M}"
  "1|(^|\n)gaugebench scenario: EmuCrash.gau: gauge Crash, gauge callback [^\n]*0x0BADF00C|scenario {T}/crash.txt --modules {M}"
)

file(MAKE_DIRECTORY ${T})
file(WRITE ${T}/empty.gau "")
file(WRITE ${T}/big.cfg "[Window00]\nsize_mm=10000,10000\nvisible=1\ngauge00=Korvane!Airspeed, 40, 30, 220\n")
file(WRITE ${T}/crash.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=EmuCrash!Crash, 0, 0, 100\n")
file(WRITE ${T}/init.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=EmuInitCrash!InitCrash, 0, 0, 100\n")
file(WRITE ${T}/crash.txt "panel crash.cfg\nupdate 2\n")
file(WRITE ${T}/window.txt "panel crash.cfg\nmain-window ajar\n")
set(failures "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "^([0-9]+)\\|(.*)\\|([^|]*)$" matched "${row}")
  set(expect_exit "${CMAKE_MATCH_1}")
  set(expect_output "${CMAKE_MATCH_2}")
  set(arguments "${CMAKE_MATCH_3}")
  string(REPLACE "{M}" "${M}" arguments "${arguments}")
  string(REPLACE "{S}" "${S}" arguments "${arguments}")
  string(REPLACE "{T}" "${T}" arguments "${arguments}")
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${GAUGEBENCH} ${arguments} WORKING_DIRECTORY ${T}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT "${status}" STREQUAL "${expect_exit}" OR NOT output MATCHES "${expect_output}")
    string(APPEND failures "\ngaugebench ${arguments}\n  exit ${status}, expected ${expect_exit}; "
                           "output should match '${expect_output}':\n${output}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
