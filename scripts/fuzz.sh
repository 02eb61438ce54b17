#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each in turn.
#
#   scripts/fuzz.sh [--seconds N] [--build-dir DIR] [target...]
#
# Each target runs N seconds (default 60) starting from its committed seed
# corpus (fuzz/corpus/<target>); inputs it finds that reach new code are kept
# in DIR/corpus/<target>, not in the tree. A crash, leak or sanitizer report
# stops that target, leaves the input as DIR/crashes/<target>-*, and makes
# the script exit with status 1 after the other targets have run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=60
build="$root/build/fuzz"
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_wire fuzz_channel fuzz_stringarray fuzz_frames fuzz_search)
fi

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target "${targets[@]}"

mkdir -p "$build/crashes"
failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/$t.log"
  echo "fuzz.sh: $t for ${seconds}s"
  # -timeout: one input taking longer than this is a hang, reported as a crash.
  if "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" \
      "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
    # The last status line: executions, coverage, corpus; then the rate.
    { grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true; } | tail -1 | sed 's/^/  /'
    { grep -E '^stat::average_exec_per_sec' "$log" || true; } | sed 's/^/  /'
  else
    echo "  FAILED: see $log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/  /'
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz.sh: all targets ran clean"
