# add_gauge_module(<Name> SOURCES ... [RESOURCES <file.rc>])
# Builds <Name>.gau: a PE32 DLL exporting exactly Linkage and ImportTable under
# MinGW, an i386 ELF shared library with the same two exports on Linux.
function(add_gauge_module name)
  cmake_parse_arguments(ARG "" "RESOURCES" "SOURCES" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".gau" OUTPUT_NAME ${name})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  # Module code runs inside the host's process: no exceptions, no RTTI.
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
  if(WIN32)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/frame/exports.def)
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
    target_link_libraries(${name} PRIVATE user32 kernel32)
    if(ARG_RESOURCES)
      target_sources(${name} PRIVATE ${ARG_RESOURCES})
    endif()
  else()
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${CMAKE_SOURCE_DIR}/frame/exports.map -Wl,-Bsymbolic)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/frame/exports.map)
  endif()
endfunction()
