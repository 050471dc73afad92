# Installs the build tree into a scratch prefix, moves the installation to
# another folder, and builds the C++ example (QAL3_CONSUMER_SOURCE) against
# it twice, as the README tells: with find_package(QAL3) through
# CMAKE_PREFIX_PATH, and with pkg-config (USE_PKG_CONFIG) through
# PKG_CONFIG_PATH alone; each build's program (QAL3_CONSUMER_PROGRAM) runs
# with QAL3_CONSUMER_ARGS. The move shows that neither the CMake package nor the
# pkg-config files hold the prefix they were installed at.
# A cross build passes its toolchain file (QAL3_TOOLCHAIN_FILE), the
# emulator that runs its programs (QAL3_LAUNCHER, a command line) and its
# multiarch folder name (QAL3_LIBRARY_ARCHITECTURE), where pkg-config finds
# the target's own packages (xerces-c) instead of the host's.
file(REMOVE_RECURSE ${QAL3_WORK_DIR})
set(prefix ${QAL3_WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${QAL3_BINARY_DIR} --prefix ${QAL3_WORK_DIR}/installed
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
file(RENAME ${QAL3_WORK_DIR}/installed ${prefix})

set(toolchain)
if(QAL3_TOOLCHAIN_FILE)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${QAL3_TOOLCHAIN_FILE})
  if(QAL3_LIBRARY_ARCHITECTURE)
    set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QAL3_LIBRARY_ARCHITECTURE}/pkgconfig:/usr/share/pkgconfig)
  endif()
endif()
separate_arguments(launcher UNIX_COMMAND "${QAL3_LAUNCHER}")

# consume(NAME [cmake options...]): configures, builds and runs one build of the example.
function(consume name)
  set(dir ${QAL3_WORK_DIR}/${name})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${QAL3_CONSUMER_SOURCE} -B ${dir} ${toolchain} ${ARGN}
    RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${name}: configure of the example failed: ${rc}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${name}: build of the example failed: ${rc}")
  endif()
  execute_process(COMMAND ${launcher} ${dir}/${QAL3_CONSUMER_PROGRAM} ${QAL3_CONSUMER_ARGS} RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "${name}: the example built against the installation failed: ${rc}")
  endif()
endfunction()

consume(find-package -DCMAKE_PREFIX_PATH=${prefix})
set(ENV{PKG_CONFIG_PATH} ${prefix}/${QAL3_INSTALL_LIBDIR}/pkgconfig)
consume(pkg-config -DUSE_PKG_CONFIG=ON)
