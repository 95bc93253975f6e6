#!/usr/bin/env bash
# Measures stampcut against merely reading the same file with dd, warm and
# cold, to /dev/null and into a pipe, and against cat, grep and gawk, on
# generated sorted logs, by records, by lines (-m) and by a FORMAT (-f, on
# the ISO log and on one stamped as syslog stamps); then charts time
# against log size. Everything is measured on the binary built from this
# tree.
#
# Usage: bench/run.sh [--no-chart] [SIZE_MIB [RUNS]]
#   SIZE_MIB     size of the main log (default 512)
#   RUNS         timed runs per command (default 7)
#   --no-chart   skip the time-against-size chart (its logs total 3.3 GiB)
# Environment: BENCH_DIR (logs and scratch files, default
# /tmp/stampcut-bench), CHART_SIZES (MiB, default "16 64 256 1024 2048").
set -euo pipefail
cd "$(dirname "$0")/.."

chart=1
if [ "${1:-}" = --no-chart ]; then
  chart=0
  shift
fi
size_mib=${1:-512}
runs=${2:-7}
chart_sizes=${CHART_SIZES:-16 64 256 1024 2048}
began=$SECONDS

missing=()
for pkg in hyperfine strace time gawk grep util-linux libbenchmark-dev \
  gnuplot-nox; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DSTAMPCUT_BENCH=ON \
  -DSTAMPCUT_TESTS=OFF
cmake --build build-bench -j2 >/dev/null
bin=$PWD/build-bench/stampcut
work=${BENCH_DIR:-/tmp/stampcut-bench}
mkdir -p "$work"
: >"$work/hyperfine.log"
export TZ=UTC

# Prints the path of the generated log of $1 MiB, making it on first use.
# A log is written under a temporary name, so an interrupted run leaves no
# short log behind to be taken for a whole one; and synced, since pages not
# yet written back cannot be evicted for the cold runs.
# With $2, a line every $2 seconds is followed by a stack trace.
log_of() {
  local f=$work/log-$1m${2:+-traced-$2s}
  if [ ! -s "$f" ]; then
    build-bench/bench/gen_log $(($1 << 20)) 1704067200 "${2:-0}" >"$f.part"
    sync "$f.part"
    mv "$f.part" "$f"
  fi
  echo "$f"
}

# Prints the path of the generated syslog-shaped log of $1 MiB: the ISO
# log's times and messages, stamped without a year. Such a stamp takes its
# year from the file's last change, set to a minute after its last line.
syslog_of() {
  local f=$work/syslog-$1m
  if [ ! -s "$f" ]; then
    build-bench/bench/gen_log --syslog $(($1 << 20)) 1704067200 >"$f.part"
    sync "$f.part"
    mv "$f.part" "$f"
  fi
  touch -d "@$(($(date -u -d "$(tail -1 "$f" | cut -c1-15) 2024" +%s) + 60))" "$f"
  echo "$f"
}

# Drops the file's pages from the page cache, so that the next read of it
# comes from the device.
evict() {
  dd if="$1" iflag=nocache count=0 status=none
}

# Runs hyperfine; the tables below come from its CSV files, and its own
# reports, warnings included, go to hyperfine.log for a closer look.
bench() {
  hyperfine "$@" >>"$work/hyperfine.log" 2>&1 || {
    tail -20 "$work/hyperfine.log" >&2
    return 1
  }
}

# Prints "name median_seconds ratio_to_first" for each command of a run.
medians() {
  awk -F, 'NR > 1 { name[NR] = $1; med[NR] = $4 }
           END { for (i = 2; i <= NR; i++)
                   printf "  %-58s %8.4f s  %5.2fx\n", name[i], med[i], med[i] / med[2] }' "$1"
}

# Prints the median seconds of command $2 (1 for the first) of a run.
median() {
  awk -F, -v row="$(($2 + 1))" 'NR == row { print $4 }' "$1"
}

# Prints PASS when $1 <= $2, else MISS.
verdict() {
  awk -v x="$1" -v limit="$2" 'BEGIN { print x + 0 <= limit + 0 ? "PASS" : "MISS" }'
}

# The targets met or missed, gathered for the summary at the end.
targets=()

# Records target $1 (a description), measured $2, limit $3, and prints it.
target() {
  local line
  line=$(printf '%-4s  %-44s %10s  (limit %s)' "$(verdict "$2" "$3")" "$1" "$2" "$3")
  targets+=("$line")
  echo "  $line"
}

