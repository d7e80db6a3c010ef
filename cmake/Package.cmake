# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --build BUILD --target package`: a Debian package of what Install.cmake installs, under
# /usr. A build with the window makes `quivra` (the window and the subcommands); one configured
# with -DQUIVRA_GUI=OFF makes `quivra-recorder` (the subcommands alone). The two hold the same
# program, so each replaces the other.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUIVRA_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUIVRA_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installed with DESTDIR, so that the system folders outside /usr (units, udev rules) land right.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME ${QUIVRA_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUIVRA_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the service's user where systemd-sysusers is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/data/debian/postinst ${CMAKE_SOURCE_DIR}/data/debian/prerm ${CMAKE_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(QUIVRA_GUI)
  set(other quivra-recorder)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vibration recorder for a device's accelerometer")
  set(CPACK_PACKAGE_DESCRIPTION
    "Quivra turns a three-axis accelerometer (Linux IIO, or a simulated one)
into a vibration recorder: it stores every reading with its time stamp in
sessions in one SQLite file, shows live traces, spectra, levels and ISO 10816
zones, and exports sessions as text. Its command line records as a service,
lists, exports and analyses without a screen, and publishes a summary every
second to MQTT or InfluxDB.
This package holds the window and the subcommands.")
else()
  set(other quivra)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vibration recorder for a device's accelerometer, without a window")
  set(CPACK_PACKAGE_DESCRIPTION
    "Quivra turns a three-axis accelerometer (Linux IIO, or a simulated one)
into a vibration recorder that stores every reading with its time stamp in
sessions in one SQLite file, and publishes a summary every second to MQTT or
InfluxDB.
This package holds the subcommands alone (record, sessions, export, analyse),
for a box without a screen; quivra-record.service runs the recorder.")
endif()
set(CPACK_DEBIAN_PACKAGE_CONFLICTS ${other})
set(CPACK_DEBIAN_PACKAGE_REPLACES ${other})
include(CPack)
