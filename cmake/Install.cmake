# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` (and `make install`, and the packages) put in place, under the prefix
# given at install time: the program, its manual pages and bash completion, the udev rule, the
# service with its user and store folder, and with the window its desktop entry, icons and
# AppStream metainfo.
include(GNUInstallDirs)

set(QUIVRA_APP_ID io.github.quivra.Quivra)
if(QUIVRA_GUI)
  set(QUIVRA_PACKAGE_NAME quivra)
else()
  set(QUIVRA_PACKAGE_NAME quivra-recorder)
endif()
set(QUIVRA_MAINTAINER "The Quivra contributors <quivra@example.org>")
set(QUIVRA_HOMEPAGE "https://github.com/quivra/quivra")
set(quivra_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${QUIVRA_PACKAGE_NAME})

install(TARGETS quivra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages, written in scdoc, built and compressed as Debian keeps them.
find_program(SCDOC scdoc)
find_program(GZIP gzip REQUIRED)
file(GLOB man_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/man/*.scd)
set(man_pages)
if(SCDOC)
  foreach(source IN LISTS man_sources)
    get_filename_component(page ${source} NAME_WLE)
    set(built ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${built}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${SCDOC} < ${source} > ${CMAKE_BINARY_DIR}/man/${page}
      COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${page}
      DEPENDS ${source} VERBATIM)
    list(APPEND man_pages ${built})
  endforeach()
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc was not found (apt install scdoc): the manual pages are not built")
endif()

# The Debian changelog and copyright, in the doc folder of the package's own name.
string(TIMESTAMP QUIVRA_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${GZIP} -9nc ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog VERBATIM)
add_custom_target(quivra_data ALL DEPENDS ${man_pages} ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${quivra_doc_dir})

install(FILES ${CMAKE_SOURCE_DIR}/data/completion/quivra
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(QUIVRA_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${QUIVRA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${QUIVRA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/quivra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The system's folders (units, udev rules, sysusers.d, tmpfiles.d) depend on the prefix that is
# installed into, which is only known at install time.
install(CODE "set(QUIVRA_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
set(QUIVRA_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
set(QUIVRA_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/InstallSystemFiles.cmake)