# Prints the ratio of command $3's median to command $2's in run $1.
ratio() {
  awk -v a="$(median "$1" "$2")" -v b="$(median "$1" "$3")" 'BEGIN { printf "%.2f", b / a }'
}

# Prints the mean user seconds of command $2 of a run.
user_time() {
  awk -F, -v row="$(($2 + 1))" 'NR == row { print $5 }' "$1"
}

# Prints the read-ahead of the device that holds file $1, in KiB, or "?".
read_ahead_of() {
  local dev
  dev=$(basename "$(findmnt -no SOURCE --target "$1")")
  # A partition has its queue on the whole disk, one directory up.
  cat "/sys/class/block/$dev/queue/read_ahead_kb" 2>/dev/null ||
    cat "/sys/class/block/$dev/../queue/read_ahead_kb" 2>/dev/null || echo '?'
}

# Prints the number of bits of $1.
bits_of() {
  local bits=0 n
  for ((n = $1; n > 0; n >>= 1)); do bits=$((bits + 1)); done
  echo "$bits"
}

# Prints the number of reads of log $1 in strace output $2, their bytes and
# the largest. Only reads of the log's descriptor from its opening on count,
# up to its closing where closes are traced: the loader reads the libraries
# through the same descriptor number before, and other files after.
log_reads() {
  awk -F'= ' -v path="\"$1\"" '
    /^openat\(/ && index($0, path) { fd = $NF; next }
    fd != "" && $0 ~ "^close\\(" fd "\\)" { fd = ""; next }
    fd != "" && $0 ~ "^p?read(64)?\\(" fd "," { n++; s += $NF; if ($NF > max) max = $NF }
    END { print n + 0, s + 0, max + 0 }' "$2"
}

# Sets minute and next_minute (as YYYY-MM-DDTHH:MM:), lo and hi for the
# minute of the middle line of log $1: stampcut's interval is open at lo and
# closed at hi, so it selects exactly the records stamped in that minute.
middle_minute() {
  local mid
  mid=$(sed -n "$(($(wc -l <"$1") / 2))p" "$1" | cut -c1-16)
  minute=$mid:
  lo=$(($(date -u -d "${mid/T/ }:00 UTC" +%s) - 1))
  hi=$((lo + 60))
  next_minute=$(date -u -d "@$((hi + 1))" +%Y-%m-%dT%H:%M:)
}

log=$(log_of "$size_mib")
small=$(log_of 1)
log_size=$(stat -c %s "$log")
log_lines=$(wc -l <"$log")
name=$(basename "$log")
syslog=$(syslog_of "$size_mib")
syslog_lines=$(wc -l <"$syslog")
sysname=$(basename "$syslog")
iso_format='%Y-%m-%dT%H:%M:%S'
syslog_format='%b %e %H:%M:%S'

cores="$(nproc) cores"
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')
kernel=$(uname -sr)
version=$(git describe --always --dirty 2>/dev/null || echo '(not a git tree)')
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build-bench/CMakeCache.txt)
echo "== machine"
echo "$cores, $cpu, $(free -g | awk '/^Mem:/ { print $2 }') GiB;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "$kernel, $(sed -n 's/^PRETTY_NAME="\(.*\)"/\1/p' /etc/os-release), $("$cxx" --version | head -1)"
echo "stampcut $version, Release build"
echo "logs: $name $log_size bytes, $log_lines lines;" \
  "$sysname $(stat -c %s "$syslog") bytes, $syslog_lines lines;" \
  "$(basename "$small") $(stat -c %s "$small") bytes"
# Into the page cache, for every warm run below, as a read brings them
# there: the pages of a file just written are copied from more slowly.
evict "$log"
evict "$syslog"
cat "$log" "$syslog" >/dev/null

