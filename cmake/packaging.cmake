# Install rules, the CMake package, pkg-config file and Debian packages.
#
# Components:
#   runtime  libzelkor.so.1 with the plain libzelkor.so beside it (a JVM's
#            System.loadLibrary("zelkor") looks for exactly that name), the
#            jar of Java host classes, and zelkor-with-natives.jar (the same
#            with the library of each platform inside) where its step made it
#   dev      public headers, libzelkor.a, CMake package, pkg-config file
#   tools    sumwright
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZELKOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zelkor)

install(TARGETS zelkor EXPORT zelkorTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT runtime)
set_target_properties(zelkor PROPERTIES EXPORT_NAME zelkor)
target_include_directories(zelkor INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS zelkor_static EXPORT zelkorTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
target_include_directories(zelkor_static INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS sumwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# Public headers, flat under include/zelkor/.
set(ZELKOR_PUBLIC_HEADERS src/util/bulk_crc32.h src/util/zelkor_crc.h src/security/zelkor_group_info.h
  src/io/nativeio/errno_enum.h src/io/nativeio/file_descriptor.h)
install(FILES ${ZELKOR_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelkor COMPONENT dev)

install(EXPORT zelkorTargets NAMESPACE zelkor:: DESTINATION ${ZELKOR_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/zelkorConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/zelkorConfig.cmake INSTALL_DESTINATION ${ZELKOR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zelkorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelkorConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/zelkorConfigVersion.cmake
        DESTINATION ${ZELKOR_CMAKE_DIR} COMPONENT dev)

file(RELATIVE_PATH ZELKOR_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/zelkor.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zelkor.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelkor.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages: cpack -G DEB in the build tree.  The packages take their
# library directory from CMAKE_INSTALL_LIBDIR as configured, and
# GNUInstallDirs gives Debian's multiarch one only for the /usr prefix: hence
# that prefix in the release preset.
set(CPACK_PACKAGE_NAME zelkor)
set(CPACK_PACKAGE_VENDOR "zelkor")
set(CPACK_PACKAGE_CONTACT "zelkor native maintainers <zelkor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "native support library of the zelkor data platform")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzelkor1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzelkor-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME sumwright)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# The errno and file-descriptor headers include <jni.h>.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "openjdk-17-jdk-headless | java-sdk-headless")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "java-runtime-headless")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "zelkor native support library (libzelkor.so) and its Java host classes (zelkor.jar; zelkor-with-natives.jar, which carries the library)")
set(CPACK_COMPONENT_DEV_DESCRIPTION "zelkor native: headers, static archive, CMake package and pkg-config file")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "sumwright: self-check and benchmark of the zelkor checksum engine")
include(CPack)
