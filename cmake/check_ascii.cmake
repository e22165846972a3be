# cmake -DFILE=<path> -P check_ascii.cmake: fails unless every byte of the file is
# ASCII (0x00 to 0x7F), that is unless every byte's high hex digit is 0 to 7.
file(READ "${FILE}" hex HEX)
string(REGEX REPLACE "(.)." "\\1" high "${hex}")
if(high MATCHES "[89a-f]")
  message(FATAL_ERROR "${FILE} holds bytes beyond ASCII")
endif()
