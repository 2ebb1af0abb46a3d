# What `cmake --install` lays out, in components, one Debian package each:
# runtime (the program), lib (the shared library), demo (the demo service,
# whose SQLite and HTTP server libraries the client never needs), dev
# (what building against the library needs) and python (the Python
# package, installed only when asked for by component, as CPack does).
# Paths follow GNUInstallDirs.

option(TARN_PACKAGE_DEB "Lay out the documentation files as a Debian package needs them" OFF)
set(TARN_PACKAGE_MAINTAINER "tarn maintainers <maintainers@tarn.example.org>"
  CACHE STRING "Maintainer of the Debian packages (control file and changelog)")
set(TARN_DEB_RUNTIME_PACKAGE tarn)
set(TARN_DEB_DEV_PACKAGE libtarn-client-dev)
set(TARN_DEB_DEMO_PACKAGE tarn-demo-service)
# Named after its SONAME, as Debian names shared library packages.
set(TARN_DEB_LIB_PACKAGE libtarn-client${PROJECT_VERSION_MAJOR})
set(TARN_DEB_PYTHON_PACKAGE python3-tarn)

if(WIN32)
  # tarn.exe still exports the library's functions, but programs link
  # tarn-client.dll: an .exe loaded as a module has its own imports
  # unresolved, so its import library is not shipped.
  set_target_properties(tarn PROPERTIES ENABLE_EXPORTS ON)
  install(TARGETS tarn RUNTIME DESTINATION . COMPONENT runtime)
  install(TARGETS tarn-client
    RUNTIME DESTINATION . COMPONENT runtime
    ARCHIVE DESTINATION lib COMPONENT dev)
  install(FILES ${TARN_CLIENT_PUBLIC_HEADERS} DESTINATION include COMPONENT dev)
  install(FILES README.md LICENSE THIRD-PARTY-NOTICES.md DESTINATION . COMPONENT runtime)
  return()
endif()

set(TARN_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarn-client)

install(TARGETS tarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# The manual pages (compressed for the Debian packages, as Debian wants)
# and the program's bash and zsh completions.
foreach(page cli/tarn.1:runtime demo/tarn-demo-service.1:demo)
  string(REPLACE ":" ";" page ${page})
  list(GET page 0 source)
  list(GET page 1 component)
  set(source ${PROJECT_SOURCE_DIR}/${source})
  if(TARN_PACKAGE_DEB)
    get_filename_component(name ${source} NAME)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    execute_process(COMMAND gzip -9nc ${source}
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/${name}.gz RESULT_VARIABLE gzip_status)
    if(NOT gzip_status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${source}")
    endif()
    set(source ${PROJECT_BINARY_DIR}/${name}.gz)
  endif()
  install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()
install(FILES cli/completions/tarn.bash RENAME tarn
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT runtime)
install(FILES cli/completions/_tarn
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions COMPONENT runtime)

# The static library names yyjson as a dependency, which only an installed
# yyjson package can satisfy; with yyjson compiled in from source only the
# shared library is installed, and its users need nothing else.
if(TARN_YYJSON_BUNDLED)
  set(TARN_INSTALLED_LIBRARIES tarn-client)
  set(TARN_FIND_DEPENDENCIES "")
  set(TARN_PC_PRIVATE "")
else()
  set(TARN_INSTALLED_LIBRARIES tarn-client tarn-client-static)
  set(TARN_FIND_DEPENDENCIES
    "find_dependency(yyjson CONFIG)\nfind_dependency(CURL)\nfind_dependency(OpenSSL)")
  set(TARN_PC_PRIVATE "Requires.private: libcurl libcrypto yyjson\nLibs.private: -lstdc++\n")
endif()
install(TARGETS ${TARN_INSTALLED_LIBRARIES} EXPORT tarn-client-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${TARN_CLIENT_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# Debian's place for Python packages of every Python 3 version.
file(GLOB TARN_PYTHON_FILES ${PROJECT_SOURCE_DIR}/python/tarn/*.py)
install(FILES ${TARN_PYTHON_FILES} ${PROJECT_SOURCE_DIR}/python/tarn/py.typed
  DESTINATION lib/python3/dist-packages/tarn COMPONENT python EXCLUDE_FROM_ALL)

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
  # The compiled-in yyjson's terms go with every binary that holds it.
  set(TARN_COPYRIGHT_YYJSON "")
  if(TARN_YYJSON_BUNDLED)
    file(READ ${CMAKE_CURRENT_LIST_DIR}/debian/copyright-yyjson TARN_COPYRIGHT_YYJSON)
    string(PREPEND TARN_COPYRIGHT_YYJSON "\n")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in
    ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
  foreach(component runtime lib dev demo python)
    string(TOUPPER ${component} upper)
    set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TARN_DEB_${upper}_PACKAGE})
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright
      ${PROJECT_BINARY_DIR}/debian/changelog.gz
      DESTINATION ${doc} COMPONENT ${component})
  endforeach()
else()
  install(FILES LICENSE THIRD-PARTY-NOTICES.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()
