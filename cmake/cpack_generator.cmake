# Read by cpack once for each generator. The .deb takes the program and its manual
# page, Debian's documentation files (copyright, changelog.gz, README.md) in place
# of LICENSE and CHANGELOG.md, and lintian's overrides; the other packages take what
# `cmake --install` puts in place.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${CPACK_MAVO_BINARY_DIR};mavo;program;/"
      "${CPACK_MAVO_BINARY_DIR};mavo;deb_extras;/")
endif()
