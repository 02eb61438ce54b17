#!/usr/bin/env bash
# Installs the dependencies, then configures, builds and runs the whole test
# suite in every build variant: x86_64, i686 (-m32), AddressSanitizer+UBSan
# and ThreadSanitizer, with compiler warnings treated as errors. Exits
# non-zero on the first failure.
#
# TALVOR_PRESETS="default asan" limits the run to some variants.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

presets=${TALVOR_PRESETS:-"default m32 asan tsan"}
jobs=${TALVOR_JOBS:-$(nproc)}

for p in $presets; do
  echo "=== variant $p ==="
  cmake --preset "$p" -DTALVOR_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build --preset "$p" -j "$jobs"
  ctest --preset "$p" -j "$jobs"
done
echo "=== all variants passed: $presets ==="