# dd with 1 MiB reads is the cost of the copy alone, which any reader pays;
# with 8 KiB reads, that of reading a window at a time.
echo "== wide query, warm, to /dev/null: every record (median of $runs runs, ratio to dd bs=1M)"
bench -N --warmup 2 --runs "$runs" --output=null --export-csv "$work/wide.csv" \
  -n "dd if=$name bs=1M of=/dev/null" "dd if=$log bs=1M of=/dev/null" \
  -n "dd if=$name bs=8192 of=/dev/null" "dd if=$log bs=8192 of=/dev/null" \
  -n "cat $name >/dev/null" "cat $log" \
  -n "stampcut $name 0 >/dev/null" "$bin $log 0" \
  -n "stampcut -m $name 0 >/dev/null" "$bin -m $log 0" \
  -n "stampcut -f '$iso_format' $name 0 >/dev/null" \
  "$bin -f '$iso_format' $log 0" \
  -n "stampcut -f '$syslog_format' $sysname 0 >/dev/null" \
  "$bin -f '$syslog_format' $syslog 0" \
  -n "gawk -v s=1970-01-01T00:00:00 '\$1 > s' $name >/dev/null" \
  "gawk -v s=1970-01-01T00:00:00 '\$1 > s' $log"
medians "$work/wide.csv"
target "wide query to /dev/null, x dd bs=1M" "$(ratio "$work/wide.csv" 1 4)" 2.5
target "wide query to /dev/null, x dd bs=8192" "$(ratio "$work/wide.csv" 2 4)" 0.6
target "wide query -m to /dev/null, x dd bs=1M" "$(ratio "$work/wide.csv" 1 5)" 2.5
target "wide query -f to /dev/null, x dd bs=1M" "$(ratio "$work/wide.csv" 1 6)" 2.5
# Cut into lines, a log of single lines costs next to what records do, and
# timed by a FORMAT, next to what lines timed by the default shape do.
target "wide query -m, x without -m" "$(ratio "$work/wide.csv" 4 5)" 1.1
target "wide query -f, x -m" "$(ratio "$work/wide.csv" 5 6)" 1.2
target "wide query -f on syslog, x -m on ISO" "$(ratio "$work/wide.csv" 5 7)" 1.5
# What the scan costs beyond the copy: its own work on each line.
for row in "4 $log_lines" "5 $log_lines -m" "6 $log_lines -f" \
  "7 $syslog_lines -f syslog"; do
  read -r command count how <<<"$row"
  user=$(user_time "$work/wide.csv" "$command")
  echo "  stampcut ${how:+$how }user time: $(awk -v u="$user" 'BEGIN { printf "%.3f", u }') s" \
    "(mean) for $count lines"
  target "wide query${how:+ $how}, user time a line, ns" \
    "$(awk -v u="$user" -v n="$count" 'BEGIN { printf "%.1f", u * 1e9 / n }')" 9
done

