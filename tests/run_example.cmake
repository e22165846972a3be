# Runs mavo on a script in a fresh folder and compares the written mavo.qst with
# the expected bytes. Called as: cmake -DMAVO=... -DSCRIPT=... -DEXPECTED=... -DWORK=... -P
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${EMULATOR} "${MAVO}" "${SCRIPT}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "")
  message(FATAL_ERROR "mavo ended with status ${status}, stdout '${out}', stderr '${err}'")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/mavo.qst" "${EXPECTED}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${WORK}/mavo.qst differs from ${EXPECTED}")
endif()
file(REMOVE_RECURSE "${WORK}")
