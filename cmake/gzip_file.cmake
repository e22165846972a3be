# Compresses IN into OUT with GZIP at its best level, leaving the file's name and
# time out of the header: cmake -DGZIP=... -DIN=... -DOUT=... -P gzip_file.cmake
execute_process(COMMAND ${GZIP} -9 -n -c INPUT_FILE ${IN} OUTPUT_FILE ${OUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "${GZIP} could not compress ${IN}: ${status}")
endif()
