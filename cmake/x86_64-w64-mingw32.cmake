# x86_64 Windows build with mingw-w64. Tests run under wine64, each build
# directory with a Wine prefix of its own so no earlier state leaks in.
set(TALVOR_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(TALVOR_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TALVOR_WINE64)
  find_program(TALVOR_WINE64 wine64)
endif()
if(TALVOR_WINE64)
  set(_talvor_wine_run "${CMAKE_BINARY_DIR}/wine-run.sh")
  file(WRITE "${_talvor_wine_run}"
    "#!/bin/sh\n"
    "# Runs a Windows program of this build under wine64, quietly.\n"
    "WINEPREFIX='${CMAKE_BINARY_DIR}/wineprefix' WINEDEBUG=-all exec '${TALVOR_WINE64}' \"$@\"\n")
  file(CHMOD "${_talvor_wine_run}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_talvor_wine_run}")
endif()