# Both sides pay for the same shell and the same reader; only the writer
# into the pipe differs. Writes that fill the pipe make the writer and the
# reader take turns when they run on different CPUs, each waiting on the
# other, so each placement is measured apart: on different CPUs, on the
# same one, and where the scheduler puts them. Which reference writes
# fastest into a pipe varies with the placement and the machine: the
# fastest of each placement is the one to meet. On one CPU stampcut's own
# work adds to cat's, and the limit is what it was before pipes were
# written in pieces of part of them.
for placement in split same free; do
  case $placement in
  split) w="taskset -c 0 " r="taskset -c 1 " what="on different CPUs" short="2 CPUs" limit=1.15 ;;
  same) w="taskset -c 0 " r="taskset -c 0 " what="on one CPU" short="1 CPU" limit=1.5 ;;
  free) w="" r="" what="unpinned" short=unpinned limit=1.15 ;;
  esac
  if [ "$placement" = split ] && [ "$(nproc)" -lt 2 ]; then
    continue
  fi
  csv=$work/pipe-$placement.csv
  echo "== wide query, warm, into a pipe read by cat, $what (median of $runs runs, ratio to dd bs=8K)"
  bench --shell=bash --warmup 2 --runs "$runs" --export-csv "$csv" \
    -n "dd if=$name bs=8K | cat" "${w}dd if=$log bs=8K status=none | ${r}cat >/dev/null" \
    -n "dd if=$name bs=16K | cat" "${w}dd if=$log bs=16K status=none | ${r}cat >/dev/null" \
    -n "dd if=$name bs=64K | cat" "${w}dd if=$log bs=64K status=none | ${r}cat >/dev/null" \
    -n "cat $name | cat" "${w}cat $log | ${r}cat >/dev/null" \
    -n "stampcut $name 0 | cat" "${w}$bin $log 0 | ${r}cat >/dev/null" \
    -n "stampcut -m $name 0 | cat" "${w}$bin -m $log 0 | ${r}cat >/dev/null"
  medians "$csv"
  fastest=$(awk -F, 'NR > 1 && NR <= 5 && (best == "" || $4 < best) { best = $4; row = NR - 1 }
                     END { print row }' "$csv")
  target "wide query into a pipe, $short, x fastest" \
    "$(ratio "$csv" "$fastest" 5)" "$limit"
  target "wide query -m into a pipe, $short, x fastest" \
    "$(ratio "$csv" "$fastest" 6)" "$limit"
done
target "wide query -m into a pipe, x without -m" "$(ratio "$work/pipe-free.csv" 5 6)" 1.1

echo "== wide query, cold: the file evicted before each run (median of $runs runs, ratio to dd)"
# The eviction is worth checking: a file system or VM may ignore it, and
# the cold figures would then be warm ones.
evict "$log"
/usr/bin/time -o "$work/cold.time" -f %I dd if="$log" bs=1M of=/dev/null status=none
from_device=$(($(cat "$work/cold.time") * 512))
if [ "$from_device" -ge $((log_size * 9 / 10)) ]; then
  echo "  eviction works: dd read $from_device of $log_size bytes from the device"
else
  echo "  EVICTION DOES NOT WORK HERE: dd read only $from_device of $log_size bytes" \
    "from the device; the cold figures below are warm ones"
fi
bench -N --runs "$runs" --prepare "dd if=$log iflag=nocache count=0 status=none" \
  --output=null --export-csv "$work/cold.csv" \
  -n "dd if=$name bs=1M of=/dev/null" "dd if=$log bs=1M of=/dev/null" \
  -n "stampcut $name 0 >/dev/null" "$bin $log 0"
medians "$work/cold.csv"
echo "  dd reads $(awk -v s="$log_size" -v t="$(median "$work/cold.csv" 1)" \
  'BEGIN { printf "%.0f", s / t / 1048576 }') MiB/s from this device"
target "wide query cold, x dd bs=1M" "$(ratio "$work/cold.csv" 1 2)" 1.5
cat "$log" >/dev/null

middle_minute "$log"
echo "== narrow query, warm: the minute ${minute%:} ($lo $hi, median of $((runs * 5)) runs)"
# grep, given /dev/null, stops at its first match: both write into a pipe.
bench -N --warmup 2 --runs "$((runs * 5))" --output=pipe --export-csv "$work/narrow.csv" \
  -n "stampcut $name $lo $hi" "$bin $log $lo $hi" \
  -n "grep -F $minute $name" "grep -F $minute $log" \
  -n "stampcut -f '$syslog_format' $sysname $lo $hi" \
  "$bin -f '$syslog_format' $syslog $lo $hi"
medians "$work/narrow.csv"
target "narrow query warm, ms" "$(awk -v t="$(median "$work/narrow.csv" 1)" \
  'BEGIN { printf "%.1f", t * 1000 }')" 10
strace -e trace=openat,read,pread64 -o "$work/narrow.strace" "$bin" "$log" "$lo" "$hi" \
  >"$work/narrow.out"
# A piece is the largest read, which the scan may make once past the end.
read -r _ read_bytes piece < <(log_reads "$log" "$work/narrow.strace")
selected=$(stat -c %s "$work/narrow.out")
allowance=$((($(bits_of "$log_size") + 2) * 8192 + selected + piece))
echo "  bytes read: $read_bytes; allowance (bits $(bits_of "$log_size") + 2) x 8192" \
  "+ selected $selected + one piece $piece = $allowance"
target "narrow query, bytes read" "$read_bytes" "$allowance"
# The same minute of the syslog log, timed by a FORMAT without a year: the
# search reads as little, and finds the same lines.
strace -e trace=openat,read,pread64 -o "$work/narrow-syslog.strace" "$bin" \
  -f "$syslog_format" "$syslog" "$lo" "$hi" >"$work/narrow-syslog.out"
read -r count sys_bytes sys_piece < <(log_reads "$syslog" "$work/narrow-syslog.strace")
sys_allowance=$((($(bits_of "$(stat -c %s "$syslog")") + 2) * 8192 +
  $(stat -c %s "$work/narrow-syslog.out") + sys_piece))
# The two logs have the same time on each line.
same=$(cmp -s <(cut -c8-15 "$work/narrow-syslog.out") \
  <(cut -c12-19 "$work/narrow.out") && echo "at the same times" ||
  echo "NOT AT THE SAME TIMES")
echo "  $sysname -f: $count reads, $sys_bytes bytes; allowance $sys_allowance;" \
  "$(wc -l <"$work/narrow-syslog.out") lines, $same as $name's"
target "narrow query -f on syslog, bytes read" "$sys_bytes" "$sys_allowance"

# Traces make some probes pass over lines, or find no time in their read.
traced=$(log_of "$size_mib" 3)
echo "== narrow query -m, warm, on a log with a trace every 3 seconds:" \
  "the minute ${minute%:} (median of $((runs * 5)) runs, ratio to the same query without traces)"
bench -N --warmup 2 --runs "$((runs * 5))" --output=pipe \
  --export-csv "$work/narrow-traced.csv" \
  -n "stampcut $name $lo $hi" "$bin $log $lo $hi" \
  -n "stampcut -m $(basename "$traced") $lo $hi" "$bin -m $traced $lo $hi"
medians "$work/narrow-traced.csv"
for f in "$log" "$traced"; do
  strace -e trace=openat,read,pread64 -o "$work/traced.strace" "$bin" -m "$f" \
    "$lo" "$hi" >/dev/null
  read -r count bytes _ < <(log_reads "$f" "$work/traced.strace")
  echo "  $(basename "$f") -m: $count reads of the log, $bytes bytes"
done
target "narrow query -m with traces, x without" \
  "$(ratio "$work/narrow-traced.csv" 1 2)" 2

# A hole of zero bytes before the lines, as a copy-truncate leaves when the
# writer lacks O_APPEND: every probe in it finds no line end, the scan
# starts at the first byte, and passes over the hole many bytes at a time
# in the default mode, and as one long line under -m.
hole=$work/hole-4g
if [ ! -s "$hole" ]; then
  truncate -s 4G "$hole.part"
  cat "$small" >>"$hole.part"
  mv "$hole.part" "$hole"
fi
middle_minute "$small"
echo "== narrow query past a sparse 4 GiB hole, warm: the minute ${minute%:}" \
  "of the 1 MiB log after it (median of $runs runs, ratio to -m)"
bench -N --warmup 1 --runs "$runs" --output=pipe --export-csv "$work/hole.csv" \
  -n "stampcut -m $(basename "$hole") $lo $hi" "$bin -m $hole $lo $hi" \
  -n "stampcut $(basename "$hole") $lo $hi" "$bin $hole $lo $hi"
medians "$work/hole.csv"
target "narrow query past a hole, x -m" "$(ratio "$work/hole.csv" 1 2)" 2
middle_minute "$log"

echo "== narrow query, cold: bytes the device delivered (largest of 3 runs)"
delivered=0
for _ in 1 2 3; do
  evict "$log"
  /usr/bin/time -o "$work/narrow.time" -f %I "$bin" "$log" "$lo" "$hi" >/dev/null
  n=$(($(cat "$work/narrow.time") * 512))
  [ "$n" -gt "$delivered" ] && delivered=$n
done
echo "  delivered: $delivered bytes; allowance $allowance;" \
  "the device's read-ahead is $(read_ahead_of "$log") KiB"
target "narrow query cold, bytes from the device" "$delivered" "$allowance"
cat "$log" >/dev/null

echo "== read and write calls: every record of the 1 MiB log to /dev/null, and into a pipe"
# Prints the number of reads of log $1 in strace output $2, the number of
# writes to standard output and their bytes.
calls() {
  awk -F'= ' -v path="\"$1\"" '
    /^openat\(/ && index($0, path) { fd = $NF; next }
    fd != "" && $0 ~ "^p?read(64)?\\(" fd "," {
      x = $0; sub(/\) += -?[0-9]+$/, "", x); k = split(x, f, ", ")
      if ((/^pread64/ ? f[k - 1] : f[k]) + 0 > 8192) r++
    }
    /write\(1,/ { n++; s += $NF }
    END { print r + 0, n + 0, s + 0 }' "$2"
}
# The scan's reads ask for 64 KiB or more; the probes' for a window.
strace -e trace=openat,read,pread64,write -o "$work/writes.strace" "$bin" "$small" 0 >/dev/null
read -r reads writes written < <(calls "$small" "$work/writes.strace")
strace -e trace=openat,read,pread64,write -o "$work/pipe.strace" "$bin" "$small" 0 | cat >/dev/null
read -r _ pipe_writes pipe_written < <(calls "$small" "$work/pipe.strace")
echo "  $reads reads of $(stat -c %s "$small") bytes;" \
  "$writes writes, $written bytes, $((written / writes)) bytes a write;" \
  "into a pipe $pipe_writes writes, $((pipe_written / pipe_writes)) bytes a write"
target "read calls for the 1 MiB log" "$reads" $(($(stat -c %s "$small") / 65536 + 1))
# Into a pipe, pieces of 64 KiB, which the pipe holds; elsewhere, what has
# been taken from a read, in one write.
target "write calls for the 1 MiB log" "$writes" "$reads"
target "write calls for the 1 MiB log into a pipe" "$pipe_writes" $((pipe_written / 65536 + 1))

echo "== compressed logs: a wide query against each format's own tool, to /dev/null (median of $runs runs)"
packed=$(log_of 64)
for z in "gz gzip zcat" "zst zstd zstdcat" "xz xz xzcat" "bz2 bzip2 bzcat"; do
  read -r ext tool reader <<<"$z"
  if [ ! -s "$packed.$ext" ]; then
    "$tool" -c "$packed" >"$packed.$ext.part"
    mv "$packed.$ext.part" "$packed.$ext"
  fi
  bench -N --warmup 1 --runs "$runs" --output=null --export-csv "$work/$ext.csv" \
    -n "$reader $(basename "$packed").$ext" "$reader $packed.$ext" \
    -n "stampcut $(basename "$packed").$ext 0" "$bin $packed.$ext 0"
  medians "$work/$ext.csv"
  target "wide query over .$ext, x $reader" "$(ratio "$work/$ext.csv" 1 2)" 1.1
done
# A compressed file is read from its first byte: a query early in it
# decompresses only up to its end bound.
first=$(($(date -u -d "$(head -1 "$packed" | cut -c1-19 | tr T ' ') UTC" +%s) - 1))
strace -e trace=openat,read,pread64 -o "$work/gz.strace" "$bin" "$packed.gz" \
  "$first" "$((first + 60))" >/dev/null
read -r n bytes _ < <(log_reads "$packed.gz" "$work/gz.strace")
echo "  the first minute of $(basename "$packed").gz: $n reads, $bytes bytes"
target "first minute of a .gz, bytes read" "$bytes" "$(($(stat -c %s "$packed.gz") / 10))"

echo "== -r: a set of ten files, seven of them gzip, a minute in the newest (median of $((runs * 5)) runs)"
set_dir=$work/set
if [ ! -s "$set_dir/app.log" ]; then
  rm -rf "$set_dir" "$set_dir.part"
  mkdir -p "$set_dir.part"
  split -n l/10 -d -a 1 "$(log_of 160)" "$set_dir.part/part"
  for i in 0 1 2 3 4 5 6 7 8 9; do
    n=$((9 - i))
    case $n in
    0) mv "$set_dir.part/part$i" "$set_dir.part/app.log" ;;
    1 | 2) mv "$set_dir.part/part$i" "$set_dir.part/app.log.$n" ;;
    *) gzip -c "$set_dir.part/part$i" >"$set_dir.part/app.log.$n.gz" && rm "$set_dir.part/part$i" ;;
    esac
  done
  mv "$set_dir.part" "$set_dir"
