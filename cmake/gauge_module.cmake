# korvane_layers(<target> <PUBLIC|PRIVATE> <folder>...)
# Gives <target> an include root that holds only the named top-level folders
# (as links into the source tree), so that including any other folder fails
# to compile: the host sees frame/ and itself, a module frame/, gaugekit/ and
# its own folder. A target may have both: its PUBLIC root is what the targets
# linking it see too, its PRIVATE root what its own sources see besides (the
# runtime's emulator/, which no floor above it may see).
function(korvane_layers target scope)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  # A static library's PRIVATE root lies beside its PUBLIC one.
  get_target_property(type ${target} TYPE)
  if(scope STREQUAL "PRIVATE" AND type STREQUAL "STATIC_LIBRARY")
    set(root ${CMAKE_BINARY_DIR}/layers/${target}.private)
  endif()
  file(MAKE_DIRECTORY ${root})
  file(GLOB old_links LIST_DIRECTORIES true ${root}/*)
  foreach(link ${old_links})
    file(REMOVE ${link})
  endforeach()
  foreach(folder ${ARGN})
    # A folder within another keeps its path under the root.
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
  add_dependencies(${target} include_wall)
endfunction()

set(KORVANE_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

# The module-side kit every gauge module is built with.
set(KORVANE_KIT_SOURCES
  ${CMAKE_SOURCE_DIR}/gaugekit/module_glue.cpp
  ${CMAKE_SOURCE_DIR}/gaugekit/element_chain.cpp)

# add_gauge_module(<Name> FOLDER <top-level folder> SOURCES ... [RESOURCES <file.rc>]
#                  [C_RUNTIME_STARTUP] [DEBUG] [OUTPUT_NAME <file name>])
# Builds <Name>.gau (or <file name>.gau) from its sources and the kit: a PE32
# DLL exporting exactly Linkage and ImportTable under MinGW, an i386 ELF
# shared library with the same two exports on Linux. Its sources include
# frame/, gaugekit/ and FOLDER. Under MinGW a module links without the C
# runtime's start-up code unless C_RUNTIME_STARTUP is given (a module with a
# static constructor needs it). DEBUG builds it for a source-level debugger
# and line coverage instead of for size: DWARF 5 (its line table names the
# directory each unit was built in, so a report finds the sources), -Og,
# symbols kept.
function(add_gauge_module name)
  cmake_parse_arguments(ARG "C_RUNTIME_STARTUP;DEBUG" "RESOURCES;FOLDER;OUTPUT_NAME" "SOURCES" ${ARGN})
  if(NOT ARG_OUTPUT_NAME)
    set(ARG_OUTPUT_NAME ${name})
  endif()
  add_library(${name} SHARED ${ARG_SOURCES} ${KORVANE_KIT_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".gau" OUTPUT_NAME ${ARG_OUTPUT_NAME})
  korvane_layers(${name} PRIVATE frame gaugekit ${ARG_FOLDER})
  # Module code runs inside the host's process: no exceptions, no RTTI.
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions$<SEMICOLON>-fno-rtti>)
  if(WIN32)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/gaugekit/exports.def)
    target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
    if(ARG_DEBUG)
      # For a debugger: the frame pointer stays, so that a backtrace through
      # module code needs no unwind tables.
      target_compile_options(${name} PRIVATE -g -gdwarf-5 -Og -fno-omit-frame-pointer -fno-asynchronous-unwind-tables -fno-ident)
    else()
      # The host reads exports, imports, relocations and resources only:
      # symbols and the C runtime's debug sections would be a third of a
      # module's code.
      target_link_options(${name} PRIVATE -s)
      # Size: the records are most of a module and must stay as they are, so
      # the rest has to be small. Module code throws nothing and is never
      # unwound, so it needs no unwind tables; callbacks are short and called a
      # few times a frame, so size beats speed; the compiler's version string
      # is not worth a file block. MinGW keeps a frame pointer by default:
      # nothing walks a module's stack, and it costs three instructions a call.
      target_compile_options(${name} PRIVATE -Os -fomit-frame-pointer -fno-asynchronous-unwind-tables -fno-ident)
    endif()
    if(ARG_C_RUNTIME_STARTUP)
      target_link_libraries(${name} PRIVATE user32 kernel32)
    else()
      # No C runtime start-up: the module has no static constructors or
      # destructors and no thread-local data, so DllMain is the entry point
      # itself. The libraries stay: libgcc for helpers the compiler may call,
      # libmingwex for the maths functions -Os calls rather than inlines
      # (trunc), msvcrt's import library for a C function a test module calls
      # (msvcrt.dll sets itself up); a module imports only what it uses. The
      # link map is checked afterwards for anything that would have needed the
      # start-up code, which would otherwise never run.
      set(link_map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
      target_link_options(${name} PRIVATE -nostartfiles -nodefaultlibs -Wl,-e,_DllMain@12
        -Wl,-Map=${link_map})
      target_link_libraries(${name} PRIVATE gcc mingwex msvcrt user32 kernel32)
      add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DMAP=${link_map} -P ${KORVANE_CMAKE_DIR}/check_no_startup_code.cmake
        VERBATIM)
    endif()
    if(ARG_RESOURCES)
      target_sources(${name} PRIVATE ${ARG_RESOURCES})
    endif()
  else()
    # Addressed as the deliverable is: absolute addresses that the loader
    # relocates (in the text too), not position-independent code, which on
    # i386 costs every callback that touches a constant a call for its own
    # address, about a fifth of a panel update's module instructions.
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    # Optimised as the deliverable is, in every twin tree: x87 arithmetic
    # rounds where values leave the registers, so the same code must keep
    # them there for the differential to compare bit for bit.
    target_compile_options(${name} PRIVATE -fno-pic -Os)
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${CMAKE_SOURCE_DIR}/gaugekit/exports.map -Wl,-Bsymbolic -Wl,-z,notext)  # notext: those text relocations are meant
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/gaugekit/exports.map)
  endif()
endfunction()

# korvane_black_bitmap(<target> <file.bmp> <width> <height>)
# Generates a black 24-bit bitmap in the build tree for <target>'s .rc to name,
# with a small program built for the build machine (the native compiler when
# cross-compiling: the generator runs during the build, not under the host).
function(korvane_black_bitmap target file_name width height)
  set(source ${CMAKE_SOURCE_DIR}/tools/make_black_bitmap.cpp)
  set(bitmap_dir ${CMAKE_BINARY_DIR}/generated_bitmaps)
  if(CMAKE_CROSSCOMPILING)
    find_program(KORVANE_BUILD_CXX NAMES c++ g++ clang++ REQUIRED)
    set(generator ${CMAKE_BINARY_DIR}/build_tools/make_black_bitmap)
    if(NOT TARGET korvane_make_black_bitmap)
      # It sees the format's headers and nothing else, as a target's include root would.
      set(root ${CMAKE_BINARY_DIR}/layers/make_black_bitmap)
      file(MAKE_DIRECTORY ${root})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/frame ${root}/frame SYMBOLIC)
      add_custom_command(OUTPUT ${generator}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/build_tools
        COMMAND ${KORVANE_BUILD_CXX} -std=c++20 -O1 -I${root} -o ${generator} ${source}
        DEPENDS ${source} ${CMAKE_SOURCE_DIR}/frame/bitmap_format.h ${CMAKE_SOURCE_DIR}/frame/format_struct.h
        COMMENT "Building the bitmap generator for the build machine")
      add_custom_target(korvane_make_black_bitmap DEPENDS ${generator})
    endif()
  else()
    if(NOT TARGET korvane_make_black_bitmap)
      add_executable(korvane_make_black_bitmap ${source})
      korvane_layers(korvane_make_black_bitmap PRIVATE frame)
    endif()
    set(generator $<TARGET_FILE:korvane_make_black_bitmap>)
  endif()
  # One rule a bitmap, whichever targets use it (a module and its debug build).
  set(bitmap_target generated_${file_name}_bitmap)
  if(NOT TARGET ${bitmap_target})
    add_custom_command(OUTPUT ${bitmap_dir}/${file_name}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${bitmap_dir}
      COMMAND ${generator} ${width} ${height} ${bitmap_dir}/${file_name}
      DEPENDS ${generator} korvane_make_black_bitmap
      COMMENT "Generating ${file_name}")
    add_custom_target(${bitmap_target} DEPENDS ${bitmap_dir}/${file_name})
  endif()
  add_dependencies(${target} ${bitmap_target})
  # windres looks for the files an .rc names along its include path.
  target_include_directories(${target} PRIVATE ${bitmap_dir})
  get_target_property(sources ${target} SOURCES)
  foreach(source_file IN LISTS sources)
    if(source_file MATCHES "\\.rc$")
      set_property(SOURCE ${source_file} APPEND PROPERTY OBJECT_DEPENDS ${bitmap_dir}/${file_name})
    endif()
  endforeach()
endfunction()
