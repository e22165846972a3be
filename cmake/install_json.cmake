# The JSON library's headers for mavo-check (Debian's nlohmann-json3-dev, header
# only, so that the Windows cross build uses the same copy). With MAVO_INSTALL_DEPS
# (set by the presets, so that the README's commands work on a fresh machine) a
# missing package is installed with apt-get, as root or through a sudo that asks
# nothing; otherwise the configure step stops and names the package.
option(MAVO_INSTALL_DEPS "Install missing Debian packages that the build needs with apt-get" OFF)

function(mavo_find_json out)
  find_path(MAVO_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT MAVO_NLOHMANN_JSON_INCLUDE AND MAVO_INSTALL_DEPS)
    find_program(MAVO_APT_GET apt-get)
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(as_root)
    if(NOT uid STREQUAL "0")
      set(as_root sudo -n)
    endif()
    if(MAVO_APT_GET)
      message(STATUS "Installing nlohmann-json3-dev with apt-get")
      execute_process(COMMAND ${as_root} ${MAVO_APT_GET} update -q OUTPUT_QUIET)
      execute_process(COMMAND ${as_root} env DEBIAN_FRONTEND=noninteractive ${MAVO_APT_GET}
                              install -y -q --no-install-recommends nlohmann-json3-dev OUTPUT_QUIET)
      unset(MAVO_NLOHMANN_JSON_INCLUDE CACHE)
      find_path(MAVO_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
    endif()
  endif()
  if(NOT MAVO_NLOHMANN_JSON_INCLUDE)
    message(FATAL_ERROR "mavo-check needs the JSON library's headers: apt-get install nlohmann-json3-dev")
  endif()
  # The library's folder alone, copied into the build folder: its include path must
  # not be the host's /usr/include, whose C headers would shadow the cross
  # compiler's own in the Windows build.
  file(COPY ${MAVO_NLOHMANN_JSON_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/json-include)
  set(${out} ${CMAKE_BINARY_DIR}/json-include PARENT_SCOPE)
endfunction()
