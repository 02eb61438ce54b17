# What both Windows toolchain files share: Debian's mingw-w64 compilers of
# the posix thread model (they have std::thread and std::mutex) for
# TALVOR_MINGW_PROCESSOR (i686 or x86_64), and the runtime linked statically
# so every program and DLL stands alone.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TALVOR_MINGW_PROCESSOR})
set(_talvor_triple ${TALVOR_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${_talvor_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_talvor_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_talvor_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_talvor_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
