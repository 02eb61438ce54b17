#!/usr/bin/env bash
# What the PHP extension's shared object promises the process that loads it:
#   - it exports its entry point, get_module, and nothing else, and needs no
#     Talvor symbol from outside: its own copy of the client core stays
#     inside and never binds to another copy's symbols (or a host's);
#   - it is never unloaded (NODELETE): a communications thread can outlive
#     the script, and PHP unloads extensions before the process ends.
#   check_shared_object.sh NM READELF EXTENSION
set -euo pipefail
nm=$1
readelf=$2
extension=$3
status=0

exported=$("$nm" -D --defined-only "$extension" | awk '{print $NF}' | sort)
if [ "$exported" != "get_module" ]; then
  echo "FAIL: $extension should export get_module only; it exports:"
  printf '  %s\n' $exported
  status=1
fi

borrowed=$("$nm" -D --undefined-only "$extension" | awk '{print $NF}' | grep -i talvor || true)
if [ -n "$borrowed" ]; then
  echo "FAIL: $extension expects these from outside:"
  printf '  %s\n' $borrowed
  status=1
fi

if ! "$readelf" -d "$extension" | grep -q 'FLAGS_1.*NODELETE'; then
  echo "FAIL: $extension can be unloaded (no NODELETE flag)"
  status=1
fi

[ "$status" -eq 0 ] && echo "ok: $extension exports get_module only, carries its own core and stays loaded"
exit "$status"
