# How a program of this tree is installed, included by the root before any
# program's folder:
#
#   moos_install_program(<target>)
#
# installs the program into bin/ and its manual page, <target>.1 beside the
# program's CMakeLists.txt, into share/man/man1, compressed as man and the
# Debian package expect. A program without a page stops the configuration,
# so that no installed program lacks one.
#
# moos_gzip(<input> <output>) adds to the build a compressed copy of a file
# (manual pages and the package's change log are installed compressed).
include(${CMAKE_CURRENT_LIST_DIR}/MOOSInstallDirs.cmake)

# Directories made by an install are world-readable whatever the umask, as a
# package's must be.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

function(moos_gzip input output)
  get_filename_component(name ${output} NAME)
  get_filename_component(dir ${output} DIRECTORY)
  # -n leaves the name and time out of the header, so that the package's
  # contents depend on the sources only.
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND gzip -9 -n -c ${input} > ${output}
    DEPENDS ${input}
    COMMENT "Compressing ${name}")
  string(MAKE_C_IDENTIFIER ${name} target)
  add_custom_target(gzip_${target} ALL DEPENDS ${output})
endfunction()

function(moos_install_program target)
  set(page ${CMAKE_CURRENT_SOURCE_DIR}/${target}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${target} has no manual page: write ${page}")
  endif()
  set(packed ${CMAKE_BINARY_DIR}/man/${target}.1.gz)
  moos_gzip(${page} ${packed})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
