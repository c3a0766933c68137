# The files that let other programs find the installed library: a CMake
# package configuration and a pkg-config file.
include(CMakePackageConfigHelpers)
if(WIN32)
  set(QLTMSI_LIBRARY_FILE "qltmsi32.dll")
  set(QLTMSI_IMPORT_LIBRARY_FILE "libqltmsi32.dll.a")
else()
  set(QLTMSI_LIBRARY_FILE "libqltmsi32.so")
endif()
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qltmsiConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qltmsiConfig.cmake
  INSTALL_DESTINATION lib/cmake/qltmsi)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qltmsiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qltmsiConfig.cmake ${PROJECT_BINARY_DIR}/qltmsiConfigVersion.cmake
  DESTINATION lib/cmake/qltmsi)
# pkg-config wants absolute paths; the prefix is the one given at install time.
install(CODE "
  set(CMAKE_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/qltmsi.pc.in\" \"${PROJECT_BINARY_DIR}/qltmsi.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/qltmsi.pc\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/pkgconfig\")
")
