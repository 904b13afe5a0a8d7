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
if(NOT EXISTS ${prefix}/share/man/man1/gaugebench.1)
  string(APPEND failures "\nno man page installed")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
