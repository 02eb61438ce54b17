#!/usr/bin/env bash
# The install test: installs the build into a scratch prefix, as a user
# would, and runs programs built on that installation against a running
# talvor-server.
#
#   run_install_test.sh BUILD_DIR SERVER CMAKE GENERATOR MAKE_PROGRAM CC CXX LIBDIR VERSION FACES
#
# LIBDIR is the build's CMAKE_INSTALL_LIBDIR; FACES is ON when the build
# made the language modules.
#
# 1. `cmake --install BUILD_DIR --prefix STAGE`, then the tree is moved to
#    PREFIX: a path written at install time would show. The installed text
#    files must not name the build tree, the source tree or STAGE, and no
#    static library may be installed.
# 2. Checks, each against a server of its own on a fresh demo application
#    (so a check may change the data):
#      c    c_client.c, built with the compiler and `pkg-config --cflags
#           --libs talvor`, run with LD_LIBRARY_PATH (no RPATH: the way a
#           pkg-config user with a private prefix runs it);
#      cxx  consumer/, a CMake project with find_package(talvor), run
#           without LD_LIBRARY_PATH: it relies on the RPATH CMake gives
#           programs linked to imported libraries, and must load the
#           library from PREFIX;
#      then every check_*.sh beside this script, in name order.
#
# The contract for check_*.sh (the language modules add theirs here without
# touching this script):
#   - run with bash, working directory TALVOR_CHECK_DIR, a fresh empty
#     directory of its own;
#   - exit 0 when the check passes, 77 when what it needs is not there
#     (an interpreter, or a module the build did not make: see
#     TALVOR_BUILD_FACES), anything else when it fails; the output is shown
#     either way;
#   - environment:
#       PREFIX                 the installation (bin/, include/, lib/...)
#       TALVOR_LIBDIR          PREFIX's library directory (libtalvor_shared_api.so*)
#       TALVOR_INCLUDEDIR      PREFIX's header directory (talvor/api.h, talvor/talvor.h)
#       PKG_CONFIG_PATH        TALVOR_LIBDIR/pkgconfig
#       CMAKE_PREFIX_PATH      PREFIX
#       TALVOR_VERSION         the library's version
#       TALVOR_SERVER_ADDRESS  "HOST:PORT:NOTIFY_PORT", what a connect takes
#       TALVOR_DEMO_DIR        the server's data directory (DEMO_APP.db in it)
#       TALVOR_DEMO_APP        the demo application's name
#       TALVOR_DEMO_USER, TALVOR_DEMO_PASSWORD   a user of level 2 (everything)
#       TALVOR_DEMO_FORM, TALVOR_DEMO_FIELD      a form and one of its fields
#       TALVOR_DEMO_SEARCH     a search text on that form
#       TALVOR_DEMO_TOTAL      how many records it finds
#       TALVOR_DEMO_LAST_VALUE the field's value in the last record found
#       TALVOR_BUILD_DIR, TALVOR_SOURCE_DIR      the build and source trees
#       TALVOR_BUILD_FACES     ON when the build made (and installs) the
#                              language modules, OFF when it did not
#       TALVOR_CC, TALVOR_CXX, TALVOR_CMAKE      the build's tools
#     LD_LIBRARY_PATH is not set: a check that needs it sets it, as its
#     users would.
# The expected total and value are read from the demo database with sqlite3,
# not written down here.
set -euo pipefail

