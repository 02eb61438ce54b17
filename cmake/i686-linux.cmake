# i686 build on an x86_64 host with g++ -m32. Some hosts' kernels cannot
# execute 32-bit programs, so tests run under qemu-i386 (user-mode emulation).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
find_program(TALVOR_QEMU_I386 qemu-i386)
if(TALVOR_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVOR_QEMU_I386})
endif()
