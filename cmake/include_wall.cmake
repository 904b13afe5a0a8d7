# The include roots are the walls between the floors (korvane_layers gives a
# target only the folders it may include), and a relative include walks
# through them: "../emulator/debugger.h" is found beside the including file,
# "runtime/../emulator/debugger.h" through the root's own link. So no
# include may name a parent folder at all. Run as a script by the build
# (the include_wall target), on every source and header of the checkout:
#   cmake -DSOURCE_DIR=<top> -DFOLDERS=<a|b|...> -DSTAMP=<file> -P include_wall.cmake
string(REPLACE "|" ";" FOLDERS "${FOLDERS}")
set(faults "")
foreach(top ${FOLDERS})
  file(GLOB_RECURSE files ${SOURCE_DIR}/${top}/*.h ${SOURCE_DIR}/${top}/*.hpp ${SOURCE_DIR}/${top}/*.c
                          ${SOURCE_DIR}/${top}/*.cpp ${SOURCE_DIR}/${top}/*.inc)
  list(FILTER files EXCLUDE REGEX "/node_modules/")
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\.")
    if(NOT lines)
      continue()
    endif()
    file(READ ${file} text)
    file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
    foreach(line IN LISTS lines)
      # The line's number: the line breaks before it, plus one.
      string(FIND "${text}" "${line}" at)
      string(SUBSTRING "${text}" 0 ${at} before)
      string(REGEX MATCHALL "\n" breaks "${before}")
      list(LENGTH breaks number)
      math(EXPR number "${number} + 1")
      string(REGEX REPLACE "^[^\"<]*[\"<]([^\">]*).*" "\\1" named "${line}")
      string(APPEND faults "${shown}:${number}: error: #include \"${named}\" climbs out of its "
                           "include root; expected a path from the root, such as \"frame/records.h\"\n")
    endforeach()
  endforeach()
endforeach()
if(faults)
  # Unwrapped, one line each, as a compiler says it (an editor jumps to it).
  message(NOTICE "${faults}")
  message(FATAL_ERROR "includes climb out of their roots: the build stops here")
endif()
file(TOUCH ${STAMP})
