# SPDX-License-Identifier: GPL-3.0-or-later
# Runs at install time (see Install.cmake): the udev rule, the service and its user and store
# folder, in the folders the system reads for the prefix installed into. Under /usr they are
# Debian 12's own (units and udev rules under /lib); under any other prefix, PREFIX/lib/...
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unit_dir /lib/systemd/system)
  set(udev_dir /lib/udev/rules.d)
else()
  set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
  set(udev_dir ${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d)
endif()

set(QUIVRA_BINARY ${CMAKE_INSTALL_PREFIX}/${QUIVRA_BINDIR}/quivra)
configure_file(${QUIVRA_SOURCE_DIR}/data/system/quivra-record.service.in
  ${QUIVRA_BINARY_DIR}/system/quivra-record.service @ONLY)

set(data ${QUIVRA_SOURCE_DIR}/data/system)
file(INSTALL DESTINATION ${unit_dir} TYPE FILE FILES ${QUIVRA_BINARY_DIR}/system/quivra-record.service)
file(INSTALL DESTINATION ${udev_dir} TYPE FILE FILES ${data}/60-quivra-iio.rules)
file(INSTALL DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d TYPE FILE RENAME quivra.conf
  FILES ${data}/quivra.sysusers)
file(INSTALL DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d TYPE FILE RENAME quivra.conf
  FILES ${data}/quivra.tmpfiles)
