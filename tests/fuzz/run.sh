#!/usr/bin/env bash
# Builds every fuzz target and runs each for SECONDS (default 60), starting
# from the seed corpus kept here. Exits non-zero on any finding.
# Usage: tests/fuzz/run.sh [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-60}

CXX=clang++ cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$here/build" -j2 >/dev/null

status=0
for target in parse_date run format line_ends; do
  work="$here/build/corpus-$target"
  mkdir -p "$work" "$here/build/findings"
  echo "== fuzz_$target for ${seconds}s"
  if ! "$here/build/fuzz_$target" "$work" "$here/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$here/build/findings/$target-" 2>"$here/build/$target.log"; then
    tail -n 40 "$here/build/$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$here/build/$target.log" || true
  fi
done
exit $status
