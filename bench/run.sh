#!/usr/bin/env bash
# Measures stampcut against reading the same file with dd and filtering it
# with awk, on a generated sorted log. Usage: bench/run.sh [SIZE_MIB [RUNS]]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-512}
runs=${2:-7}

missing=()
for pkg in hyperfine strace time gawk libbenchmark-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTAMPCUT_BENCH=ON \
  -DSTAMPCUT_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
bin=$PWD/build-bench/stampcut
work=${BENCH_DIR:-/tmp/stampcut-bench}
mkdir -p "$work"
log=$work/log-${size_mib}m
small=$work/log-1m
[ -s "$log" ] || build-bench/bench/gen_log $((size_mib << 20)) >"$log"
[ -s "$small" ] || build-bench/bench/gen_log $((1 << 20)) >"$small"
export TZ=UTC

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "log: $log, $(stat -c %s "$log") bytes, $(wc -l <"$log") lines"
cat "$log" >/dev/null # into the page cache, as for every command below

# Prints "name median_seconds ratio_to_first" for each command of a run.
medians() {
  awk -F, 'NR > 1 { name[NR] = $1; med[NR] = $4 }
           END { for (i = 2; i <= NR; i++)
                   printf "  %-60s %8.4f s  %5.2fx\n", name[i], med[i], med[i] / med[2] }' "$1"
}

echo "== wide query: every record (median of $runs runs, ratio to dd)"
hyperfine -N --warmup 2 --runs "$runs" --export-csv "$work/wide.csv" \
  "dd if=$log bs=8192 of=/dev/null" \
  "$bin $log 0" \
  "gawk -v s=1970-01-01T00:00:00 '\$1 > s' $log" \
  --output=null >/dev/null
medians "$work/wide.csv"

mid=$(sed -n "$(($(wc -l <"$log") / 2))p" "$log" | cut -c1-19)
start=$(date -u -d "${mid/T/ } UTC" +%s)
end=$((start + 60))
echo "== narrow query: $mid and the minute after ($start $end)"
hyperfine -N --warmup 2 --runs "$((runs * 5))" --export-csv "$work/narrow.csv" \
  "$bin $log $start $end" --output=null >/dev/null
medians "$work/narrow.csv"
strace -e trace=read -o "$work/narrow.strace" "$bin" "$log" "$start" "$end" >"$work/narrow.out"
read_bytes=$(awk -F'= ' '/^read\(3,/ { s += $NF } END { print s + 0 }' "$work/narrow.strace")
bits=0
for ((n = $(stat -c %s "$log"); n > 0; n >>= 1)); do bits=$((bits + 1)); done
echo "  bytes read: $read_bytes; allowance (bits $bits + 2) x 8192 + selected" \
  "$(stat -c %s "$work/narrow.out") = $(((bits + 2) * 8192 + $(stat -c %s "$work/narrow.out")))"

echo "== peak resident memory"
for f in "$small" "$log"; do
  /usr/bin/time -f "  %M KiB  $(basename "$f")" "$bin" "$f" 0 >/dev/null
done

echo "== parse_date"
build-bench/bench/parse_date_bench --benchmark_min_time=0.2 2>/dev/null | sed -n '/^canonical/,$p'
