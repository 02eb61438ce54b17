# i686 Windows build with mingw-w64. These machines cannot execute 32-bit
# code, so there is no emulator: the build is compiled and checked, not run.
set(TALVOR_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
