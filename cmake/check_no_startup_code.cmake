# cmake -DMAP=<link map> -P check_no_startup_code.cmake
# Modules link without the C runtime's start-up code, which is what would run
# static constructors and destructors, set up thread-local data and apply the
# pseudo-relocations of data imported from other DLLs. Anything
# that needs it links silently but would never run, so it fails the build here.
if(NOT MAP OR NOT EXISTS "${MAP}")
  message(FATAL_ERROR "check_no_startup_code: link map '${MAP}' not found")
endif()
file(READ "${MAP}" map)
# An input section line: name, then (on the same or the next line) its address
# and a size that is not zero.
set(section "\n \\.(ctors|dtors|init_array|fini_array|tls|CRT|rdata_runtime_pseudo_reloc)[^ \n]*")
string(REGEX MATCHALL "${section}[ \n]+0x[0-9a-f]+ +0x0*[1-9a-f][0-9a-f]*[^\n]*" found "${map}")
if(found)
  string(REPLACE ";" "" found "${found}")
  message(FATAL_ERROR "${MAP}: the module has code or data for the C runtime's start-up code to run, "
    "but modules link without it (no static constructors/destructors or thread_local in module code):${found}")
endif()
