# cmake --install: the shared library with its SONAME links, the headers,
# the bsbchart command, a CMake package (find_package(bsbchart) gives
# bsbchart::bsbchart), a pkg-config file, and the MIT licence in
# share/doc/bsbchart.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BSBCHART_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bsbchart)

install(TARGETS bsbchart EXPORT bsbchartTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/bsbchart.h ${PROJECT_SOURCE_DIR}/include/bsbchart_host.h
  ${PROJECT_SOURCE_DIR}/include/bsbchart_c.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET bsbchart_command)
  install(TARGETS bsbchart_command RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT bsbchartTargets
  NAMESPACE bsbchart::
  FILE bsbchartTargets.cmake
  DESTINATION ${BSBCHART_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/bsbchartConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bsbchartConfig.cmake
  INSTALL_DESTINATION ${BSBCHART_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bsbchartConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/bsbchartConfig.cmake ${PROJECT_BINARY_DIR}/bsbchartConfigVersion.cmake
  DESTINATION ${BSBCHART_CMAKE_DIR})

# The .pc file finds the prefix from where it lies, so an installed tree can
# be moved (and cmake --install --prefix elsewhere works).
set(BSBCHART_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${BSBCHART_PKGCONFIG_DIR}")
  set(BSBCHART_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH BSBCHART_PC_UP /root/${BSBCHART_PKGCONFIG_DIR} /root)
  string(REGEX REPLACE "/$" "" BSBCHART_PC_UP "${BSBCHART_PC_UP}")
  set(BSBCHART_PC_PREFIX "\${pcfiledir}/${BSBCHART_PC_UP}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/bsbchart.pc.in ${PROJECT_BINARY_DIR}/bsbchart.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bsbchart.pc DESTINATION ${BSBCHART_PKGCONFIG_DIR})
