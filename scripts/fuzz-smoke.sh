#!/usr/bin/env bash
# The fuzz targets for a few seconds each, as a step of scripts/test.sh: long
# enough to replay the seed corpora and catch a shallow regression, bounded
# so the whole step stays well under two minutes. scripts/fuzz.sh runs
# longer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exec "$root/scripts/fuzz.sh" --seconds "${TALVOR_FUZZ_SECONDS:-10}" \
  --build-dir "$root/build/fuzz-smoke" "$@"
