# Read by cpack once for each generator. The .deb takes the program and its manual
# page, and Debian's documentation files (copyright, changelog.gz, README.md) in
# place of LICENSE and CHANGELOG.md; the other packages take what `cmake --install`
# puts in place.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${CPACK_MAVO_BINARY_DIR};mavo;program;/"
      "${CPACK_MAVO_BINARY_DIR};mavo;deb_docs;/")
endif()
