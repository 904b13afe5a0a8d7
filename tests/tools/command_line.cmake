# gaugebench's command line, one row a case: expected exit status | a regular
# expression the output (stdout and stderr together) must match | arguments
# (a row holds no ';': '.' stands for one in an expression).
# In the arguments {M} is the PE tree (the modules and the fixtures), {S} the
# source tree, {T} a scratch directory holding empty.gau (an empty file),
# big.cfg (a panel too large to draw at scale 2), crash.cfg and init.cfg
# (panels of a module whose gauge callback, or whose module_init, writes
# through a wild pointer), crash.txt (a scenario on crash.cfg) and
# window.txt (a scenario with a main-window line it cannot take), hoard.cfg
# (a panel of a gauge that opens events and never closes them), fifo.bmp
# (a FIFO, which blocks whoever opens it to read) and piped.png (a picture
# `render -o -` wrote to a pipe); LIBC names a shared library that is no PE
# file. {M}/dlls holds SharedLibgcc.gau beside the DLLs of libgcc it imports,
# which {M}/SharedLibgcc.gau lacks; GAUGEBENCH_DLL_PATH names the empty
# {T}/no_dlls, so that no module finds a DLL elsewhere on this machine.
# cmake -DGAUGEBENCH=<program> -DM=<dir> -DS=<dir> -DT=<dir> -DLIBC=<file> -DVERSION=<x.y.z> -P command_line.cmake
string(ASCII 27 escape)
set(rows
  "0|Usage: gaugebench .*Exit status: 0 success|--help"
  "0|^gaugebench ${VERSION}\n$|-V"
  "3|^gaugebench list: [^\n]*fifo.bmp: not a regular file .a FIFO.\n$|list {T}/fifo.bmp"
  "3|^gaugebench validate: [^\n]*fifo.bmp: not a regular file .a FIFO.\n$|validate {T}/fifo.bmp"
  "3|^gaugebench render: [^\n]*fifo.bmp: not a regular file .a FIFO.\n$|render {T}/fifo.bmp -o {T}/fifo.png"
  "3|^gaugebench scenario: [^\n]*fifo.bmp: not a regular file .a FIFO.\n$|scenario {T}/fifo.bmp"
  "3|^gaugebench validate: [^\n]*fifo.bmp: not a regular file .a FIFO. .--pe.\n$|validate {M}/Dropwatch.gau --pe {T}/fifo.bmp"
  "3|^gaugebench validate: /nonexistent: file not found .--pe.\n$|validate {M}/Dropwatch.gau --pe /nonexistent"
  "3|^gaugebench render: /nonexistent: no such directory .--modules.\n$|render {S}/panel/panel.cfg -o {T}/m.png --modules /nonexistent"
  "3|^gaugebench render: [^\n]*piped.png: binary data .a PNG picture., not a panel configuration\n$|render {T}/piped.png -o {T}/x.png"
  "1|KV000  fail[^\n]*\n[^\n]*EmuInitCrash.gau: module_init: [^\n]*0x0BADF00C|validate {M}/EmuInitCrash.gau"
  "2|--scale: takes a number from 0.001 to 16, not '17'|render {S}/panel/panel.cfg -o {T}/s.png --scale 17"
  "2|at scale 13 the panel would be|render {S}/panel/panel.cfg -o {T}/s.png --scale 13 --modules {M}"
  "2|Throttle. would be shown at [0-9.]+ times its size at scale 15. at most 16 is possible: use a scale of 14|render {S}/panel/panel.cfg -o {T}/s.png --scale 15 --modules {M}"
  "1|^KV001  fail[^\n]*\n[^\n]*holds no gauge\nKV307  warn[^\n]*\n[^\n]*NOSUCH.dll!Function[^\n]*\n$|validate {M}/Win32Missing.gau -q"
  "1|KV014  ${escape}.1.31mfail|--color=always validate {M}/FaultyBitmap.gau --require-bitmaps"
  "0|Usage: gaugebench |-h"
  "2|^gaugebench list: unknown option '--jsn'. did you mean '--json'\\?\n|list --jsn"
  "2|^gaugebench list: --color: takes auto, always or never, not 'sometimes'\n|--color=sometimes list {M}/Dropwatch.gau"
  "2|^gaugebench vocabulary: --color,--colour needs a value, auto.always.never\n|vocabulary --color"
  "2|^gaugebench: -v is --verbose, for a command. the version is -V .--version.\nrun 'gaugebench --help' for help\n$|-v"
  "0|Examples:\n  gaugebench render -o panel.png .*Documents: [^\n]*README.md|--help"
  "0|no bomb_run.txt here: took the shipped [^\n]*/scenarios/bomb_run.txt\n|scenario bomb_run.txt --modules {M}"
  "0|^before the run|-q scenario bomb_run.txt --modules {M}"
  "0|no panel.cfg here: took the shipped [^\n]*/panel/panel.cfg\n.*48 gauges drawn|render panel.cfg -o {T}/shipped.png --modules {M}"
  "2|no takeoff.xml here: took the shipped [^\n]*/fdm/scripts/takeoff.xml\n.*--at 99999: the flight ends at 560 s|fly takeoff.xml --out {T}/f --at 99999"
  "3|^gaugebench scenario: engine_stop.txt: file not found\n$|scenario engine_stop.txt"
  "0|no Dropwatch.gau here: took the shipped [^\n]*/Dropwatch.gau\n.*key-event routine|bombrun Dropwatch.gau"
  "0|Usage: gaugebench fly .*Every command also takes -q,--quiet, -v,--verbose|fly --help"
  "0|Subcommands:.*validate|help"
  "0|Usage: gaugebench validate .*--require-bitmaps|validate --help"
  "0|Usage: gaugebench render .*-o,--output|help render"
  "0|^gaugebench ${VERSION}\n$|--version"
  "2|unknown command 'lst'. did you mean 'list'\\?|lst"
  "2|^gaugebench: unknown command 'ls'\n|ls"
  "2|unknown option '--JSON'. did you mean '--json'\\?|list --JSON"
  "2|unknown option '--jsn'. did you mean '--json'\\?|validate {M}/Korvane.gau --jsn r.json"
  "2|bombrun takes no option --json \\([^)]*list, [^)]*validate[^)]* do\\)|bombrun {M}/Dropwatch.gau --json r.json"
  "2|--scale: takes a number from 0.001 to 16, not '20'|list {M}/Korvane.gau --scale 20"
  "2|render: missing -o,--output <picture.png>|render {S}/panel/panel.cfg"
  "2|^gaugebench render: --json [^\n]*/./same.png: is also written by -o .[^\n]*same.png.: one would overwrite the other\n$|render -o {T}/same.png --json {T}/./same.png"
  "2|^gaugebench validate: --json [^\n]*empty.gau: is the module being read .[^\n]*empty.gau.\n$|validate {T}/empty.gau --json {T}/empty.gau"
  "2|-o names a directory|render {S}/panel/panel.cfg -o {T}"
  "2|--out names a file|scenario {S}/scenarios/takeoff.txt --out {T}/empty.gau"
  "2|fly: missing --out|fly {S}/fdm/scripts/takeoff.xml"
  "3|fly: [^\n]*missing.xml: file not found|fly {T}/missing.xml --out {T}/flight --panel {S}/panel/panel.cfg --modules {M}"
  "2|--port: takes a port from 0 .a free one. to 65535, not '8e3'|serve --port 8e3"
  "2|--port: takes a port from 0 .a free one. to 65535, not '65536'|serve --port 65536"
  "0|Dropwatch.gau: module id 0x13, version 0x900, 1 gauge\n.*\n  mouse areas: none\n|list {M}/Dropwatch.gau"
  "0|static image 100: [^\n]*. failures .altimeter, grey., .pitot_static, grey.\n|list {M}/Korvane.gau"
  "2|^gaugebench serve: the panel - and --scenario - cannot both read standard input. name a file\n$|serve - --scenario - --port 1"
  "2|^gaugebench scenario: --trace-gauge altimter: no such gauge .did you mean 'Altimeter'..\n$|scenario {T}/trace.txt --modules {M} --trace {T}/t.jsonl --trace-gauge altimter"
  "2|^gaugebench render: --trace-gauge and --trace-callback need --trace <file>\n$|render {S}/panel/panel.cfg -o {T}/t.png --trace-callback update"
  "2|^gaugebench render: --trace-limit: takes a size of at least 1k such as 500k, 20M or 1G, or none, not '20X'\n|render {S}/panel/panel.cfg -o {T}/t.png --trace {T}/t.jsonl --trace-limit 20X"
  "2|^gaugebench render: --trace-limit requires --trace\n|render {S}/panel/panel.cfg -o {T}/t.png --trace-limit 1M"
  "0|warning: --trace [^\n]*cut.jsonl: the trace reached its limit of 1k at [0-9.]+ s .update [0-9]+. and ends there .--trace-limit.\n|scenario {T}/trace.txt --modules {M} --trace {T}/cut.jsonl --trace-limit 1k"
  "2|^gaugebench fly: --panel - and --scenario - cannot both read standard input. name a file\n$|fly {S}/fdm/scripts/cruise.xml --out {T}/both --panel - --scenario -"
  "2|--updates: takes a whole number from 1 to 100000, not '1e3'|render {S}/panel/panel.cfg -o {T}/u.png --updates 1e3"
  "2|--client-timeout: takes a number of seconds from 0.1 to 600, not '0'|serve --client-timeout 0"
  "3|serve: [^\n]*missing.cfg: file not found|serve {T}/missing.cfg --port 1"
  "3|^gaugebench serve: --fdm: [^\n]*missing.xml: file not found\n$|serve --fdm {T}/missing.xml --port 1"
  "2|--host 999.1.1.1: not an IPv4 or IPv6 address|serve --host 999.1.1.1 --port 1"
  "2|^gaugebench serve: --feed flightgear:0.0.0.0:5500: whoever reaches 0.0.0.0 would drive the panel. another machine takes --feed-anywhere\n$|serve --feed flightgear:0.0.0.0:5500 --port 1"
  "2|^gaugebench serve: --feed udp:5500: expected flightgear:.HOST:.PORT\n$|serve --feed udp:5500 --port 1"
  "2|^gaugebench serve: --feed flightgear:70000: expected flightgear:.HOST:.PORT with a port from 0 to 65535\n$|serve --feed flightgear:70000 --port 1"
  "2|^gaugebench serve: --controls jsbsim:5600: expected jsbsim:HOST:PORT or flightgear:HOST:PORT .the peer's host.\n$|serve --feed flightgear:0 --controls jsbsim:5600 --port 1"
  "2|^gaugebench serve: --controls: the controls go to the simulator --feed names\n$|serve --controls jsbsim:localhost:5600 --port 1"
  "1|^gaugebench record: feed: waiting[^\n]*\n[^\n]*\ngaugebench record: no FlightGear FDM packet came to 127.0.0.1:[0-9]+ in 0.2 s .--wait.: is the simulator sending there|record --feed flightgear:0 --seconds 1 -o {T}/recorded.txt --wait 0.2"
  "2|^gaugebench record: missing --seconds <s>: how long to record|record --feed flightgear:0 -o {T}/recorded.txt"
  "3|^gaugebench validate: [^\n]*missing.gau: file not found\n$|validate {M}/missing.gau"
  "3|^gaugebench validate: [^\n]*empty.gau: [^\n]+: not a gauge module\n$|validate {T}/empty.gau"
  "3|^gaugebench validate: [^\n]*: is a directory, not a file\n$|validate {T}"
  "3|^gaugebench validate: [^\n]*libc.so.6: [^\n]+: not a gauge module\n$|validate ${LIBC}"
  "3|^gaugebench validate: [^\n]*no exported Linkage: not a gauge module\n$|validate {M}/NoExports.gau"
  "3|^gaugebench list: [^\n]*no exported Linkage|list {M}/NoExports.gau"
  "3|is a directory, not a file|render {T} -o {T}/panel.png"
  "3|empty.gau: no windows|render {T}/empty.gau -o {T}/panel.png"
  "3|registers no key-event routine|bombrun {M}/Korvane.gau"
  "0|1 key-event routine registered.*\n  sequence start .release_sequence_start.  +L:Bombs_dropped 0 +L:Repeat 4 .*\n  bomb 4 released .bomb_released. +L:Bombs_dropped 4 |bombrun {M}/Dropwatch.gau"
  "2|20000 x 20000 pixels .*a picture may take 1024 MiB|render {T}/big.cfg -o {T}/big.png --scale 2 --modules {M}"
  "1|KV000  pass.*KV014  fail .*the PE named for the bitmaps cannot be used.*KV101  pass|validate {M}/Dropwatch.gau --pe {T}/empty.gau"
  "1|KV014  fail|validate {M}/FaultyBitmap.gau --require-bitmaps"
  "0|\"key_events\": |list {M}/Dropwatch.gau --json -"
  "2|list takes no option --pe \\(|list {M}/Dropwatch.gau --pe {M}/Dropwatch.gau"
  "3|^gaugebench render: [^\n]*nowhere: file not found \\(--pe\\)\n$|render {S}/panel/panel.cfg -o {T}/pe.png --pe {T}/nowhere"
  "3|crash.cfg:4: no module 'EmuCrash' \\(looked for [^\n]*tools/EmuCrash.gau|render {T}/crash.cfg -o {T}/pe.png --pe {S}/tools"
  "1|EmuCrash.gau: gauge Crash, gauge_callback .update.|render {T}/crash.cfg -o {T}/pe.png --pe {M}/EmuCrash.gau"
  "0|imports the host does not provide[^\n]*NOSUCH.dll!Function|list {M}/Win32Missing.gau"
  "1|KV307  warn[^\n]*\n[^\n]*NOSUCH.dll!Function: is not provided by the host|validate {M}/Win32Missing.gau"
  "2|--main-window: takes open or closed, not 'ajar'|render {S}/panel/panel.cfg -o {T}/panel.png --main-window ajar"
  "3|window.txt:2: usage: main-window open.closed|scenario {T}/window.txt --main-window open"
  "1|(^|\n)gaugebench list: EmuCrash.gau: gauge Crash, gauge_callback .update.: [^\n]*0x0BADF00C|list {M}/EmuCrash.gau"
  "1|(^|\n)gaugebench render: EmuCrash.gau: gauge Crash, gauge_callback .update.: [^\n]*0x0BADF00C|render {T}/crash.cfg -o {T}/crash.png --modules {M}"
  "0|warning: [^\n]*FaultyCalls.gau: 2,000 calls of its code refused past its budget of 10,000 handles|render {T}/hoard.cfg -o {T}/hoard.png --updates 24 --modules {M}"
  "1|(^|\n)gaugebench render: [^\n]*EmuInitCrash.gau: module_init: [^\n]*0x0BADF00C|render {T}/init.cfg -o {T}/init.png --modules {M}"
  "1|(^|\n)gaugebench scenario: [^\n]*crash.txt:2: EmuCrash.gau: gauge Crash, gauge_callback .update.: [^\n]*0x0BADF00C|scenario {T}/crash.txt --modules {M}"
  "1|(^|\n)gaugebench scenario: [^\n]*fault.txt:6: Debuggee.gau: gauge Probe, gauge_callback .update.: write at 0x00000000 [^\n]* .debuggee.cpp:35, in probe_callback.\n|scenario {S}/tests/fixtures/debuggee/fault.txt --out {T}/debuggee --modules {M}"
  "1|(^|\n)gaugebench scenario: [^\n]*fault.txt:6: Debuggee.gau: [^\n]* .debuggee.cpp:35, in probe_callback.\n|scenario {S}/tests/fixtures/debuggee/fault.txt --out {T}/debuggee --modules {M}/crt"
  "0|debuggee.png: 1 gauge drawn in 1 shown window|render {S}/tests/fixtures/debuggee/debuggee.cfg -o {T}/debuggee.png --modules {M}"
  "2|-o [^\n]*panel.jpg: pictures are written as PNG|render {S}/panel/panel.cfg -o {T}/panel.jpg"
  "2|-o: [^\n]*link.png: is a symbolic link: give|render {S}/panel/panel.cfg -o {T}/link.png"
  "2|-o: [^\n]*dangling.png: is a symbolic link .dangling.|render {S}/panel/panel.cfg -o {T}/dangling.png"
  "2|--animation [^\n]*a.gif: pictures are written as PNG|fly {S}/fdm/scripts/takeoff.xml --out {T}/flight --animation {T}/a.gif"
  "2|--animation -: name a file, not standard output|fly {S}/fdm/scripts/takeoff.xml --out {T}/flight --animation -"
  "2|--at 600: the flight ends at 560 s|fly {S}/fdm/scripts/takeoff.xml --out {T}/flight --at 10,600"
  "2|--at 40: the flight ends at 30 s .--end.|fly {S}/fdm/scripts/takeoff.xml --out {T}/flight --at 40 --end 30"
  "3|file=fifo.bmp: [^\n]*not a regular file .a FIFO.|render {T}/fifo.cfg -o {T}/fifo.png --modules {M}"
  "2|out/away/x.png: lies outside|scenario {T}/escape.txt --out {T}/out --modules {M}"
  "3|gauge.txt:2: no gauge 'Altimetre' on the panel .did you mean 'Altimeter'|scenario {T}/gauge.txt --modules {M}"
  "3|variable.txt:2: unknown variable 'airsped' .did you mean 'airspeed'|scenario {T}/variable.txt --modules {M}"
  "3|range.txt:2: fuel_level.port_1 takes 0 to 1 .fraction of full., not 2|scenario {T}/range.txt --modules {M}"
  "3|^gaugebench scenario: [^\n]*nopanel.txt:2: panel [^\n]*/missing.cfg: file not found\n$|scenario {T}/nopanel.txt"
  "0|airspeed = 180 kt|scenario {T}/spaced.txt --modules {M}"
  "0|(^|\n)airspeed +61 +kt +0 to 500 +indicated airspeed\n|vocabulary"
  "2|--json names a directory|fly {S}/fdm/scripts/takeoff.xml --out {T}/flight --json {T}"
  "2|--json [^\n]*none/s.json: there is no directory|scenario {T}/crash.txt --modules {M} --json {T}/none/s.json"
  "0|cursor arrow_back help none flags .repeat click. event none|list {M}/Korvane.gau"
  "0|event clock_minute_back|list {M}/Korvane.gau"
  "2|^gaugebench new: [^\n]*/Taken: exists and is not empty: give a new name or another --dir\n$|new Taken --dir {T}"
  "2|^gaugebench new: 'a/b' is no module name: it takes a letter, then up to 63 letters, digits, '_' or '-'\n$|new a/b --dir {T}"
  "2|^gaugebench new: 'nul' is no module name: Windows keeps it for a device\n$|new nul --dir {T}"
  "2|^gaugebench new: --dir [^\n]*/nowhere: there is no such folder\n$|new Demo --dir {T}/nowhere"
  "0|KV000  pass[^\n]*\n[^\n]*info DLL: [^\n]*/dlls/libwinpthread-1.dll, which libgcc_s_dw2-1.dll imports\n[^\n]*info DLL: [^\n]*/dlls/libgcc_s_dw2-1.dll, which SharedLibgcc.gau imports\n|validate {M}/dlls/SharedLibgcc.gau"
  "0|(^|\n)read [^\n]*/dlls/libgcc_s_dw2-1.dll\n|-v render {S}/tests/fixtures/dlls/shared_libgcc.cfg -o {T}/shared_libgcc.png --modules {M}/dlls"
  "0|\nloads [^\n]*/dlls/libgcc_s_dw2-1.dll, which SharedLibgcc.gau imports\n|list {M}/dlls/SharedLibgcc.gau"
  "1|KV000  fail[^\n]*\n[^\n]*SharedLibgcc.gau: entry routine: call of libgcc_s_dw2-1.dll!__register_frame_info, which the host does not provide: libgcc_s_dw2-1.dll is in none of the folders searched .the module's folder [^\n]*/win, [^\n]*/no_dlls.. link the module with -static-libgcc -static-libstdc.. to carry|validate {M}/SharedLibgcc.gau"
)

