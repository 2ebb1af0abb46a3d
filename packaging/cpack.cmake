# Packages: on Linux a Debian package per install component (built by
# scripts/package_deb.sh), on Windows one zip (scripts/package_windows.sh).

set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VENDOR "the tarn developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarn-${PROJECT_VERSION}-win64)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime lib dev demo python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE tarn)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on shared libraries come from dpkg-shlibdeps; the library
# package declares its library (shlibs file, ldconfig trigger).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TARN_DEB_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS ${TARN_DEB_DEMO_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "client for a database server management service
tarn talks HTTP and JSON to a service that manages database server
instances: saved connections, the object tree, queries with cancel, the
edit grid, scripting, activity, storage, administration views and agent
jobs.

This package holds the tarn program, which has the client library built
in.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${TARN_DEB_LIB_PACKAGE})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# dpkg runs ldconfig through this trigger. (CPack also writes postinst and
# postrm scripts that call it; they are redundant, not wrong.)
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIB_DESCRIPTION
  "client library for a database server management service
libtarn-client.so.1 is the C library behind the tarn program: it talks
HTTP and JSON to a service that manages database server instances and
reads the result grids of its replies.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${TARN_DEB_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
# The static library and the CMake package name these; with yyjson
# compiled in there is no static library and the shared one needs nothing.
if(NOT TARN_YYJSON_BUNDLED)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libcurl4-openssl-dev | libcurl-dev, libssl-dev, libyyjson-dev")
endif()
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "development files for the tarn client library
The C header, the static library libtarn-client.a, the pkg-config file
tarn-client.pc and the CMake package tarn-client (imported targets
tarn::client and tarn::client-static) for programs that use the tarn
client library.")
if(TARN_YYJSON_BUNDLED)
  set(CPACK_DEBIAN_DEV_DESCRIPTION
    "development files for the tarn client library
The C header, the link to the shared library, the pkg-config file
tarn-client.pc and the CMake package tarn-client (imported target
tarn::client) for programs that use the tarn client library.")
endif()

set(CPACK_DEBIAN_DEMO_PACKAGE_NAME ${TARN_DEB_DEMO_PACKAGE})
set(CPACK_DEBIAN_DEMO_PACKAGE_SECTION net)
set(CPACK_DEBIAN_DEMO_PACKAGE_SUGGESTS ${TARN_DEB_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_DEMO_DESCRIPTION
  "local demo service for the tarn client
tarn-demo-service answers every request of the tarn client from SQLite
databases in a folder of its own, with a sample shop database, saved
connection profiles and agent jobs. It listens on the loopback address
by default and is meant for trying the client, tests and benchmarks.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${TARN_DEB_PYTHON_PACKAGE})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# Pure Python: the library it loads comes from the lib package.
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_PYTHON_DEPENDS lib)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
  "Python interface to the tarn client library
The Python module tarn is a DB-API 2.0 interface over libtarn-client.so.1,
loaded with ctypes: connections of their own for each thread, qmark
parameters, typed values, result sets and cancelling a running query from
another thread, plus the management service's other operations.")

include(CPack)