fi
middle_minute "$set_dir/app.log"
bench -N --warmup 2 --runs "$((runs * 5))" --output=null --export-csv "$work/set.csv" \
  -n "stampcut app.log $lo $hi" "$bin $set_dir/app.log $lo $hi" \
  -n "stampcut -r app.log $lo $hi" "$bin -r $set_dir/app.log $lo $hi"
medians "$work/set.csv"
target "-r, a minute in the newest file, x that file alone" "$(ratio "$work/set.csv" 1 2)" 1.5
strace -e trace=openat,read,pread64,close -o "$work/set.strace" "$bin" -r "$set_dir/app.log" \
  "$lo" "$hi" >/dev/null
most=0
for f in "$set_dir"/app.log.*; do
  read -r _ bytes _ < <(log_reads "$f" "$work/set.strace")
  [ "$bytes" -gt "$most" ] && most=$bytes
done
# Each other file gives its first lines, and the 8 bytes that say whether it
# is compressed.
target "-r, bytes read of each other file, most" "$most" $((65536 + 8))
middle_minute "$log"

echo "== peak resident memory"
for f in "$small" "$log"; do
  rss=$(/usr/bin/time -f %M "$bin" "$f" 0 2>&1 >/dev/null | tail -1)
  echo "  $rss KiB  $(basename "$f")"
  # The scan's buffer holds a read of up to 1 MiB besides its output and a
  # window: fixed, whatever the log.
  target "peak resident memory, $(basename "$f"), KiB" "$rss" 6144
