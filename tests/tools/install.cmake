# The program runs wherever it is installed: `cmake --install` of the tree
# into a scratch prefix gives a gaugebench that, started from /, with no
# option but -o, draws the shipped panel, and whose completion knows its
# commands; neither the built nor the installed program holds the checkout's
# path.
# cmake -DBUILD=<tree> -DSOURCE=<checkout> -DWORK=<scratch> -P install.cmake
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --strip
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors TIMEOUT 120)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD}: ${status}\n${errors}")
endif()

foreach(program ${BUILD}/gaugebench ${prefix}/bin/gaugebench)
  execute_process(COMMAND grep -a -c -F ${SOURCE} ${program} OUTPUT_VARIABLE count
    OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 60)
  if(NOT count EQUAL 0)
    string(APPEND failures "\n${program} holds ${SOURCE} ${count} times")
  endif()
endforeach()

execute_process(COMMAND ${prefix}/bin/gaugebench render -o ${WORK}/panel.png WORKING_DIRECTORY /
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 120)
if(NOT status EQUAL 0 OR NOT output MATCHES "48 gauges drawn" OR NOT EXISTS ${WORK}/panel.png)
  string(APPEND failures "\ninstalled gaugebench render -o, from /: exit ${status}\n${output}${errors}")
endif()

execute_process(COMMAND bash -c "source '${prefix}/share/bash-completion/completions/gaugebench' \
&& COMP_WORDS=(gaugebench voc) COMP_CWORD=1 && _gaugebench && echo \"\${COMPREPLY[*]}\" \
&& COMP_WORDS=(gaugebench render --main-window c) COMP_CWORD=3 && _gaugebench && echo \"\${COMPREPLY[*]}\""
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 30)
if(NOT status EQUAL 0 OR NOT output STREQUAL "vocabulary\nclosed\n")
  string(APPEND failures "\nthe installed completion: exit ${status}, '${output}'${errors}")
endif()
# `new` takes its kit from the prefix: the project holds it, and nothing of the checkout.
execute_process(COMMAND ${prefix}/bin/gaugebench new Installed --dir ${WORK} WORKING_DIRECTORY /
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 60)
execute_process(COMMAND grep -r -l -F ${SOURCE} ${WORK}/Installed OUTPUT_VARIABLE holding TIMEOUT 60)
if(NOT status EQUAL 0 OR NOT EXISTS ${WORK}/Installed/kit/gaugekit/module_glue.cpp
   OR NOT EXISTS ${WORK}/Installed/kit/cmake/mingw-i686.cmake OR holding)
  string(APPEND failures "\ninstalled gaugebench new: exit ${status}\n${output}${errors}${holding}")
endif()
# Shipped files by name alone, from a folder that holds none: the scenario,
# and the debugger's fixture panel, whose module lies beside the deliverables.
foreach(case "scenario|engine_start.txt|--out|shots|scenarios/engine_start.txt"
             "render|debuggee.cfg|-o|probe.png|tests/fixtures/debuggee/debuggee.cfg")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 command)
  list(GET case 1 name)
  list(GET case 2 output_option)
  list(GET case 3 output)
  list(GET case 4 place)
  execute_process(COMMAND ${prefix}/bin/gaugebench ${command} ${name} ${output_option} ${WORK}/${output}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said TIMEOUT 120)
  if(NOT status EQUAL 0 OR NOT said MATCHES "no ${name} here: took the shipped ${prefix}/share/gaugebench/[a-z/]*${place}\n")
    string(APPEND failures "\ninstalled gaugebench ${command} ${name}: exit ${status}\n${said}")
  endif()
endforeach()
# What Debian asks of a package: the man page compressed, a copyright file,
# and the README's links (its pictures in docs/) leading to installed files.
foreach(file share/man/man1/gaugebench.1.gz share/doc/gaugebench/copyright share/doc/gaugebench/changelog.gz)
  if(NOT EXISTS ${prefix}/${file})
    string(APPEND failures "\nnot installed: ${file}")
  endif()
endforeach()
file(READ ${prefix}/share/doc/gaugebench/README.md readme)
# Brackets would bind a CMake list's items together.
string(REPLACE "[" "{" readme "${readme}")
string(REPLACE "]" "}" readme "${readme}")
string(REGEX MATCHALL "}\\([^)]+\\)" links "${readme}")
foreach(link IN LISTS links)
  string(REGEX REPLACE "^}\\(([^)#]*).*" "\\1" target "${link}")
  if(NOT target MATCHES "^[a-z]+:" AND NOT target STREQUAL "" AND NOT EXISTS ${prefix}/share/doc/gaugebench/${target})
    string(APPEND failures "\nthe installed README links ${target}, which is not installed")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
