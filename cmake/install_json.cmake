# Debian packages that the build needs and lacks. With MAVO_INSTALL_DEPS (set by
# the presets, so that the README's commands work on a fresh machine) a missing
# package is installed with apt-get, as root or through a sudo that asks nothing;
# where neither is possible the caller says what to install.
option(MAVO_INSTALL_DEPS "Install missing Debian packages that the build needs with apt-get" OFF)

# Installs `package` with apt-get when MAVO_INSTALL_DEPS is on and apt-get is there;
# the caller looks again for what it needs. The lists are updated once a configure run.
function(mavo_apt_get_install package)
  if(NOT MAVO_INSTALL_DEPS)
    return()
  endif()
  find_program(MAVO_APT_GET apt-get)
  if(NOT MAVO_APT_GET)
    return()
  endif()
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(as_root)
  if(NOT uid STREQUAL "0")
    find_program(MAVO_SUDO sudo)
    if(NOT MAVO_SUDO)
      return()
    endif()
    set(as_root ${MAVO_SUDO} -n)
  endif()
  message(STATUS "Installing ${package} with apt-get")
  get_property(updated GLOBAL PROPERTY MAVO_APT_UPDATED)
  if(NOT updated)
    execute_process(COMMAND ${as_root} ${MAVO_APT_GET} update -q OUTPUT_QUIET)
    set_property(GLOBAL PROPERTY MAVO_APT_UPDATED TRUE)
  endif()
  execute_process(COMMAND ${as_root} env DEBIAN_FRONTEND=noninteractive ${MAVO_APT_GET}
                          install -y -q --no-install-recommends ${package} OUTPUT_QUIET)
endfunction()

# The JSON library's headers for mavo-check (Debian's nlohmann-json3-dev, header
# only, so that the Windows cross build uses the same copy): installed when missing
# (see above), or the configure step stops and names the package.
function(mavo_find_json out)
  find_path(MAVO_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT MAVO_NLOHMANN_JSON_INCLUDE AND MAVO_INSTALL_DEPS)
    mavo_apt_get_install(nlohmann-json3-dev)
    unset(MAVO_NLOHMANN_JSON_INCLUDE CACHE)
    find_path(MAVO_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
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
