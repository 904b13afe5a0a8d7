# No output of gaugebench may replace one of its inputs or another output,
# however either is spelled. One row a case: the file at stake (in the
# scratch folder {D}) | a regular expression the refusal must match | the
# arguments, where {in} names the file as an input and {out} as an output.
# Each row runs three times: {out} as ./<file>; {in} as a symbolic link to
# it; {out} as a hard link of it. Every run must exit 2 and leave the file
# byte for byte as it was ({or} stands for '|' in an expression: an output
# that is a link is refused as one). mods/ holds the one module the panel
# names.
# cmake -DGAUGEBENCH=<program> -DM=<PE dir> -DS=<source dir> -DD=<scratch dir> -P outputs.cmake
set(rows
  "panel.cfg|--trace [^\n]*: is the panel being read|render {in} -o x.png --modules mods --trace {out}"
  "panel.cfg|--coverage [^\n]*: is the panel being read|render {in} -o x.png --modules mods --coverage {out}"
  "panel.cfg|--json [^\n]*: is the panel being read|render {in} -o x.png --modules mods --json {out}"
  "pic.png|-o [^\n]*: is the panel being read|render {in} -o {out} --modules mods"
  "mods/Debuggee.gau|--trace [^\n]*: is a module the panel may load from mods|render panel.cfg -o x.png --modules mods --trace {out}"
  "mods/Debuggee.gau|--coverage [^\n]*: is a module the panel may load from mods|render panel.cfg -o x.png --modules mods --coverage {out}"
  "out.png|--coverage [^\n]*: is also written by -o{or}-o: [^\n]*link-out.png: is a symbolic link|render panel.cfg -o {in} --modules mods --coverage {out}"
  "scenario.txt|--trace [^\n]*: is the scenario being read|scenario {in} --modules mods --trace {out}"
  "scenario.txt|--json [^\n]*: is the scenario being read|scenario {in} --modules mods --json {out}"
  "panel.cfg|--coverage [^\n]*: is the panel the scenario names|scenario scenario.txt --modules mods --coverage {out}"
  "mods/Debuggee.gau|--trace [^\n]*: is the module being read|validate {in} --trace {out}"
  "mods/Debuggee.gau|--coverage [^\n]*: is the module being read|validate {in} --coverage {out}"
  "mods/Debuggee.gau|--json [^\n]*: is the module being read|list {in} --json {out}"
  "cruise.xml|--trace [^\n]*: is the script being flown|fly {in} --out flight --panel panel.cfg --modules mods --trace {out}"
  "panel.cfg|--json [^\n]*: is the panel being read|fly cruise.xml --out flight --panel {in} --modules mods --json {out}"
  "takeoff.csv|the script's <output> [^\n]*: is the panel being read|fly takeoff.xml --out . --panel {in} --modules mods"
  "panel.cfg|--trace [^\n]*: is the panel being read|serve {in} --modules mods --port 1 --trace {out}"
  "scenario.txt|--coverage [^\n]*: is the scenario being read|serve panel.cfg --scenario {in} --modules mods --port 1 --coverage {out}"
)
# Outputs that are one file only once written, and standard output taken twice.
set(more
  "--coverage [^\n]*new.png: is also written by -o|render panel.cfg -o new.png --modules mods --coverage ./new.png"
  "--trace [^\n]*: is also written by -o|render panel.cfg -o new.png --modules mods --trace sub/../new.png"
  "scenario.txt:3: snapshot [^\n]*shot.png: is also written by --trace|scenario scenario.txt --modules mods --trace ./shot.png"
  "twice.txt:3: snapshot [^\n]*a.png: is also written by twice.txt:2: snapshot|scenario twice.txt --modules mods"
  "--at 5 [^\n]*: is also written by --json|fly cruise.xml --out . --at 5 --panel panel.cfg --modules mods --json flight_0005.0s.png"
  "-o - and --trace - cannot share standard output|render panel.cfg -o - --modules mods --trace -"
  "--json - and --coverage - cannot share standard output|validate mods/Debuggee.gau --json - --coverage -"
  "--trace - and --coverage - cannot share standard output|scenario scenario.txt --modules mods --trace - --coverage -"
)

