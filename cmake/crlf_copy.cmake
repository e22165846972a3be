# Copies the text file IN to OUT with CR LF line ends: every LF gets a CR before it
# unless it has one already; a lone CR and every other byte (cp1251, UTF-8) stay as
# they are, so a file that is CR LF throughout is copied byte for byte. (CMake reads
# and writes the file's bytes unchanged; the texts hold no NUL byte.)
#   cmake -DIN=... -DOUT=... -P crlf_copy.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
