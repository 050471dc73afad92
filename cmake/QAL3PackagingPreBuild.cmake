# Run by cpack before the packages are made: the libraries of this build go
# under the shlibs root, whose DEBIAN/shlibs names their packages, so that
# dpkg-shlibdeps turns a program's need of one of them into a dependency on
# its package.
file(REMOVE_RECURSE ${QAL3_DEB_SHLIBS_ROOT}/lib)
file(MAKE_DIRECTORY ${QAL3_DEB_SHLIBS_ROOT}/lib)
file(STRINGS ${QAL3_DEB_DIR}/library-files.txt libraries)
foreach(library ${libraries})
  execute_process(COMMAND readelf -d ${library} OUTPUT_VARIABLE dynamic)
  string(REGEX MATCH "Library soname: \\[([^]]+)\\]" _ "${dynamic}")
  file(COPY_FILE ${library} ${QAL3_DEB_SHLIBS_ROOT}/lib/${CMAKE_MATCH_1})
endforeach()
