# SPDX-License-Identifier: MIT
# Install rules (GNUInstallDirs layout), the CMake package and the pkg-config file.
#
#   Runtime      libowclient.so.1 (SONAME) and its versioned file, the tools, their pages,
#                the file-format pages (section 5), the samples under share/owclient,
#                the licence, and owgateway's systemd unit with its account and sample
#                configuration (OwclientService.cmake)
#   Development  the headers of include/owclient/, the libowclient.so link, the CMake
#                package (find_package(owclient 1.0 CONFIG) -> owclient::owclient),
#                owclient.pc and the library's pages (section 3)
#
# Only the shared library is installed. owclient_static exists for the tests: it
# exports every internal symbol, its include path reaches into src/, and a static
# consumer would have to repeat our private link line (expat, threads, the C++ runtime).
include(${CMAKE_CURRENT_LIST_DIR}/OwclientExports.cmake)

if(NOT OWCLIENT_INSTALL)
  return()
endif()

include(CMakePackageConfigHelpers)
set(OWCLIENT_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/owclient)

install(TARGETS owclient EXPORT owclientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
          NAMELINK_COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/owclient
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development
  FILES_MATCHING PATTERN "*.h")

# The package locates itself from its own directory, so the prefix can be moved.
install(EXPORT owclientTargets NAMESPACE owclient::
  DESTINATION ${OWCLIENT_INSTALL_CMAKEDIR} COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/owclientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/owclientConfig.cmake
  INSTALL_DESTINATION ${OWCLIENT_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/owclientConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/owclientConfig.cmake
              ${PROJECT_BINARY_DIR}/owclientConfigVersion.cmake
  DESTINATION ${OWCLIENT_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config. Only the shared library is installed, and it carries its own dependency
# on expat: a consumer needs neither expat's flags nor its .pc file, and naming expat in
# Requires.private would make pkg-config fail, even without --static, where expat's
# development files are missing. Should the static archive ever be installed, expat
# belongs in Libs.private as -lexpat. Threads are a plain flag for static links.
set(pc_libs_private "-pthread")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(pc_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
# The prefix is the one of the install itself (cmake --install --prefix may differ from
# the configured one), so the file is written when installing.
install(CODE "
  set(OWCLIENT_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(OWCLIENT_PC_LIBDIR [==[${pc_LIBDIR}]==])
  set(OWCLIENT_PC_INCLUDEDIR [==[${pc_INCLUDEDIR}]==])
  set(OWCLIENT_PC_VERSION [==[${PROJECT_VERSION}]==])
  set(OWCLIENT_PC_LIBS_PRIVATE [==[${pc_libs_private}]==])
  configure_file([==[${CMAKE_CURRENT_LIST_DIR}/owclient.pc.in]==]
                 [==[${PROJECT_BINARY_DIR}/owclient.pc]==] @ONLY)
" COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/owclient.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

# The manual of the library and its file formats, and samples to start from: the
# template, its translation table and one story pair.
file(GLOB library_pages ${PROJECT_SOURCE_DIR}/man/man3/*.3)
install(FILES ${library_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development)
file(GLOB format_pages ${PROJECT_SOURCE_DIR}/man/man5/*.5)
install(FILES ${format_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man5 COMPONENT Runtime)
set(OWCLIENT_INSTALL_SAMPLEDIR ${CMAKE_INSTALL_DATADIR}/owclient)
install(FILES ${PROJECT_SOURCE_DIR}/examples/templates/story.tmpl
              ${PROJECT_SOURCE_DIR}/examples/templates/story.xlate
  DESTINATION ${OWCLIENT_INSTALL_SAMPLEDIR} COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/examples/stories/river-ice.xml
              ${PROJECT_SOURCE_DIR}/examples/stories/river-ice.rdf
  DESTINATION ${OWCLIENT_INSTALL_SAMPLEDIR}/stories COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)

# Tools: their binaries install themselves; here their pages, and a run path relative
# to the binary for those that use the shared library, so that an installed tool runs
# from any prefix (CMAKE_SKIP_INSTALL_RPATH=ON turns this off for distributions).
file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(tool owwired owgateway owconvert)
  if(NOT TARGET ${tool})
    continue()
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/man/man1/${tool}.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
  get_target_property(tool_libs ${tool} LINK_LIBRARIES)
  get_target_property(tool_rpath ${tool} INSTALL_RPATH)
  # owtool_convert (tools/common) brings the shared library to the tools that convert.
  if(("owclient" IN_LIST tool_libs OR "owtool_convert" IN_LIST tool_libs) AND NOT tool_rpath)
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
  endif()
endforeach()
if(TARGET owgateway)
  include(${CMAKE_CURRENT_LIST_DIR}/OwclientService.cmake)
endif()
