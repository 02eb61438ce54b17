#!/usr/bin/env bash
# What libtalvor_csharp_api.so exports: the 19 calls CSharp_<Name> and the
# three callback registrations, nothing else; its copy of the client core
# stays inside and needs no Talvor symbol from outside.
#   check_exports.sh NM LIBRARY
set -euo pipefail
nm=$1
library=$2

expected=$(printf '%s\n' \
  CSharp_TalvorClose CSharp_TalvorConnect CSharp_TalvorCreateNewRecord CSharp_TalvorDeleteRecord \
  CSharp_TalvorDisconnect CSharp_TalvorError CSharp_TalvorGetCurrentPosition CSharp_TalvorGetValue \
  CSharp_TalvorLocked CSharp_TalvorParent CSharp_TalvorRemoveRecord CSharp_TalvorReparent \
  CSharp_TalvorRunProgram CSharp_TalvorSearch CSharp_TalvorSetCurrentPosition CSharp_TalvorSetValue \
  CSharp_TalvorSort CSharp_TalvorSubSet CSharp_TalvorTotal \
  SWIGRegisterExceptionArgumentCallbacks_talvor_csharp_api \
  SWIGRegisterExceptionCallbacks_talvor_csharp_api \
  SWIGRegisterStringCallback_talvor_csharp_api | LC_ALL=C sort)
exported=$("$nm" -D --defined-only "$library" | awk '{print $NF}' | LC_ALL=C sort)
status=0
if [ "$exported" != "$expected" ]; then
  echo "FAIL: $library exports other names than the 22 expected:"
  diff <(echo "$expected") <(echo "$exported") | sed -n 's/^[<>]/  &/p'
  status=1
fi
borrowed=$("$nm" -D --undefined-only "$library" | awk '{print $NF}' | grep -i talvor || true)
if [ -n "$borrowed" ]; then
  echo "FAIL: $library expects these from outside:"
  printf '  %s\n' $borrowed
  status=1
fi
[ "$status" -eq 0 ] && echo "ok: $library exports the 19 calls and 3 registrations only"
exit "$status"