if [ $# -ne 10 ]; then
  echo "usage: $0 BUILD_DIR SERVER CMAKE GENERATOR MAKE_PROGRAM CC CXX LIBDIR VERSION FACES" >&2
  exit 2
fi
build_dir=$1 server=$2 cmake=$3 generator=$4 make_program=$5 cc=$6 cxx=$7 libdir=$8 version=$9
faces=${10}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/talvor-install.XXXXXX")
server_pid=
server_fd=
check_pid=

stop_check() {
  if [ -n "$check_pid" ]; then
    kill -TERM -- "-$check_pid" 2>/dev/null || true
    wait "$check_pid" 2>/dev/null || true
    check_pid=
  fi
}
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
  if [ -n "$server_fd" ]; then
    exec {server_fd}<&-
    server_fd=
  fi
}
cleanup() {
  stop_check
  stop_server
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

die() {
  echo "install test: $*" >&2
  exit 1
}

# --- 1. Install, move, inspect.
stage=$scratch/stage
prefix=$scratch/prefix
"$cmake" --install "$build_dir" --prefix "$stage" || die "cmake --install failed"
mv "$stage" "$prefix"
lib_dir=$prefix/$libdir
include_dir=$prefix/include

[ -f "$lib_dir/pkgconfig/talvor.pc" ] || die "no $libdir/pkgconfig/talvor.pc"
[ -f "$lib_dir/cmake/talvor/talvor-config.cmake" ] || die "no $libdir/cmake/talvor/talvor-config.cmake"
[ -f "$include_dir/talvor/talvor.h" ] || die "no include/talvor/talvor.h"

leaks=$(grep -rlF -e "$build_dir" -e "$source_dir" -e "$stage" \
          --include='*.pc' --include='*.cmake' --include='*.h' "$prefix" || true)
[ -z "$leaks" ] || die "installed files name the build, source or staging tree: $leaks"
archives=$(find "$prefix" -name '*.a')
[ -z "$archives" ] || die "static libraries installed: $archives"

# --- 2. The checks.
demo_user=
demo_password=
demo_app=demo
demo_form=customers
demo_field=name
demo_search='credit_limit>=5000'
demo_where='credit_limit >= 5000'

# start_server DIR: a fresh demo application in DIR and a server on it; sets
# the TALVOR_* values of the contract.
start_server() {
  local dir=$1 line
  mkdir -p "$dir"
  "$server" --init-demo "$dir" >"$dir.users" || die "talvor-server --init-demo failed"
  [ -f "$dir/$demo_app.db" ] || die "the demo is not $demo_app.db: $(ls "$dir")"
  # The user of level 2, from the lines "  NAME password PASSWORD level N".
  read -r demo_user demo_password < <(awk '$2 == "password" && $4 == "level" && $5 == 2 { print $1, $3; exit }' "$dir.users") || true
  [ -n "$demo_user" ] || die "no user of level 2 in: $(cat "$dir.users")"
  demo_total=$(sqlite3 "$dir/$demo_app.db" "SELECT count(*) FROM $demo_form WHERE $demo_where")
  demo_last=$(sqlite3 "$dir/$demo_app.db" \
    "SELECT $demo_field FROM $demo_form WHERE $demo_where ORDER BY rowid DESC LIMIT 1")
  [ "${demo_total:-0}" -gt 1 ] || die "the demo search finds ${demo_total:-nothing}; it should find several"

  exec {server_fd}< <(exec "$server" --data "$dir" --port 0)
  server_pid=$!
  IFS= read -r line <&"$server_fd" || die "talvor-server ended before it listened"
  case $line in
    "listening on "*) server_address=${line#listening on } ;;
    *) die "talvor-server said \"$line\", not \"listening on ADDRESS\"" ;;
  esac
}