file(MAKE_DIRECTORY ${T} ${T}/no_dlls)
set(ENV{GAUGEBENCH_DLL_PATH} ${T}/no_dlls)
file(WRITE ${T}/empty.gau "")
file(WRITE ${T}/big.cfg "[Window00]\nsize_mm=10000,10000\nvisible=1\ngauge00=Korvane!Airspeed, 40, 30, 220\n")
file(WRITE ${T}/crash.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=EmuCrash!Crash, 0, 0, 100\n")
file(WRITE ${T}/init.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=EmuInitCrash!InitCrash, 0, 0, 100\n")
file(WRITE ${T}/hoard.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=FaultyCalls!Hoarder, 0, 0, 100\n")
file(WRITE ${T}/loop.cfg "[Window00]\nsize_mm=200,200\nvisible=1\ngauge00=EmuLoop!Loop, 0, 0, 100\n")
file(WRITE ${T}/crash.txt "panel crash.cfg\nupdate 2\n")
file(WRITE ${T}/window.txt "panel crash.cfg\nmain-window ajar\n")
# Outputs that must be refused: links (one dangling), a link out of --out,
# and a FIFO named as a window's bitmap, which blocks whoever opens it.
file(REMOVE_RECURSE ${T}/out ${T}/elsewhere ${T}/link.png ${T}/dangling.png ${T}/fifo.bmp)
file(MAKE_DIRECTORY ${T}/out ${T}/elsewhere)
file(WRITE ${T}/target.png "")
file(CREATE_LINK ${T}/target.png ${T}/link.png SYMBOLIC)
file(CREATE_LINK ${T}/nothing.png ${T}/dangling.png SYMBOLIC)
file(CREATE_LINK ${T}/elsewhere ${T}/out/away SYMBOLIC)
file(WRITE ${T}/escape.txt "panel ${S}/panel/panel.cfg\nupdate 1\nsnapshot away/x.png\n")
execute_process(COMMAND mkfifo ${T}/fifo.bmp)
# Scenario lines refused (a gauge, a variable, a value), and a panel named in quotes.
file(WRITE ${T}/gauge.txt "panel ${S}/panel/panel.cfg\nclick Altimetre 1 2\n")
file(WRITE ${T}/variable.txt "panel ${S}/panel/panel.cfg\nset airsped 100\n")
file(WRITE ${T}/nopanel.txt "# no such panel\npanel missing.cfg\n")
file(WRITE ${T}/range.txt "panel ${S}/panel/panel.cfg\nset fuel_level.port_1 2\n")
file(WRITE "${T}/my panel.cfg" "[Window00]\nsize_mm=300,300\nvisible=1\ngauge00=Korvane!Airspeed, 0, 0\n")
file(WRITE ${T}/spaced.txt "panel \"my panel.cfg\"\nset airspeed 180 kt\nprint airspeed\n")
file(WRITE ${T}/trace.txt "panel ${S}/panel/panel.cfg\nupdate 2\n")
# A project folder `new` must not write into.
file(MAKE_DIRECTORY ${T}/Taken)
file(WRITE ${T}/Taken/notes.txt "the designer's\n")
file(WRITE ${T}/fifo.cfg "[Window00]\nsize_mm=200,200\nvisible=1\nfile=fifo.bmp\ngauge00=EmuCrash!Crash, 0, 0, 100\n")
set(failures "")
# '-': a picture piped to standard output (the summary beside it on stderr),
# a scenario read from standard input naming its panel relative to the
# working directory.
file(WRITE ${T}/small.cfg "[Window00]\nsize_mm=100,100\nvisible=1\ngauge00=Dropwatch!Dropwatch, 0, 0, 50, 50\n")
file(WRITE ${T}/stdin.txt "panel small.cfg\nupdate 2\n")
file(REMOVE ${T}/piped.png)
execute_process(COMMAND ${GAUGEBENCH} render ${T}/small.cfg -o - --modules ${M} WORKING_DIRECTORY ${T} TIMEOUT 120
  RESULT_VARIABLE status OUTPUT_FILE ${T}/piped.png ERROR_VARIABLE errors)
file(READ ${T}/piped.png signature LIMIT 8 HEX)
if(NOT status EQUAL 0 OR NOT signature STREQUAL "89504e470d0a1a0a" OR NOT errors MATCHES "<stdout>: 1 gauge drawn in 1 shown window, [0-9]+ x [0-9]+ pixels, after 60 updates")
  string(APPEND failures "\nrender -o -: exit ${status}, starts ${signature}:\n${errors}")
endif()
execute_process(COMMAND ${GAUGEBENCH} scenario - --modules ${M} WORKING_DIRECTORY ${T} TIMEOUT 120
  INPUT_FILE ${T}/stdin.txt RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output MATCHES "<stdin>: 2 updates, 0 snapshots")
  string(APPEND failures "\nscenario -: exit ${status}:\n${output}")
endif()
# A picture's bytes are never sent to a terminal.
execute_process(COMMAND script -qec "'${GAUGEBENCH}' render ${T}/small.cfg -o - --modules ${M}" /dev/null
  TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 2 OR NOT output MATCHES "-o -: standard output is a terminal")
  string(APPEND failures "\nrender -o - on a terminal: exit ${status}:\n${output}")
endif()
# An empty --json name (which the table cannot hold) is refused, not taken for no --json.
execute_process(COMMAND ${GAUGEBENCH} scenario "" TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT status EQUAL 3 OR NOT output STREQUAL "gaugebench scenario: an empty name names no file\n")
  string(APPEND failures "\nscenario '': exit ${status}:\n${output}")
endif()
foreach(option --json --out --animation)
  set(out --out ${T}/empty_name)
  if(option STREQUAL "--out")
    set(out "")
  endif()
  execute_process(COMMAND ${GAUGEBENCH} fly ${S}/fdm/scripts/cruise.xml ${out} ${option} "" TIMEOUT 120
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 2 OR NOT output MATCHES "^gaugebench fly: ${option}: an empty name cannot be written\n")
    string(APPEND failures "\nfly ${option} '': exit ${status}:\n${output}")
  endif()
endforeach()
# Colour on a terminal (script(1) gives one), none with NO_COLOR set.
foreach(no_colour "" "1")
  execute_process(COMMAND env NO_COLOR=${no_colour} script -qec "'${GAUGEBENCH}' validate ${M}/FaultyBitmap.gau"
    /dev/null TIMEOUT 120 OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT output MATCHES "KV014  " OR (output MATCHES "${escape}" AND no_colour) OR
     (NOT output MATCHES "${escape}" AND NOT no_colour))
    string(APPEND failures "\nvalidate on a terminal, NO_COLOR='${no_colour}':\n${output}")
  endif()
endforeach()
foreach(row IN LISTS rows)
  string(REGEX MATCH "^([0-9]+)\\|(.*)\\|([^|]*)$" matched "${row}")
  set(expect_exit "${CMAKE_MATCH_1}")
  set(expect_output "${CMAKE_MATCH_2}")
  set(arguments "${CMAKE_MATCH_3}")
  string(REPLACE "{M}" "${M}" arguments "${arguments}")
  string(REPLACE "{S}" "${S}" arguments "${arguments}")
  string(REPLACE "{T}" "${T}" arguments "${arguments}")
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${GAUGEBENCH} ${arguments} WORKING_DIRECTORY ${T} TIMEOUT 120
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT "${status}" STREQUAL "${expect_exit}" OR NOT output MATCHES "${expect_output}")
    string(APPEND failures "\ngaugebench ${arguments}\n  exit ${status}, expected ${expect_exit}; "
                           "output should match '${expect_output}':\n${output}")
  endif()
endforeach()
if(EXISTS ${T}/target.png)
  file(SIZE ${T}/target.png size)
  if(NOT size EQUAL 0)
    string(APPEND failures "\n-o through a link wrote its target")
  endif()
endif()
file(GLOB escaped ${T}/elsewhere/*)
if(escaped)
  string(APPEND failures "\na snapshot was written through a link out of --out: ${escaped}")
endif()

# --trace: one JSON object a line, each naming its gauge and callback; a
# filter keeps only the calls it names (and what they run), fewer than all.
# Each case: its filter options | the gauge every depth-0 line names (empty:
# any) | the callback it names (empty: any).
set(trace_cases
  "||"
  "--trace-gauge ALTIMETER|Altimeter|"
  "--trace-gauge Altimeter --trace-callback update|Altimeter|gauge_callback .update."
  "--trace-callback mouse.handler|-|")
set(all_lines 0)
foreach(case IN LISTS trace_cases)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|([^|]*)$" matched "${case}")
  set(filter "${CMAKE_MATCH_1}")
  set(gauge "${CMAKE_MATCH_2}")
  set(callback "${CMAKE_MATCH_3}")
  string(REPLACE "mouse.handler" "mouse handler" filter "${filter}")
  separate_arguments(filter UNIX_COMMAND "${filter}")
  file(REMOVE ${T}/t.jsonl)
  execute_process(COMMAND ${GAUGEBENCH} scenario ${T}/trace.txt --modules ${M} --trace ${T}/t.jsonl ${filter}
    WORKING_DIRECTORY ${T} TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(lines "")
  if(EXISTS ${T}/t.jsonl)
    file(STRINGS ${T}/t.jsonl lines)
  endif()
  list(LENGTH lines count)
  set(wrong "")
  foreach(line IN LISTS lines)
    string(JSON depth ERROR_VARIABLE json_error GET "${line}" depth)
    string(JSON named ERROR_VARIABLE gauge_error GET "${line}" gauge)
    string(JSON called ERROR_VARIABLE callback_error GET "${line}" callback)
    if(json_error OR callback_error OR (depth EQUAL 0 AND ((gauge AND NOT named STREQUAL gauge) OR
                                                           (callback AND NOT called MATCHES "^${callback}$"))))
      set(wrong "${line}")
      break()
    endif()
  endforeach()
  if(filter STREQUAL "")
    set(all_lines ${count})
  endif()
  if(NOT status EQUAL 0 OR wrong OR (gauge STREQUAL "-" AND count GREATER 0) OR
     (NOT gauge STREQUAL "-" AND (count EQUAL 0 OR (filter AND NOT count LESS all_lines))))
    string(APPEND failures "\nscenario --trace ${filter}: exit ${status}, ${count} lines of ${all_lines}, ${wrong}\n${output}")
  endif()
endforeach()

# The vocabulary as JSON: an array of objects, each with its fields.
execute_process(COMMAND ${GAUGEBENCH} vocabulary --json - RESULT_VARIABLE status OUTPUT_VARIABLE listed)
string(JSON count ERROR_VARIABLE json_error LENGTH "${listed}")
if(NOT json_error)
  string(JSON high ERROR_VARIABLE json_error GET "${listed}" 0 range high)
  string(JSON unit ERROR_VARIABLE json_error GET "${listed}" 0 unit)
  string(JSON meaning ERROR_VARIABLE json_error GET "${listed}" 0 meaning)
endif()
if(NOT status EQUAL 0 OR json_error OR count LESS 50 OR NOT high MATCHES "^24(\\.0)?$" OR NOT unit STREQUAL "h"
   OR NOT meaning STREQUAL "clock, hours")
  string(APPEND failures "\nvocabulary --json -: exit ${status}, ${json_error}, ${count} entries, first ${unit} to ${high}, ${meaning}")
endif()
# --json -: standard output holds the summary alone, one JSON document
# naming what was written (a trace and a coverage report too); a scenario's printed lines go to stderr instead,
# and no text summary.
file(WRITE ${T}/printing.txt "panel ${S}/panel/panel.cfg\nset airspeed 180\nupdate 2\necho hello\nprint airspeed\nsnapshot json.png\n")
foreach(case
    "render {S}/panel/panel.cfg -o {T}/json.png --modules {M} --json -|files_written 0|{T}/json.png"
    "scenario {T}/printing.txt --out {T}/out --modules {M} --json -|files_written 0|{T}/out/json.png"
    "render {S}/panel/panel.cfg -o {T}/json.png --modules {M} --json - --trace {T}/json.jsonl|files_written 1|{T}/json.jsonl"
    "scenario {T}/printing.txt --out {T}/out --modules {M} --json - --coverage {T}/json.info|files_written 1|{T}/json.info"
    "scenario {T}/printing.txt --out {T}/out --modules {M} --json -|printed 1 values 0 variable|airspeed"
    "scenario {T}/printing.txt --out {T}/out --modules {M} --json -|printed 1 values 0 value|180.0")
  string(REPLACE "{M}" "${M}" case "${case}")
  string(REPLACE "{S}" "${S}" case "${case}")
  string(REPLACE "{T}" "${T}" case "${case}")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 arguments)
  list(GET case 1 member)
  list(GET case 2 expected)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  separate_arguments(member)
  execute_process(COMMAND ${GAUGEBENCH} ${arguments} WORKING_DIRECTORY ${T} TIMEOUT 120
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  string(JSON found ERROR_VARIABLE invalid GET "${output}" ${member})
  # The JSON stands instead of the text summary, on stderr as well.
  if(NOT status EQUAL 0 OR invalid OR NOT found STREQUAL expected OR errors MATCHES "[0-9] updates?, [0-9]+ snapshots?")
    string(APPEND failures "\ngaugebench ${arguments}\n  exit ${status}; ${member} should be '${expected}', "
                           "not '${found}' ${invalid}:\n${output}${errors}")
  endif()
endforeach()

# Ctrl-C during a flight whose model (a stand-in that never opens its port,
# with a child in its group and one that left it by setsid) is starting, and
# a model that fails with such a child: exit 130 (the model's working files
# and the animation's unfinished file removed and counted) or 3 (its log
# kept and named, the copy of its script removed); nothing left of the model.
file(REMOVE_RECURSE ${T}/interrupted)
file(MAKE_DIRECTORY ${T}/interrupted)
foreach(stand_in "interrupted|sleep 60 &\nexec sleep 60" "failing|echo 'Error: no such engine'\nexit 4")
  string(REPLACE "|" ";" stand_in "${stand_in}")
  list(GET stand_in 0 name)
  list(GET stand_in 1 ending)
  file(WRITE ${T}/interrupted/${name} "#!/bin/sh\necho $$ > ${T}/interrupted/group\n"
    "setsid sleep 60 </dev/null >/dev/null 2>&1 &\necho $! > ${T}/interrupted/escaped\n${ending}\n")
  file(CHMOD ${T}/interrupted/${name} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
foreach(case "interrupted|kill -INT $pid|^exit 130\n$|removed 3 unfinished" "failing|:|^exit 3\nout/takeoff.jsbsim.log\n$|Error: no such engine\n  .JSBSim's log: [^\n]*/out/takeoff.jsbsim.log")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 signal)
  list(GET case 2 expected)
  list(GET case 3 message)
  file(REMOVE_RECURSE ${T}/interrupted/out ${T}/interrupted/group ${T}/interrupted/escaped)
  execute_process(COMMAND sh -c "
    \"$0\" fly ${S}/fdm/scripts/takeoff.xml --out ${T}/interrupted/out --aircraft-root ${S}/fdm --modules ${M} \\
      --panel ${S}/panel/panel.cfg --jsbsim ${T}/interrupted/${name} --timeout 60 \\
      --animation ${T}/interrupted/out/a.png 2>${T}/interrupted/stderr &
    pid=$!
    for i in $(seq 200); do [ -s ${T}/interrupted/escaped ] && break; sleep 0.1; done
    ${signal}
    wait $pid
    echo \"exit $?\"
    ps -eo pgid=,stat= | awk -v g=$(cat ${T}/interrupted/group) '$1 == g && $2 !~ /^Z/ { print \"left in the group of the model\" }'
    ps -o stat= -p $(cat ${T}/interrupted/escaped) | grep -qv Z && echo \"left: the child that left the group of the model\"
    cd ${T}/interrupted && find out -type f" ${GAUGEBENCH}
    TIMEOUT 60 OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  file(READ ${T}/interrupted/stderr said)
  if(NOT output MATCHES "${expected}" OR NOT said MATCHES "${message}" OR errors)
    string(APPEND failures "\nfly with the ${name} model:\n${output}${errors}${said}")
  endif()
endforeach()
# SIGTERM while serve's panel is being made, its gauge callback looping (its
# instruction budget would hold it for seconds): listening already, it ends
# at once with status 0, the stopped call no fault of the module's.
execute_process(COMMAND sh -c "
  \"$0\" serve ${T}/loop.cfg --modules ${M} --port $((20000 + $$ % 20000)) 2>${T}/serve_stderr &
  pid=$!
  for i in $(seq 200); do grep -q 'is live at' ${T}/serve_stderr && break; sleep 0.1; done
  sleep 0.2
  kill -TERM $pid
  started=$(date +%s%N)
  wait $pid
  echo \"exit $? after $((($(date +%s%N) - started) / 100000000)) tenths\"" ${GAUGEBENCH}
  TIMEOUT 60 OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(READ ${T}/serve_stderr said)
if(NOT output MATCHES "^exit 0 after [12]?[0-9] tenths\n" OR NOT said MATCHES "is live at" OR said MATCHES "budget|fault")
  string(APPEND failures "\nSIGTERM during serve's first calls:\n${output}${errors}${said}")
endif()

# --coverage from a folder outside the checkout: each report names the
# designer's own sources by their real paths (none of the compiler's, the C
# runtime's, the kit's or the build tree's layers), with lines run and lines
# not where the validator misses some, and genhtml draws every one with no
# flag of its own: Korvane's debug build, the debuggee's build with the C
# runtime's start-up, and Dropwatch's release build (no line table: its
# module file, by pieces of code).
file(REAL_PATH ${S} source_root)
file(REAL_PATH ${M} module_root)
set(coverage_runs
  "korvane|validate ${M}/debug/Korvane.gau|SF:${source_root}/korvane/flight/clock_timer.cpp\nFN|DA:[0-9]+,0\n"
  "crt|render ${S}/tests/fixtures/debuggee/debuggee.cfg -o ${T}/crt.png --modules ${M}/crt|SF:${source_root}/tests/fixtures/debuggee/debuggee.cpp\nFN|."
  "plain|validate ${M}/Dropwatch.gau|SF:${module_root}/Dropwatch.gau\nFN|.")
find_program(GENHTML genhtml)
foreach(run ${coverage_runs})
  string(REPLACE "|" ";" run "${run}")
  list(GET run 0 name)
  list(GET run 1 arguments)
  list(GET run 2 named)
  list(GET run 3 unrun)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  file(REMOVE ${T}/${name}.info)
  execute_process(COMMAND ${GAUGEBENCH} ${arguments} --coverage ${T}/${name}.info -q
    WORKING_DIRECTORY ${T} TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(report "")
  if(EXISTS ${T}/${name}.info)
    file(READ ${T}/${name}.info report)
  endif()
  if(NOT status EQUAL 0 OR NOT report MATCHES "${named}" OR NOT report MATCHES "DA:[0-9]+,[1-9]"
     OR NOT report MATCHES "${unrun}" OR report MATCHES "SF:(/usr/|[^\n]*/(layers|gaugekit|frame|mingw-w64-crt)/)")
    string(APPEND failures "\n--coverage of ${name}: exit ${status}\n${output}${report}")
  elseif(GENHTML)
    execute_process(COMMAND ${GENHTML} -q -o ${T}/coverage_${name} ${T}/${name}.info WORKING_DIRECTORY ${T}
      TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0 OR NOT EXISTS ${T}/coverage_${name}/index.html)
      string(APPEND failures "\ngenhtml of the coverage of ${name}: exit ${status}\n${output}")
    endif()
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
