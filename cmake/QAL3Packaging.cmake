# Debian packages of the install components, made with `cpack -G DEB` in a
# build configured with -DCMAKE_INSTALL_PREFIX=/usr (./build.sh deb):
#
#   libqal3evutl1-standin  libQAL3evutl.so.1, the stand-in for the site's
#                          event-utility library (Provides: libqal3evutl1)
#   libqal3xml1            libQAL3XML.so.1
#   libqal3usertrig1       libQAL3USERTRIG.so.1
#   libqal3check1          libQAL3CHECK.so.1
#   libqal3-dev            headers, .so links, pkg-config files, CMake package
#   qal3                   the tool, its manual page and completion, the schemas
#   python3-qal3           the Python module (where it is built)
#   libqal3-doc            the reference manual (with QAL3_BUILD_DOCS), in
#                          /usr/share/doc/libqal3-doc/html (Architecture: all)
#
# Dependencies on other packages come from dpkg-shlibdeps. Each library
# package ships a shlibs file naming the package that provides its SONAME;
# while packaging, dpkg-shlibdeps finds the same lines for the libraries of
# this build (QAL3_DEB_SHLIBS_ROOT below), so one package of this build
# depends on another as it will on an installed one. The stand-in's SONAME
# maps to libqal3evutl1, which the stand-in provides and a site's own library
# package may provide in its place.

if(CMAKE_VERSION VERSION_LESS 3.21)
  message(STATUS "Debian packages: not configured (they need CMake 3.21 or later)")
  return()
endif()

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian packages: made for ${CMAKE_INSTALL_PREFIX}; Debian's layout needs "
                 "-DCMAKE_INSTALL_PREFIX=/usr (./build.sh deb)")
endif()

set(QAL3_PACKAGE_MAINTAINER "QAL3 developers <qal3-dev@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")
set(QAL3_DEB_RELEASE 1)
set(QAL3_DEB_VERSION ${PROJECT_VERSION}-${QAL3_DEB_RELEASE})