file(REMOVE_RECURSE ${D})
file(MAKE_DIRECTORY ${D}/mods ${D}/sub)
file(COPY ${M}/Debuggee.gau DESTINATION ${D}/mods)
file(COPY ${S}/fdm/scripts/cruise.xml ${S}/fdm/scripts/takeoff.xml DESTINATION ${D})
set(panel "[Window00]\nsize_mm=100,100\nvisible=1\ngauge00=Debuggee!Probe, 0, 0, 100, 100\n")
file(WRITE ${D}/panel.cfg "${panel}")
file(WRITE ${D}/pic.png "${panel}")
file(WRITE ${D}/takeoff.csv "${panel}")
file(WRITE ${D}/out.png "a picture kept")
file(WRITE ${D}/twice.txt "panel panel.cfg\nsnapshot a.png\nsnapshot ./a.png\n")
file(WRITE ${D}/scenario.txt "panel panel.cfg\necho hello\nsnapshot shot.png\nprint airspeed\n")
set(failures "")

function(run arguments)
  execute_process(COMMAND ${GAUGEBENCH} ${arguments} WORKING_DIRECTORY ${D} TIMEOUT 120
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  set(status "${status}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
  set(errors "${errors}" PARENT_SCOPE)
endfunction()

foreach(row IN LISTS rows)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|([^|]*)$" matched "${row}")
  set(file "${CMAKE_MATCH_1}")
  string(REPLACE "{or}" "|" expected "${CMAKE_MATCH_2}")
  set(template "${CMAKE_MATCH_3}")
  get_filename_component(name ${file} NAME)
  file(REMOVE ${D}/link-${name} ${D}/hard-${name})
  file(CREATE_LINK ${D}/${file} ${D}/link-${name} SYMBOLIC)
  file(CREATE_LINK ${D}/${file} ${D}/hard-${name})
  file(SHA256 ${D}/${file} before)
  foreach(spelling "${file}|./${file}" "link-${name}|${file}" "${file}|hard-${name}")
    string(REPLACE "|" ";" spelling "${spelling}")
    list(GET spelling 0 in)
    list(GET spelling 1 out)
    string(REPLACE "{in}" "${in}" arguments "${template}")
    string(REPLACE "{out}" "${out}" arguments "${arguments}")
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    run("${arguments}")
    file(SHA256 ${D}/${file} after)
    if(NOT status EQUAL 2 OR NOT errors MATCHES "${expected}" OR NOT after STREQUAL before)
      string(APPEND failures "\ngaugebench ${arguments}\n  exit ${status}, expected 2 and '${expected}'; "
                             "${file} changed: ${after} / ${before}\n${output}${errors}")
    endif()
  endforeach()
endforeach()

foreach(row IN LISTS more)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)$" matched "${row}")
  set(expected "${CMAKE_MATCH_1}")
  separate_arguments(arguments UNIX_COMMAND "${CMAKE_MATCH_2}")
  run("${arguments}")
  if(NOT status EQUAL 2 OR NOT errors MATCHES "${expected}" OR EXISTS ${D}/new.png OR EXISTS ${D}/-)
    string(APPEND failures "\ngaugebench ${arguments}\n  exit ${status}, expected 2 and '${expected}':\n${errors}")
  endif()
endforeach()

# '-': the trace and the coverage report on standard output, alone there;
# what the command says (an echo, a printed value, the report's table) goes
# to stderr, and no file named '-' is made.
foreach(case "trace|scenario scenario.txt --modules mods --out sub --trace -|^[{]\"|hello\n.*airspeed = "
             "coverage|validate mods/Debuggee.gau --coverage -|^TN:.*end_of_record\n$|KV000 ")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 1 arguments)
  list(GET case 2 expected)
  list(GET case 3 said)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  run("${arguments}")
  # A trace is JSON Lines: nothing but objects, one a line.
  set(stray "")
  if(case MATCHES "^trace")
    string(REGEX REPLACE "\n[{][^\n]*[}]" "" stray "\n${output}")
    string(STRIP "${stray}" stray)
  endif()
  if(NOT status MATCHES "^[01]$" OR stray OR NOT output MATCHES "${expected}" OR NOT errors MATCHES "${said}"
     OR EXISTS ${D}/-)
    string(APPEND failures "\ngaugebench ${arguments}: exit ${status} ${stray}\n${output}\n--- stderr:\n${errors}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
