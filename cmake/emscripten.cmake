# Toolchain of the "web" preset: Debian's emscripten (packages emscripten and
# node-acorn, installed with apt-get when missing, as root or through a sudo that
# asks nothing). Its JavaScript optimizer loads acorn from Debian's node modules,
# which a node not of Debian's does not search: NODE_PATH names them, for the
# configure step here and for every link through the launcher below.
set(MAVO_EMSCRIPTEN_TOOLCHAIN /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
if(NOT EXISTS ${MAVO_EMSCRIPTEN_TOOLCHAIN} OR NOT EXISTS /usr/share/nodejs/acorn)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(as_root)
  if(NOT uid STREQUAL "0")
    set(as_root sudo -n)
  endif()
  message(STATUS "Installing emscripten and node-acorn with apt-get")
  execute_process(COMMAND ${as_root} apt-get update -q OUTPUT_QUIET)
  execute_process(COMMAND ${as_root} env DEBIAN_FRONTEND=noninteractive apt-get
                          install -y -q --no-install-recommends emscripten node-acorn OUTPUT_QUIET)
  if(NOT EXISTS ${MAVO_EMSCRIPTEN_TOOLCHAIN})
    message(FATAL_ERROR "The web build needs emscripten: apt-get install emscripten node-acorn")
  endif()
endif()
set(ENV{NODE_PATH} /usr/share/nodejs)
include(${MAVO_EMSCRIPTEN_TOOLCHAIN})
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
