# What `cmake --install` lays out, in two components: runtime (the program,
# the demo service, the shared library) and dev (what building against the
# library needs). Paths follow GNUInstallDirs.

option(TARN_PACKAGE_DEB "Lay out the documentation files as a Debian package needs them" OFF)
set(TARN_PACKAGE_MAINTAINER "tarn maintainers <maintainers@tarn.example.org>"
  CACHE STRING "Maintainer of the Debian packages (control file and changelog)")
set(TARN_DEB_RUNTIME_PACKAGE tarn)
set(TARN_DEB_DEV_PACKAGE libtarn-client-dev)

if(WIN32)
  # tarn.exe is the library: its import library lets other programs link
  # against the functions it exports.
  set_target_properties(tarn PROPERTIES ENABLE_EXPORTS ON)
  install(TARGETS tarn
    RUNTIME DESTINATION . COMPONENT runtime
    ARCHIVE DESTINATION lib COMPONENT dev)
  install(FILES ${TARN_CLIENT_PUBLIC_HEADERS} DESTINATION include COMPONENT dev)
  install(FILES README.md LICENSE THIRD-PARTY-NOTICES.md DESTINATION . COMPONENT runtime)
  return()
endif()

set(TARN_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarn-client)

install(TARGETS tarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# The manual pages of the program and of the demo service (compressed for
# the Debian package, as Debian wants) and the program's bash and zsh
# completions.
set(TARN_MAN_PAGES ${PROJECT_SOURCE_DIR}/cli/tarn.1)
if(TARGET tarn-demo-service)
  list(APPEND TARN_MAN_PAGES ${PROJECT_SOURCE_DIR}/demo/tarn-demo-service.1)
endif()
foreach(page IN LISTS TARN_MAN_PAGES)
  if(TARN_PACKAGE_DEB)
    get_filename_component(page_name ${page} NAME)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${page})
    execute_process(COMMAND gzip -9nc ${page}
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/${page_name}.gz RESULT_VARIABLE gzip_status)
    if(NOT gzip_status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${page}")
    endif()
    set(page ${PROJECT_BINARY_DIR}/${page_name}.gz)
  endif()
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endforeach()
install(FILES cli/completions/tarn.bash RENAME tarn
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT runtime)
install(FILES cli/completions/_tarn
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions COMPONENT runtime)

# The static library names yyjson as a dependency, which only an installed
# yyjson package can satisfy; with yyjson compiled in from source
# (TARN_YYJSON_SOURCE_DIR) only the shared library is installed.
if(TARN_YYJSON_SOURCE_DIR)
  set(TARN_INSTALLED_LIBRARIES tarn-client)
  set(TARN_FIND_DEPENDENCIES "")
else()
  set(TARN_INSTALLED_LIBRARIES tarn-client tarn-client-static)
  set(TARN_FIND_DEPENDENCIES
    "find_dependency(yyjson CONFIG)\nfind_dependency(CURL)\nfind_dependency(OpenSSL)")
endif()
install(TARGETS ${TARN_INSTALLED_LIBRARIES} EXPORT tarn-client-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${TARN_CLIENT_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# pkg-config: a plain install finds its prefix from the .pc file's own
# place, so the tree works wherever it is installed or unpacked; the Debian
# package names its fixed prefix, as Debian's own .pc files do.
if(TARN_PACKAGE_DEB)
  set(TARN_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH up /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(TARN_PC_PREFIX "\${pcfiledir}/${up}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarn-client.pc.in
  ${PROJECT_BINARY_DIR}/tarn-client.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarn-client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# CMake package: find_package(tarn-client) gives tarn::client and
# tarn::client-static.
include(CMakePackageConfigHelpers)
install(EXPORT tarn-client-targets NAMESPACE tarn::
  DESTINATION ${TARN_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tarn-client-config.cmake.in
  ${PROJECT_BINARY_DIR}/tarn-client-config.cmake
  INSTALL_DESTINATION ${TARN_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tarn-client-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/tarn-client-config.cmake
  ${PROJECT_BINARY_DIR}/tarn-client-config-version.cmake
  DESTINATION ${TARN_CMAKE_PACKAGE_DIR} COMPONENT dev)

# License and notices: a Debian copyright file and changelog in each
# package's own documentation folder, otherwise the plain files.
if(TARN_PACKAGE_DEB)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/changelog
    RESULT_VARIABLE gzip_status)
  if(NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip failed on the Debian changelog")
  endif()
  foreach(component runtime dev)
    string(TOUPPER ${component} upper)
    set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TARN_DEB_${upper}_PACKAGE})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
      ${PROJECT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${doc} COMPONENT ${component})
  endforeach()
else()
  install(FILES LICENSE THIRD-PARTY-NOTICES.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()
