# Writes the public functions of core/api_list.h as SWIG declarations in the
# order the language modules register them: OUTPUT with unnamed parameters
# (so generated usage texts show types, as "TalvorClose(int);"), and
# NAMED_OUTPUT with the list's parameter names, for languages whose
# generated methods show them (Java, C#).
#
#   talvor_generate_swig_api(OUTPUT file NAMED_OUTPUT file)
#
# The order is the faces' own; the set of functions comes from the list, and
# configuring fails if the two ever differ, so the modules cannot drift from
# the library.
set(TALVOR_FACE_ORDER
  Search Close SetCurrentPosition GetCurrentPosition Total Sort Locked GetValue SetValue
  CreateNewRecord RemoveRecord DeleteRecord RunProgram SubSet Parent Connect Disconnect Reparent
  # Beyond the traditional 18: the last-error code, so that a failed call
  # without a result can be seen.
  Error)

function(talvor_generate_swig_api)
  cmake_parse_arguments(G "" "OUTPUT;NAMED_OUTPUT" "" ${ARGN})
  set(list_file ${PROJECT_SOURCE_DIR}/core/api_list.h)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(READ ${list_file} text)
  # Drop comments, then join the entries' lines.
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "[\n\r\t ]+" " " text "${text}")
  string(REGEX MATCHALL "TALVOR_API\\(([^()]*)\\(([^()]*)\\)" entries "${text}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "TALVOR_API\\(([^,]+), *([A-Za-z]+), *\\(([^()]*)\\)" _ "${entry}")
    set(result "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    set(params "${CMAKE_MATCH_3}")
    string(STRIP "${result}" result)
    # Each parameter loses its name: "char *field" -> "char *".
    set(types)
    if(NOT params STREQUAL "")
      string(REPLACE "," ";" param_list "${params}")
      foreach(p IN LISTS param_list)
        string(REGEX REPLACE "[A-Za-z_][A-Za-z0-9_]* *$" "" t "${p}")
        string(STRIP "${t}" t)
        list(APPEND types "${t}")
      endforeach()
    endif()
    string(REPLACE ";" ", " types "${types}")
    set(decl_${name} "${result} Talvor${name}(${types});")
    string(REPLACE "* Talvor" "*Talvor" decl_${name} "${decl_${name}}")
    string(STRIP "${params}" params)
    set(named_${name} "${result} Talvor${name}(${params});")
    string(REPLACE "* Talvor" "*Talvor" named_${name} "${named_${name}}")
    list(APPEND names ${name})
  endforeach()

  set(expected ${TALVOR_FACE_ORDER})
  list(SORT expected)
  set(found ${names})
  list(SORT found)
  if(NOT expected STREQUAL found)
    message(FATAL_ERROR "core/api_list.h lists ${found}, but the faces register ${expected}")
  endif()

  foreach(kind IN ITEMS decl named)
    set(out "// Generated from core/api_list.h by cmake/TalvorSwigApi.cmake: do not edit.\n")
    string(APPEND out "// The public functions, in the order the modules register them.\n")
    foreach(name IN LISTS TALVOR_FACE_ORDER)
      string(APPEND out "${${kind}_${name}}\n")
    endforeach()
    if(kind STREQUAL decl)
      file(CONFIGURE OUTPUT ${G_OUTPUT} CONTENT "${out}" @ONLY)
    else()
      file(CONFIGURE OUTPUT ${G_NAMED_OUTPUT} CONTENT "${out}" @ONLY)
    endif()
  endforeach()
endfunction()
