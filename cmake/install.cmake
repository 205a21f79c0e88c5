# SPDX-License-Identifier: MIT
# Installation: the shared module (liborveln1.so.1 and its links), the static core (with the C++
# interface), both headers, the orveln tool (with its manual page and bash completion), a CMake
# package (find_package(orveln1) -> orveln1::orveln1, orveln1::core), pkg-config files (orveln1 for
# the C interface, orveln1-core for the C++ one) and the licence. The warnings target is a build
# dependency only and is not exported.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVELN1_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orveln1)

install(TARGETS orveln1 orveln1_core EXPORT orveln1Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/orveln1.h ${PROJECT_SOURCE_DIR}/include/orveln1.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET orveln)
  install(TARGETS orveln RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/orveln.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/orveln.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orveln)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Inside the package the static core is called orveln1::core.
set_target_properties(orveln1_core PROPERTIES EXPORT_NAME core)
install(EXPORT orveln1Targets NAMESPACE orveln1:: DESTINATION ${ORVELN1_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orveln1Config.cmake.in
  ${PROJECT_BINARY_DIR}/orveln1Config.cmake INSTALL_DESTINATION ${ORVELN1_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orveln1ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orveln1Config.cmake ${PROJECT_BINARY_DIR}/orveln1ConfigVersion.cmake
  DESTINATION ${ORVELN1_CMAKE_DIR})

# The .pc files find the prefix from their own place, so an installed tree can be moved.
file(RELATIVE_PATH ORVELN1_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
foreach(pc orveln1 orveln1-core)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
