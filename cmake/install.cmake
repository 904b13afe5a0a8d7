# What `cmake --install build/linux --prefix P` and `cpack -G DEB` give: the
# bench host in P/bin and everything it finds by itself under
# P/share/gaugebench (tools/data_files.h keeps the same layout): the
# deliverables and the panel's background, the shipped panel, scenarios and
# aircraft, the live page and JSBSim, the module kit `gaugebench new` makes
# projects from; the man page and the bash completion made from the
# program's own command-line definition.

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

install(TARGETS gaugebench RUNTIME DESTINATION bin)
install(FILES ${KORVANE_PE_DIR}/Korvane.gau ${KORVANE_PE_DIR}/Dropwatch.gau ${KORVANE_PE_DIR}/korvane_panel.bmp
        DESTINATION ${share}/modules)
install(FILES panel/panel.cfg DESTINATION ${share}/panel)
install(DIRECTORY scenarios/ DESTINATION ${share}/scenarios)
install(DIRECTORY fdm/ DESTINATION ${share}/fdm PATTERN "*.csv" EXCLUDE PATTERN "tools" EXCLUDE)
install(DIRECTORY web/page/ DESTINATION ${share}/web)
install(PROGRAMS ${KORVANE_JSBSIM_PROGRAM} DESTINATION ${share}/jsbsim)
install(FILES ${reference_dir}/gaugebench.1 DESTINATION share/man/man1)
install(FILES ${reference_dir}/gaugebench.bash DESTINATION share/bash-completion/completions RENAME gaugebench)
install(FILES README.md LICENSE docs/scenarios.md DESTINATION share/doc/gaugebench)

set(CPACK_PACKAGE_NAME gaugebench)
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_CONTACT "Korvane developers <korvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench host for PE gauge modules: render, script, validate, fly and serve panels")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the program and JSBSim link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What a project `gaugebench new` makes is built and its coverage drawn with.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "g++-mingw-w64-i686, cmake, lcov")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# Debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