done

echo "== -F: append to output, over 1,000 appends to an idle follow; CPU of a 10 s idle follow"
read -r _ _ _ median _ _ worst _ < <(build-bench/bench/follow_latency "$bin" 1000 "$work")
echo "  latency from an append to its line on standard output: median $median ms, worst $worst ms"
target "-F latency, worst of 1,000 appends, ms" "$worst" 100
idle=$( { /usr/bin/time -f '%U %S' timeout -s INT 10 "$bin" -F "$small" 0 >/dev/null || true; } 2>&1 | tail -1)
cpu=$(awk -v u="${idle% *}" -v s="${idle#* }" 'BEGIN { printf "%.2f", u + s }')
echo "  idle follow for 10 s: user + system CPU $cpu s"
target "-F idle for 10 s, CPU seconds" "$cpu" 0.05

echo "== parse_date"
build-bench/bench/parse_date_bench --benchmark_min_time=0.2 2>/dev/null | sed -n '/^canonical/,$p'

if [ "$chart" = 1 ]; then
  chart_runs=5
  echo "== time against log size, warm (median of $chart_runs runs)"
  data=$work/chart.dat
  echo "# MiB narrow wide dd grep gawk (median seconds)" >"$data"
  printf '  %6s %10s %10s %10s %10s %10s  %s\n' MiB narrow wide dd grep gawk selection
  for mib in $chart_sizes; do
    f=$(log_of "$mib")
    cat "$f" >/dev/null
    middle_minute "$f"
    narrow="$bin $f $lo $hi"
    grep_minute="grep -F $minute $f"
    gawk_minute="gawk -v s=$minute -v e=$next_minute '\$1 >= e { exit } \$1 > s' $f"
    # The three must agree on the minute, or the comparison means nothing.
    $narrow >"$work/minute.stampcut"
    $grep_minute >"$work/minute.grep"
    bash -c "$gawk_minute" >"$work/minute.gawk"
    if cmp -s "$work/minute.stampcut" "$work/minute.grep" &&
      cmp -s "$work/minute.stampcut" "$work/minute.gawk"; then
      agree="$(wc -l <"$work/minute.grep") lines of ${minute%:}, the same from all three"
    else
      agree="${minute%:}: THE SELECTIONS DIFFER (see $work/minute.*)"
    fi
    # Output to /dev/null, as in the wide query above; but grep, given
    # /dev/null, stops at the first match, so the filters write into a pipe
    # (their minute of output costs next to nothing either way).
    bench -N --warmup 1 --runs "$chart_runs" --output=null \
      --export-csv "$work/chart-$mib-null.csv" \
      -n narrow "$narrow" -n wide "$bin $f 0" -n dd "dd if=$f bs=1M of=/dev/null"
    bench -N --warmup 1 --runs "$chart_runs" --output=pipe \
      --export-csv "$work/chart-$mib-pipe.csv" \
      -n grep "$grep_minute" -n gawk "$gawk_minute"
    row=$(awk -F, 'FNR > 1 { printf " %.6f", $4 }' "$work/chart-$mib-null.csv" \
      "$work/chart-$mib-pipe.csv")
    echo "$mib$row" >>"$data"
    # shellcheck disable=SC2086 # the row is five numbers
    printf '  %6s %9.4fs %9.4fs %9.4fs %9.4fs %9.4fs  %s\n' "$mib" $row "$agree"
  done
  gnuplot -c bench/chart.gp "$data" bench/chart.svg "$cores, $cpu; $kernel; stampcut $version"
  echo "  chart: bench/chart.svg"
fi

echo "== targets"
printf '  %s\n' "${targets[@]}"
echo "== took $((SECONDS - began)) s; hyperfine's own reports are in $work/hyperfine.log"