# run_check NAME COMMAND...: runs one check in a fresh directory against a
# server of its own.
passed=() skipped=() failed=()
run_check() {
  local name=$1 status
  shift
  local work=$scratch/check-$name
  mkdir -p "$work/run"
  start_server "$work/data"
  echo "=== check $name (server $server_address)"
  # The check runs as a process group of its own, waited for in the
  # background: a signal to this script is handled at once, and cleanup
  # ends the check with everything it started.
  set -m
  (
    cd "$work/run"
    export PREFIX=$prefix TALVOR_LIBDIR=$lib_dir TALVOR_INCLUDEDIR=$include_dir
    export PKG_CONFIG_PATH=$lib_dir/pkgconfig CMAKE_PREFIX_PATH=$prefix TALVOR_VERSION=$version
    export TALVOR_SERVER_ADDRESS=$server_address TALVOR_DEMO_DIR=$work/data
    export TALVOR_DEMO_APP=$demo_app TALVOR_DEMO_USER=$demo_user TALVOR_DEMO_PASSWORD=$demo_password
    export TALVOR_DEMO_FORM=$demo_form TALVOR_DEMO_FIELD=$demo_field TALVOR_DEMO_SEARCH=$demo_search
    export TALVOR_DEMO_TOTAL=$demo_total TALVOR_DEMO_LAST_VALUE=$demo_last
    export TALVOR_BUILD_DIR=$build_dir TALVOR_SOURCE_DIR=$source_dir TALVOR_CHECK_DIR=$work/run
    export TALVOR_BUILD_FACES=$faces
    export TALVOR_CC=$cc TALVOR_CXX=$cxx TALVOR_CMAKE=$cmake
    unset LD_LIBRARY_PATH
    "$@"
  ) </dev/null &
  check_pid=$!
  set +m
  status=0
  wait "$check_pid" || status=$?
  check_pid=
  stop_server
  case $status in
    0) passed+=("$name") ;;
    77) skipped+=("$name") ; echo "--- $name skipped" ;;
    *) failed+=("$name") ; echo "--- $name FAILED (exit $status)" ;;
  esac
}

client_arguments() {
  printf '%s\n' "$TALVOR_SERVER_ADDRESS" "$TALVOR_DEMO_APP" "$TALVOR_DEMO_FORM" "$TALVOR_DEMO_USER" \
    "$TALVOR_DEMO_PASSWORD" "$TALVOR_DEMO_SEARCH" "$TALVOR_DEMO_FIELD" "$TALVOR_DEMO_TOTAL" \
    "$TALVOR_DEMO_LAST_VALUE"
}

check_c() (
  set -euo pipefail
  pkg-config --exists "talvor >= $TALVOR_VERSION" || { echo "pkg-config finds no talvor >= $TALVOR_VERSION"; exit 1; }
  # shellcheck disable=SC2046 # pkg-config's flags are meant to be split
  "$TALVOR_CC" -std=c99 -pedantic -Wall -Wextra -Werror $(pkg-config --cflags talvor) \
    "$here/c_client.c" $(pkg-config --libs talvor) -o c_client
  # The program must name the library by its SONAME, so a new minor release replaces it.
  readelf -d c_client | grep -qF '[libtalvor_shared_api.so.0]' ||
    { echo "c_client does not need libtalvor_shared_api.so.0:"; readelf -d c_client; exit 1; }
  mapfile -t arguments < <(client_arguments)
  LD_LIBRARY_PATH=$TALVOR_LIBDIR ./c_client "${arguments[@]}"
)

check_cxx() (
  set -euo pipefail
  "$TALVOR_CMAKE" -S "$here/consumer" -B build -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
    -DCMAKE_CXX_COMPILER="$TALVOR_CXX" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DTALVOR_EXPECTED_VERSION="$TALVOR_VERSION" >/dev/null
  found=$(sed -n 's/^talvor_DIR:PATH=//p' build/CMakeCache.txt)
  [ "$found" = "$TALVOR_LIBDIR/cmake/talvor" ] || { echo "find_package used $found"; exit 1; }
  "$TALVOR_CMAKE" --build build
  loaded=$(ldd build/cxx_client | grep libtalvor_shared_api || true)
  case $loaded in
    *"=> $TALVOR_LIBDIR/libtalvor_shared_api.so.0 "*) ;;
    *) echo "cxx_client does not load the installed library: $loaded"; exit 1 ;;
  esac
  mapfile -t arguments < <(client_arguments)
  build/cxx_client "${arguments[@]}"
)

run_check c check_c
run_check cxx check_cxx
for script in "$here"/check_*.sh; do
  [ -e "$script" ] || continue
  name=$(basename "$script" .sh)
  run_check "${name#check_}" bash "$script"
done

echo "=== passed: ${passed[*]:-none}; skipped: ${skipped[*]:-none}; failed: ${failed[*]:-none}"
[ ${#failed[@]} -eq 0 ]
