# Runs COMMAND (a list) and checks its exit status against EXPECT_EXIT and
# its output against the regular expression EXPECT_OUTPUT.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT "${status}" STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECT_EXIT}\n${output}\n${errors}")
endif()
if(NOT output MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "output lacks '${EXPECT_OUTPUT}'\n${output}\n${errors}")
endif()
