#!/usr/bin/env bash
# What the Java module's library promises the JVM that loads it:
#   - it exports the JNI entry points of the class talvor_java_apiJNI, one
#     for each public function of core/api_list.h, and nothing else; its own
#     copy of the client core stays inside (it never binds to another copy's
#     symbols, nor a host's to it) and it needs no Talvor symbol from outside;
#   - it is never unloaded (NODELETE): the JVM unloads a native library with
#     the class loader that loaded it, and a communications thread may still
#     be running the library's code.
#   check_exports.sh NM READELF LIBRARY API_LIST
set -euo pipefail
nm=$1
readelf=$2
library=$3
api_list=$4
status=0

# TALVOR_API(result, Name, ...): the JNI name of the class's method TalvorName
# (an underscore in the class name is written _1).
expected=$(sed -n 's/^TALVOR_API([^,]*, *\([A-Za-z]*\),.*/Java_talvor_1java_1apiJNI_Talvor\1/p' "$api_list" | sort)
if [ -z "$expected" ]; then
  echo "FAIL: no public functions read from $api_list"
  exit 1
fi

exported=$("$nm" -D --defined-only "$library" | awk '{print $NF}' | sort)
if [ "$exported" != "$expected" ]; then
  echo "FAIL: $library should export exactly:"
  printf '  %s\n' $expected
  echo "It exports:"
  printf '  %s\n' $exported
  status=1
fi

borrowed=$("$nm" -D --undefined-only "$library" | awk '{print $NF}' | grep -i talvor || true)
if [ -n "$borrowed" ]; then
  echo "FAIL: $library expects these from outside:"
  printf '  %s\n' $borrowed
  status=1
fi

if ! "$readelf" -d "$library" | grep -q 'FLAGS_1.*NODELETE'; then
  echo "FAIL: $library can be unloaded (no NODELETE flag)"
  status=1
fi

[ "$status" -eq 0 ] && echo "ok: $library exports the $(wc -l <<<"$expected") JNI methods only, carries its own core and stays loaded"
exit "$status"
