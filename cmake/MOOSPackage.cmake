# What a vehicle computer gets beyond the programs and the library, and the
# Debian package that carries it all, included by the root after
# MOOSInstall.cmake:
#
#   cpack -G DEB --config build/CPackConfig.cmake     (or scripts/package.sh)
#
# adds to the install a pkg-config file (moos.pc), systemd units (the
# templates vantor@.service and dirkel@.service, one instance per mission
# file /etc/moos/<instance>.moos, and localserver.service), and under
# share/doc/moos-bridges the copyright, the change log, an example mission
# file and an example udev rule. Nothing is installed into /etc: mission files
# are the user's, written from the example, so that removing or purging the
# package never touches them. The maintainer scripts (scripts/package/postinst,
# prerm, postrm) do what Debian's debhelper does for a package with units:
# systemd rereads its units on install and removal, running instances are
# stopped on removal and restarted after an upgrade; none starts or enables a
# service that was not running.
set(MOOS_PACKAGE_NAME moos-bridges)
set(MOOS_PACKAGE_MAINTAINER "Vantor and Dirkel developers <bridges@example.org>")
set(MOOS_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${MOOS_PACKAGE_NAME})
set(MOOS_PACKAGE_DATA ${PROJECT_SOURCE_DIR}/scripts/package)

# Writes <template> at install time as <name> into <destination>, once the
# prefix is known (cpack installs into /usr, `cmake --install` wherever it is
# told), with @MOOS_PREFIX@, @MOOS_BINDIR@, @MOOS_LIBDIR@, @MOOS_INCLUDEDIR@,
# @MOOS_VERSION@ and any further KEY=VALUE given replaced.
function(moos_install_configured template name destination)
  set(out ${CMAKE_BINARY_DIR}/configured/${name})
  set(settings "")
  foreach(setting ${ARGN})
    string(REGEX MATCH "^([^=]+)=(.*)$" matched ${setting})
    string(APPEND settings "set(${CMAKE_MATCH_1} \"${CMAKE_MATCH_2}\")\n")
  endforeach()
  install(CODE "${settings}
set(MOOS_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
set(MOOS_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
set(MOOS_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
set(MOOS_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
set(MOOS_VERSION \"${PROJECT_VERSION}\")
configure_file(\"${template}\" \"${out}\" @ONLY)")
  install(FILES ${out} DESTINATION ${destination})
endfunction()

# The copyright file in Debian's machine-readable form, made from LICENSE:
# every line of the licence indented by one space, blank lines as " .".
function(moos_write_copyright output)
  set(license ${PROJECT_SOURCE_DIR}/LICENSE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license})
  file(READ ${license} text)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" matched "${text}")
  set(holder ${CMAKE_MATCH_1})
  string(STRIP "${text}" text)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text "${text}")
  file(WRITE ${output}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: ${MOOS_PACKAGE_NAME}\n\n"
    "Files: *\nCopyright: ${holder}\nLicense: Expat\n ${text}\n")
endfunction()

moos_install_configured(${PROJECT_SOURCE_DIR}/cmake/moos.pc.in moos.pc
  ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(MOOS_UNIT_DIR lib/systemd/system)
moos_install_configured(${MOOS_PACKAGE_DATA}/bridge@.service.in vantor@.service ${MOOS_UNIT_DIR}
  PROGRAM=Vantor UNIT=vantor SENSOR=GPS PROCESS=Vantor)
moos_install_configured(${MOOS_PACKAGE_DATA}/bridge@.service.in dirkel@.service ${MOOS_UNIT_DIR}
  PROGRAM=Dirkel UNIT=dirkel SENSOR=compass PROCESS=Compass)
moos_install_configured(${MOOS_PACKAGE_DATA}/localserver.service.in localserver.service
  ${MOOS_UNIT_DIR})

set(MOOS_PACKAGE_VERSION ${PROJECT_VERSION}-1)
moos_write_copyright(${CMAKE_BINARY_DIR}/doc/copyright)
set(PACKAGE ${MOOS_PACKAGE_NAME})
set(VERSION ${MOOS_PACKAGE_VERSION})
set(MAINTAINER ${MOOS_PACKAGE_MAINTAINER})
configure_file(${MOOS_PACKAGE_DATA}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog.Debian @ONLY)
moos_gzip(${CMAKE_BINARY_DIR}/doc/changelog.Debian ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
  DESTINATION ${MOOS_DOC_DIR})
# The recording plot, a Python script, with its manual page.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/plot-recording DESTINATION ${CMAKE_INSTALL_BINDIR})
moos_gzip(${PROJECT_SOURCE_DIR}/scripts/plot-recording.1 ${CMAKE_BINARY_DIR}/man/plot-recording.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/plot-recording.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/examples/vehicle.moos ${PROJECT_SOURCE_DIR}/examples/two-receivers.moos
  ${MOOS_PACKAGE_DATA}/60-moos-serial.rules
  DESTINATION ${MOOS_DOC_DIR}/examples)

# The Debian package: one binary package with the programs and the library.
set(CPACK_PACKAGE_NAME ${MOOS_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Vantor and Dirkel developers")
set(CPACK_PACKAGE_CONTACT ${MOOS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial GPS and compass bridges for a MOOS network")
set(CPACK_PACKAGE_DESCRIPTION
  "Vantor publishes the position of a GPS receiver's GGA sentences and Dirkel
the heading of a digital compass as variables of a MOOS publish/subscribe
server, for the other processes of a vehicle. Both run as systemd services,
one instance per mission file.

The package also holds LocalServer, a small MOOS server for one computer,
SensorSim, a simulated receiver and compass on a pseudo-terminal, and the
MOOS client library the programs are built on, with its headers, CMake
package and pkg-config file.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Files that name installed paths (units, moos.pc) are written during the
# install and must see the final prefix, not the staging directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# plot-recording runs on Python 3 and draws with matplotlib.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${MOOS_PACKAGE_DATA}/postinst ${MOOS_PACKAGE_DATA}/prerm ${MOOS_PACKAGE_DATA}/postrm)
# Maintainer scripts executable, other control files read-only, as dpkg wants.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# `make package_source` packs the sources, not the build trees beside them.
set(CPACK_SOURCE_IGNORE_FILES "/[.]git(/|$)" "/build[^/]*/" "/fuzz/corpus-run/")
include(CPack)
