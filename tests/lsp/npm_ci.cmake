# The LSP client libraries for the end-to-end tests, as package-lock.json pins
# them: `npm ci` in the build folder, once for each version of the lock.
# -DNPM=... -DSOURCE=<tests/lsp> -DWORK=<folder>
file(MAKE_DIRECTORY ${WORK})
file(SHA256 ${SOURCE}/package-lock.json lock_hash)
set(stamp ${WORK}/node_modules/.mavo-lock)
if(EXISTS ${stamp})
  file(READ ${stamp} installed)
  if(installed STREQUAL lock_hash)
    return()
  endif()
endif()
configure_file(${SOURCE}/package.json ${WORK}/package.json COPYONLY)
configure_file(${SOURCE}/package-lock.json ${WORK}/package-lock.json COPYONLY)
execute_process(COMMAND ${NPM} ci --no-audit --no-fund --ignore-scripts WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "npm ci failed in ${WORK}")
endif()
file(WRITE ${stamp} ${lock_hash})
