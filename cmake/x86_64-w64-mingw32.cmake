# x86_64 Windows build with mingw-w64 (Debian's posix thread model compilers,
# which have std::thread and std::mutex). The runtime is linked statically so
# every program and DLL stands alone. Tests run under wine64, each build
# directory with a Wine prefix of its own so no earlier state leaks in.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

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
