# What `cmake --install build/linux --prefix P` and `cpack -G DEB` give: the
# bench host in P/bin (stripped) and everything it finds by itself under
# P/share/gaugebench (tools/data_files.h keeps the same layout): the
# deliverables, their debug builds and the debugger's fixture, the panel's
# background, the shipped panel, scenarios and aircraft, the live page, the
# module kit `gaugebench new` makes projects from, the sources GDB lists;
# JSBSim in P/lib/gaugebench; the man page (gzipped) and the bash completion
# made from the program's own command-line definition; in
# P/share/doc/gaugebench the README with its pictures, the copyright and the
# changelog Debian asks for. `lintian` on the package finds no error but the
# maintainer's address, which the project has no public one for yet.

set(KORVANE_JSBSIM_PROGRAM "${CMAKE_SOURCE_DIR}/build/jsbsim/bin/JSBSim" CACHE FILEPATH
    "The JSBSim program installed beside gaugebench (scripts/install-deps.sh puts it there)")
set(share share/gaugebench)

# The module kit: the record format, the module's side of it, the PE
# toolchain and the template of a project. The build tree holds it as links
# into the sources, laid out as installed, so the program finds it alike.
set(kit_entries frame gaugekit cmake/mingw-i686.cmake template)
set(kit_dir ${CMAKE_BINARY_DIR}/kit)
file(REMOVE_RECURSE ${kit_dir})
foreach(entry ${kit_entries})
  get_filename_component(parent ${entry} DIRECTORY)
  file(MAKE_DIRECTORY ${kit_dir}/${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${entry} ${kit_dir}/${entry} SYMBOLIC)
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${entry})
    install(DIRECTORY ${entry} DESTINATION ${share}/kit/${parent})
  else()
    install(FILES ${entry} DESTINATION ${share}/kit/${parent})
  endif()
endforeach()

set(reference_dir ${CMAKE_BINARY_DIR}/reference)
add_custom_command(
  OUTPUT ${reference_dir}/gaugebench.1 ${reference_dir}/gaugebench.bash
  COMMAND ${CMAKE_COMMAND} -E make_directory ${reference_dir}
  COMMAND gaugebench --reference man > ${reference_dir}/gaugebench.1
  COMMAND gaugebench --reference bash > ${reference_dir}/gaugebench.bash
  DEPENDS gaugebench
  COMMENT "Making gaugebench's man page and bash completion"
  VERBATIM)
add_custom_target(gaugebench_reference ALL DEPENDS ${reference_dir}/gaugebench.1 ${reference_dir}/gaugebench.bash)