# The Debian architecture of the build (armhf in a cross build).
set(QAL3_DEB_ARCH "")
find_program(QAL3_DPKG_ARCHITECTURE dpkg-architecture)
if(QAL3_DPKG_ARCHITECTURE AND CMAKE_LIBRARY_ARCHITECTURE)
  execute_process(COMMAND ${QAL3_DPKG_ARCHITECTURE} -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE QAL3_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

# qal3_deb_section(COMPONENT section multiarch): the Section field of the
# component's package and its Multi-Arch field, if any. CPack has a setting
# for the latter from CMake 3.27 on; before, the field is written as a line
# of its own after the section.
function(qal3_deb_section comp section multiarch)
  if(multiarch AND CMAKE_VERSION VERSION_LESS 3.27)
    string(APPEND section "\nMulti-Arch: ${multiarch}")
  elseif(multiarch)
    set(CPACK_DEBIAN_${comp}_PACKAGE_MULTIARCH ${multiarch} PARENT_SCOPE)
  endif()
  set(CPACK_DEBIAN_${comp}_PACKAGE_SECTION "${section}" PARENT_SCOPE)
endfunction()

# Package name and the shlibs line of each library component. A library
# package's name carries the major version, as its SONAME does (.so.N,
# qal3_add_library): a new major version renames them all here.
set(so ${PROJECT_VERSION_MAJOR})
set(QAL3_DEB_LIBS evutl QAL3evutl libqal3evutl${so}-standin libqal3evutl${so}
                  xml QAL3XML libqal3xml${so} libqal3xml${so}
                  usertrig QAL3USERTRIG libqal3usertrig${so} libqal3usertrig${so}
                  check QAL3CHECK libqal3check${so} libqal3check${so})
set(QAL3_DEB_DIR ${PROJECT_BINARY_DIR}/deb)
set(QAL3_DEB_SHLIBS_ROOT ${QAL3_DEB_DIR}/shlibs-root)
set(all_shlibs "")
set(lib_files "")
set(QAL3_DEB_LIB_COMPONENTS "")
while(QAL3_DEB_LIBS)
  list(POP_FRONT QAL3_DEB_LIBS comp lib package soname_package)
  list(APPEND QAL3_DEB_LIB_COMPONENTS ${comp})
  string(TOUPPER ${comp} COMP)
  set(line "lib${lib} ${PROJECT_VERSION_MAJOR} ${soname_package} (>= ${PROJECT_VERSION})\n")
  string(APPEND all_shlibs "${line}")
  file(WRITE ${QAL3_DEB_DIR}/${comp}/shlibs "${line}")
  # The library is in the loader's folders: its package activates ldconfig.
  file(WRITE ${QAL3_DEB_DIR}/${comp}/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_${COMP}_PACKAGE_CONTROL_EXTRA
    ${QAL3_DEB_DIR}/${comp}/shlibs ${QAL3_DEB_DIR}/${comp}/triggers)
  set(CPACK_DEBIAN_${COMP}_PACKAGE_NAME ${package})
  qal3_deb_section(${COMP} libs same)
  string(APPEND lib_files "$<TARGET_FILE:${lib}>\n")
endwhile()
file(WRITE ${QAL3_DEB_SHLIBS_ROOT}/DEBIAN/shlibs "${all_shlibs}")
# The libraries of this build under the shlibs root (copied there by
# QAL3PackagingPreBuild.cmake before the packages are made).
file(GENERATE OUTPUT ${QAL3_DEB_DIR}/library-files.txt CONTENT "${lib_files}")

# libQAL3XML reads the Xerces scanner's count of entity expansions (a
# protected member, bounded_parser.h) through the layout of the headers it
# was built with: its package takes the Xerces library of that upstream
# version only, whatever the Debian revision.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)" xerces_version "${XercesC_VERSION}")
if(xerces_version)
  math(EXPR xerces_next_revision "${CMAKE_MATCH_3} + 1")
  set(CPACK_DEBIAN_XML_PACKAGE_DEPENDS
    "libxerces-c${CMAKE_MATCH_1}.${CMAKE_MATCH_2} (>= ${xerces_version}), libxerces-c${CMAKE_MATCH_1}.${CMAKE_MATCH_2} (<< ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${xerces_next_revision}~)")
endif()

set(CPACK_DEBIAN_EVUTL_PACKAGE_PROVIDES "libqal3evutl${so} (= ${QAL3_DEB_VERSION})")
set(CPACK_COMPONENT_EVUTL_DESCRIPTION "QAL3 DAQ event utilities (stand-in library)
This is a stand-in for the site's event-utility library: names of event and
sub-block types, structure kinds, access to channel data in a server block,
and builders of such blocks. A site installs its own library package, which
provides libqal3evutl${so}, in its place.")
set(CPACK_COMPONENT_XML_DESCRIPTION "QAL3 DAQ XML configuration layer
Readers and writers of the DAQ configuration documents over Xerces-C: channel
descriptions, the channel selector, event lists, the environment index
dictionary and GigE camera feature files.")
set(CPACK_COMPONENT_USERTRIG_DESCRIPTION "QAL3 DAQ user trigger engine
User-case triggers: the function and operation registry, evaluation of a
trigger against a block of DAQ data, and trigger lists as XML.")
set(CPACK_COMPONENT_CHECK_DESCRIPTION "QAL3 DAQ configuration document checker
Checks the DAQ configuration documents against their XML Schemas, built
into the library, and against what their readers would take otherwise than
written, each document alone and the documents together; every finding is
a record with its place and a stable code.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqal3-dev)
qal3_deb_section(DEV libdevel same)
# The -dev package holds no program: its dependencies are what its links,
# pkg-config files and CMake package name.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libqal3xml${so} (= ${QAL3_DEB_VERSION}), libqal3usertrig${so} (= ${QAL3_DEB_VERSION}), libqal3check${so} (= ${QAL3_DEB_VERSION}), libqal3evutl${so} (= ${QAL3_DEB_VERSION}), libxerces-c-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "QAL3 DAQ libraries: development files
Headers, shared library links, pkg-config files (QAL3XML, QAL3USERTRIG,
QAL3CHECK, QAL3evutl) and the CMake package (find_package(QAL3)) of the
QAL3 XML configuration layer, the user trigger engine, the document
checker and the event-utility stand-in.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME qal3)
qal3_deb_section(TOOL utils "")
# The libraries the tool reads recordings with (libhdf5, libzip; where the
# build found them, tools/CMakeLists.txt) come into its Depends through
# dpkg-shlibdeps, as Xerces-C does.
set(CPACK_COMPONENT_TOOL_DESCRIPTION "command-line tool for the QAL3 DAQ configuration documents
The qal3 command reads, checks, converts and prints the DAQ configuration
documents, asks the channel selector, and evaluates trigger lists on
spectra and on recordings (HDF5, .npz, .npy). With its manual page, bash
completion and the XML Schemas of the document families.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-qal3)
qal3_deb_section(PYTHON python "")
# What the interpreter needs is no shared library: python/CMakeLists.txt
# names the Python version the module is built for, and numpy.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${QAL3_PYTHON_DEB_DEPENDS}")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/python3-qal3/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "QAL3 DAQ configuration documents and trigger engine for Python 3
The qal3 module reads and writes the DAQ configuration documents as
dataclass records, answers the channel selector's questions and replays
trigger lists over spectra held in numpy arrays.")

# The manual is Debian's usual -doc package: the -dev package stays small
# for build machines, and one package serves every architecture.
set(CPACK_DEBIAN_DOC_PACKAGE_NAME libqal3-doc)
qal3_deb_section(DOC doc foreign)
set(CPACK_DEBIAN_DOC_PACKAGE_ARCHITECTURE all)
set(CPACK_COMPONENT_DOC_DESCRIPTION "QAL3 DAQ libraries: reference manual
The HTML reference of the QAL3 libraries' C and C++ interface, made from
the comments of the public headers, and the reference of the qal3 Python
module.")
if(TARGET qal3-reference)
  # Registered with doc-base, as Debian's documentation packages are.
  set(QAL3_REFERENCE_INSTALL_DIR ${CMAKE_INSTALL_FULL_DOCDIR}/html)
  configure_file(cmake/deb/libqal3-doc.doc-base ${QAL3_DEB_DIR}/doc/doc-base @ONLY)
  install(FILES ${QAL3_DEB_DIR}/doc/doc-base DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc-base
    RENAME libqal3-doc COMPONENT doc EXCLUDE_FROM_ALL)
endif()

set(QAL3_DEB_COMPONENTS ${QAL3_DEB_LIB_COMPONENTS} dev tool)
if(TARGET qal3_core)
  list(APPEND QAL3_DEB_COMPONENTS python)
endif()
if(TARGET qal3-reference)
  list(APPEND QAL3_DEB_COMPONENTS doc)
endif()

# Each package's copyright and changelog, installed by component
# installation only (a plain `cmake --install` leaves them out).
configure_file(cmake/deb/changelog ${QAL3_DEB_DIR}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${QAL3_DEB_DIR}/changelog.Debian.gz
  COMMAND gzip -9nc ${QAL3_DEB_DIR}/changelog.Debian > ${QAL3_DEB_DIR}/changelog.Debian.gz
  DEPENDS ${QAL3_DEB_DIR}/changelog.Debian VERBATIM)
add_custom_target(qal3-deb-changelog ALL DEPENDS ${QAL3_DEB_DIR}/changelog.Debian.gz)
foreach(comp ${QAL3_DEB_COMPONENTS})
  string(TOUPPER ${comp} COMP)
  set(package ${CPACK_DEBIAN_${COMP}_PACKAGE_NAME})
  install(FILES cmake/deb/copyright ${QAL3_DEB_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${comp} EXCLUDE_FROM_ALL)
  # lintian's overrides: the common ones, the libraries' and the component's
  # own (files named by component, so that a new major version renames none).
  set(sources ${PROJECT_SOURCE_DIR}/cmake/deb/lintian-overrides)
  if(comp IN_LIST QAL3_DEB_LIB_COMPONENTS)
    list(APPEND sources ${PROJECT_SOURCE_DIR}/cmake/deb/library.lintian-overrides)
  endif()
  if(EXISTS ${PROJECT_SOURCE_DIR}/cmake/deb/${comp}.lintian-overrides)
    list(APPEND sources ${PROJECT_SOURCE_DIR}/cmake/deb/${comp}.lintian-overrides)
  endif()
  set(overrides "")
  foreach(source ${sources})
    file(READ ${source} text)
    string(APPEND overrides "${text}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
  file(WRITE ${QAL3_DEB_DIR}/${comp}/lintian-overrides "${overrides}")
  install(FILES ${QAL3_DEB_DIR}/${comp}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
    COMPONENT ${comp} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_PACKAGE_NAME qal3)
set(CPACK_PACKAGE_VENDOR "QAL3 developers")
set(CPACK_PACKAGE_CONTACT "${QAL3_PACKAGE_MAINTAINER}")
# Each package's description is its component's: its first line the synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL ${QAL3_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QAL3_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QAL3_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QAL3_DEB_SHLIBS_ROOT}/lib)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(QAL3_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QAL3_DEB_ARCH})
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/QAL3PackagingPreBuild.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${QAL3_DEB_DIR}/project-config.cmake)
file(WRITE ${QAL3_DEB_DIR}/project-config.cmake
  "set(QAL3_DEB_SHLIBS_ROOT \"${QAL3_DEB_SHLIBS_ROOT}\")\n"
  "set(QAL3_DEB_DIR \"${QAL3_DEB_DIR}\")\n")
if(QAL3_DEB_ARCH)
  # dpkg-shlibdeps reads the libraries of the packages' architecture.
  file(APPEND ${QAL3_DEB_DIR}/project-config.cmake "set(ENV{DEB_HOST_ARCH} \"${QAL3_DEB_ARCH}\")\n")
endif()
include(CPack)
