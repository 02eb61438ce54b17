# Run by cmake --install when libtalvor_csharp_api.so is not installed beside
# the assembly: writes talvor_csharp_api.dll.config, whose dllmap leads Mono
# from the assembly's directory to the library. Relative directories are
# below the prefix of this installation.
foreach(_dir _talvor_csharp_assembly_dir _talvor_csharp_library_dir)
  if(NOT IS_ABSOLUTE "${${_dir}}")
    set(${_dir} "${CMAKE_INSTALL_PREFIX}/${${_dir}}")
  endif()
endforeach()
file(RELATIVE_PATH _target "${_talvor_csharp_assembly_dir}"
     "${_talvor_csharp_library_dir}/libtalvor_csharp_api.so")
set(_config "$ENV{DESTDIR}${_talvor_csharp_assembly_dir}/talvor_csharp_api.dll.config")
message(STATUS "Installing: ${_config}")
file(WRITE "${_config}"
     "<configuration>\n  <dllmap dll=\"talvor_csharp_api\" target=\"${_target}\"/>\n</configuration>\n")
