# The library's public functions under the names of their exact parameter
# types, checked the way a caller meets them: by compiling and linking.
#
#   cmake -DCXX=... -DCXX_FLAGS=... -DLINK_FLAGS=... -DINCLUDE_DIR=...
#         -DLIBRARY_FILE=... -DNM=... -DCXXFILT=... -DAPI_LIST=...
#         -DSOURCE_DIR=... -DWORK_DIR=... -P check_symbols.cmake
#
# 1. symbols_probe.cpp takes each function's address as its exact type; the
#    names the compiler references there must all be defined in the library,
#    and every function of the list of public functions must be among them.
# 2. The probe links against the library.
# 3. For each caller of link_caller.cpp: declared with char* it links; the
#    same caller declared with const char* fails, and the linker names the
#    const char* function as undefined. The char* run shows the library is
#    found, so the const char* failure cannot come from anything else.
#
# CXX_FLAGS and LINK_FLAGS carry the variant's flags (-m32, sanitizers), so
# the programs are built for the library's architecture.
cmake_minimum_required(VERSION 3.25)

foreach(var CXX INCLUDE_DIR LIBRARY_FILE NM CXXFILT API_LIST SOURCE_DIR WORK_DIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_symbols: -D${var}=... is missing")
  endif()
endforeach()
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")
get_filename_component(library_dir "${LIBRARY_FILE}" DIRECTORY)
set(library_link -L${library_dir} -ltalvor_shared_api)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

set(failures "")
function(fail text)
  set(failures "${failures}  ${text}\n" PARENT_SCOPE)
endfunction()

# run(<prefix> command...): sets <prefix>_rc and <prefix>_out (stdout and
# stderr together).
function(run prefix)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${prefix}_rc "${rc}" PARENT_SCOPE)
  set(${prefix}_out "${out}" PARENT_SCOPE)
endfunction()

# The Talvor functions an object file refers to, as mangled names.
function(referenced_talvor_names object out_var)
  run(nm "${NM}" -u "${object}")
  if(NOT nm_rc EQUAL 0)
    message(FATAL_ERROR "check_symbols: ${NM} -u ${object} failed:\n${nm_out}")
  endif()
  string(REGEX MATCHALL "_Z[0-9]+Talvor[A-Za-z0-9_]*" names "${nm_out}")
  list(REMOVE_DUPLICATES names)
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

function(demangled name out_var)
  run(filt "${CXXFILT}" "${name}")
  string(STRIP "${filt_out}" text)
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

function(compile source object)
  run(cc "${CXX}" ${cxx_flags} ${ARGN} "-I${INCLUDE_DIR}" -c "${source}" -o "${object}")
  if(NOT cc_rc EQUAL 0)
    message(FATAL_ERROR "check_symbols: compiling ${source} ${ARGN} failed:\n${cc_out}")
  endif()
endfunction()

# --- 1. The exact names are defined in the library.
compile("${SOURCE_DIR}/symbols_probe.cpp" probe.o)
referenced_talvor_names(probe.o probe_names)

file(READ "${API_LIST}" list_text)
string(REGEX REPLACE "//[^\n]*" "" list_text "${list_text}")
string(REGEX MATCHALL "TALVOR_API\\([^,]*,[ \t\r\n]*[A-Za-z]+" entries "${list_text}")
if(entries STREQUAL "")
  message(FATAL_ERROR "check_symbols: no TALVOR_API entries in ${API_LIST}")
endif()
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*,[ \t\r\n]*" "" op "${entry}")
  string(LENGTH "Talvor${op}" length)
  if(NOT probe_names MATCHES "(^|;)_Z${length}Talvor${op}[^;]*")
    fail("Talvor${op}: in the list of public functions but not taken by symbols_probe.cpp")
  endif()
endforeach()

run(dyn "${NM}" -D --defined-only "${LIBRARY_FILE}")
if(NOT dyn_rc EQUAL 0)
  message(FATAL_ERROR "check_symbols: ${NM} -D ${LIBRARY_FILE} failed:\n${dyn_out}")
endif()
foreach(name IN LISTS probe_names)
  demangled("${name}" signature)
  if(dyn_out MATCHES " [TW] ${name}(\n|$)")
    message(STATUS "exported: ${name}  ${signature}")
  else()
    fail("${name} (${signature}) is not exported by ${LIBRARY_FILE}")
  endif()
endforeach()

# --- 2. The probe links.
run(probe_link "${CXX}" ${link_flags} probe.o ${library_link} -o probe)
if(NOT probe_link_rc EQUAL 0)
  fail("symbols_probe does not link against the library:\n${probe_link_out}")
endif()

# --- 3. Each caller links with char* and not with const char*.
foreach(caller CONNECT GET_VALUE SEARCH_PASSWORD)
  string(TOLOWER "${caller}" base)
  compile("${SOURCE_DIR}/link_caller.cpp" ${base}_char.o -DCALLER_${caller} "-DTEXT=char")
  run(good "${CXX}" ${link_flags} ${base}_char.o ${library_link} -o ${base}_char)
  if(NOT good_rc EQUAL 0)
    fail("${caller} with char* does not link:\n${good_out}")
    continue()
  endif()

  compile("${SOURCE_DIR}/link_caller.cpp" ${base}_const.o -DCALLER_${caller} "-DTEXT=const char")
  referenced_talvor_names(${base}_const.o const_names)
  list(LENGTH const_names count)
  if(NOT count EQUAL 1)
    fail("${caller} with const char*: expected one Talvor reference, found '${const_names}'")
    continue()
  endif()
  demangled("${const_names}" const_signature)
  run(bad "${CXX}" ${link_flags} ${base}_const.o ${library_link} -o ${base}_const)
  string(FIND "${bad_out}" "${const_signature}" at_demangled)
  string(FIND "${bad_out}" "${const_names}" at_mangled)
  if(bad_rc EQUAL 0)
    fail("${caller} declared as ${const_signature} links, but the library must not export it")
  elseif(NOT bad_out MATCHES "undefined reference" OR (at_demangled EQUAL -1 AND at_mangled EQUAL -1))
    fail("${caller} with const char* failed to link for another reason than ${const_signature}:\n${bad_out}")
  else()
    message(STATUS "refused as it should be: ${const_signature}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "check_symbols:\n${failures}")
endif()