# The debug builds and the fixture come from the whole PE tree, which the
# main job's build (scripts/build.sh --tools) leaves out: say so, not just
# which file is missing.
install(CODE "
  foreach(file debug/Korvane.gau debug/Dropwatch.gau Debuggee.gau)
    if(NOT EXISTS \"${KORVANE_PE_DIR}/\${file}\")
      message(FATAL_ERROR \"${KORVANE_PE_DIR}/\${file} is missing: the package holds the debug builds and the \"
                          \"debugger's fixture, which scripts/build.sh builds (the main job's --tools does not)\")
    endif()
  endforeach()")
install(TARGETS gaugebench RUNTIME DESTINATION bin)
# The deliverables, the debugger's fixture module beside them and their debug
# builds (DWARF, -Og), which `--modules PREFIX/share/gaugebench/modules/debug`
# runs; the panel's background is the same file for both.
install(FILES ${KORVANE_PE_DIR}/Korvane.gau ${KORVANE_PE_DIR}/Dropwatch.gau ${KORVANE_PE_DIR}/korvane_panel.bmp
              ${KORVANE_PE_DIR}/Debuggee.gau
        DESTINATION ${share}/modules)
install(FILES ${KORVANE_PE_DIR}/debug/Korvane.gau ${KORVANE_PE_DIR}/debug/Dropwatch.gau
        DESTINATION ${share}/modules/debug)
set(debug_background ${CMAKE_BINARY_DIR}/package_links/korvane_panel.bmp)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package_links)
file(CREATE_LINK ../korvane_panel.bmp ${debug_background} SYMBOLIC)
install(FILES ${debug_background} DESTINATION ${share}/modules/debug)
install(FILES panel/panel.cfg DESTINATION ${share}/panel)
install(DIRECTORY scenarios/ DESTINATION ${share}/scenarios)
install(DIRECTORY fdm/ DESTINATION ${share}/fdm PATTERN "*.csv" EXCLUDE PATTERN "tools" EXCLUDE)
install(DIRECTORY web/page/ DESTINATION ${share}/web)
# A program, so not under share (Debian keeps share free of machine code).
install(PROGRAMS ${KORVANE_JSBSIM_PROGRAM} DESTINATION lib/gaugebench)

# The sources the modules' line tables name, laid out as in the checkout, so
# GDB started in PREFIX/share/gaugebench/source (or given it with
# `directory`) lists them: the tables name them from the folder each unit
# was built in (build/win, build/win/tests/fixtures), which must exist for
# the `..` to lead back. The kit's sources are the kit's own copy.
set(source ${share}/source)
install(DIRECTORY korvane dropwatch DESTINATION ${source})
install(DIRECTORY tests/fixtures/debuggee DESTINATION ${source}/tests/fixtures)
set(source_links ${CMAKE_BINARY_DIR}/package_links/source)
file(MAKE_DIRECTORY ${source_links}/build/win/tests/fixtures)
file(WRITE ${source_links}/build/win/tests/fixtures/README
     "The modules' line tables name their sources from here (../../../../korvane/...): GDB needs the folders.\n")
foreach(part gaugekit frame)
  file(CREATE_LINK ../kit/${part} ${source_links}/${part} SYMBOLIC)
  install(FILES ${source_links}/${part} DESTINATION ${source})
endforeach()
install(FILES ${source_links}/build/win/tests/fixtures/README DESTINATION ${source}/build/win/tests/fixtures)

# The man page names the shipped files under PREFIX: the prefix installed to
# takes its place, and the page is compressed as man(1) reads it.
install(CODE "
  file(READ \"${reference_dir}/gaugebench.1\" page)
  string(REPLACE PREFIX \"\${CMAKE_INSTALL_PREFIX}\" page \"\${page}\")
  file(WRITE \"${reference_dir}/installed/gaugebench.1\" \"\${page}\")
  execute_process(COMMAND gzip -9nf \"${reference_dir}/installed/gaugebench.1\" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR \"gzip ${reference_dir}/installed/gaugebench.1: \${status}\")
  endif()
  file(INSTALL \"${reference_dir}/installed/gaugebench.1.gz\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/man/man1\")")
install(FILES ${reference_dir}/gaugebench.bash DESTINATION share/bash-completion/completions RENAME gaugebench)

# The documents as in the checkout, so the README's pictures (docs/*.png) and
# its links hold; the licence is in `copyright`, with the other components'.
set(doc share/doc/gaugebench)
install(FILES README.md cmake/debian/copyright DESTINATION ${doc})
install(DIRECTORY docs DESTINATION ${doc})
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/package_links/changelog
     "gaugebench (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Built from the project's own tree with cpack (README.md, Installing).\n\n"
     " -- Korvane developers <korvane@localhost>  ${changelog_date}\n")
install(CODE "
  execute_process(COMMAND gzip -9nkf \"${CMAKE_BINARY_DIR}/package_links/changelog\" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR \"gzip ${CMAKE_BINARY_DIR}/package_links/changelog: \${status}\")
  endif()
  file(INSTALL \"${CMAKE_BINARY_DIR}/package_links/changelog.gz\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${doc}\")")

set(CPACK_PACKAGE_NAME gaugebench)
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_CONTACT "Korvane developers <korvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench host for PE gauge modules: render, script, validate, fly and serve panels")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "gaugebench loads 32-bit PE gauge modules of a flight simulator's 2D panel
system in an x86 emulator inside its own process, gives them the simulator's
services and draws their panels, so a panel can be tried without the
simulator. It renders a panel to PNG, runs scripted sessions, checks a module
as plug-in validators do, flies a panel in JSBSim, serves it live to a web
browser, and lets GDB debug module code at source level.
.
The package holds the Korvane instrument modules with their debug builds, a
panel, scenarios and a JSBSim aircraft, and a kit to make modules of your own.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the program and JSBSim link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What a project `gaugebench new` makes is built and its coverage drawn with.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "g++-mingw-w64-i686, cmake, lcov")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# Debug information stays in the build tree: the program is installed
# stripped (the install rule of a target strips it when asked to).
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
