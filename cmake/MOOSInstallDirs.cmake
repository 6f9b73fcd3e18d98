# The install folders, included by every file of this tree that installs
# something, instead of GNUInstallDirs itself.
#
# On Debian and its derivatives the library, its CMake package and its
# pkg-config file go into the multiarch folder lib/<triplet> (for example
# lib/x86_64-linux-gnu), whatever the prefix, so that the Debian package has
# them where Debian's compilers, pkg-config and find_package look, and
# libraries of two architectures can be installed side by side. Elsewhere,
# or with -DCMAKE_INSTALL_LIBDIR=..., GNUInstallDirs decides as usual.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
    CACHE PATH "Object code libraries (lib/<multiarch triplet> on Debian)")
endif()
include(GNUInstallDirs)
