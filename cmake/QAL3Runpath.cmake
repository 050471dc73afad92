# Run paths of the installed programs and libraries.
#
# CMake's usual way, a build-tree run path rewritten in place on
# installation, pads the build-tree entry with ':' to make room; glibc reads
# each empty entry as the current folder, so build-tree programs would load
# libraries from wherever they are started. Instead, a target is linked with
# one $ORIGIN entry that is right in the build tree, padded with '/' (the
# same folder) to the length of the installed entry, and its installed copy
# is given the installed entry (or none, below a system library folder).

# True when the installed libraries land in a folder the loader searches.
set(QAL3_SYSTEM_LIBDIR OFF)
set(system_dirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} /usr/lib /lib)
if(CMAKE_LIBRARY_ARCHITECTURE)
  list(APPEND system_dirs /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST system_dirs)
  set(QAL3_SYSTEM_LIBDIR ON)
endif()

# qal3_runpath(TARGET t BUILD rel INSTALL rel DESTINATION dir COMPONENT c)
# BUILD and INSTALL are the folders of the project's libraries relative to
# the target's own folder in the build tree and once installed in DESTINATION
# (below the installation prefix); "" is the target's own folder.
function(qal3_runpath)
  cmake_parse_arguments(ARG "" "TARGET;BUILD;INSTALL;DESTINATION;COMPONENT" "" ${ARGN})
  set(build "\$ORIGIN")
  if(ARG_BUILD)
    string(APPEND build "/${ARG_BUILD}")
  endif()
  set(install "\$ORIGIN")
  if(ARG_INSTALL)
    string(APPEND install "/${ARG_INSTALL}")
  endif()
  if(NOT QAL3_SYSTEM_LIBDIR)
    string(LENGTH "${build}" build_length)
    string(LENGTH "${install}" install_length)
    while(build_length LESS install_length)
      string(APPEND build "/")
      math(EXPR build_length "${build_length} + 1")
    endwhile()
  endif()
  set_target_properties(${ARG_TARGET} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${build}")
  set(file "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ARG_DESTINATION}/$<TARGET_FILE_NAME:${ARG_TARGET}>")
  if(QAL3_SYSTEM_LIBDIR)
    install(CODE "file(RPATH_REMOVE FILE \"${file}\")" COMPONENT ${ARG_COMPONENT})
  else()
    install(CODE "file(RPATH_SET FILE \"${file}\" NEW_RPATH \"${install}\")" COMPONENT ${ARG_COMPONENT})
  endif()
endfunction()
