# Install rules and the CMake package of the client library, included by the
# root after every target exists.
#
#   cmake --install build --prefix DIR
#
# installs the programs into DIR/bin with their manual pages (each program's
# folder calls moos_install_program), the static library into DIR/LIBDIR, its
# headers into DIR/include/MOOSLIB and a package (MOOSConfig.cmake with the
# exported target MOOS::MOOS) into DIR/LIBDIR/cmake/MOOS, LIBDIR being
# lib/<multiarch triplet> on Debian and lib elsewhere (MOOSInstallDirs.cmake),
# so that another project builds on the library with
#
#   find_package(MOOS REQUIRED)
#   target_link_libraries(myapp PRIVATE MOOS::MOOS)
include(${CMAKE_CURRENT_LIST_DIR}/MOOSInstallDirs.cmake)
include(CMakePackageConfigHelpers)

set(MOOS_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/MOOS)

install(TARGETS MOOS EXPORT MOOSTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
file(GLOB moos_public_headers ${PROJECT_SOURCE_DIR}/MOOS/Core/MOOSLIB/*.h)
install(FILES ${moos_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/MOOSLIB)

install(EXPORT MOOSTargets NAMESPACE MOOS:: FILE MOOSTargets.cmake
  DESTINATION ${MOOS_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MOOSConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MOOSConfig.cmake
  INSTALL_DESTINATION ${MOOS_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MOOSConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MOOSConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/MOOSConfigVersion.cmake
  DESTINATION ${MOOS_PACKAGE_DIR})

# The example application builds inside the tree as well as on its own
# against an installed package (examples/CMakeLists.txt looks for MOOS::MOOS
# only when it is not a target already).
if(MOOS_BUILD_EXAMPLES AND EXISTS ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/examples ${CMAKE_BINARY_DIR}/examples)
endif()
