#!/bin/sh
# Writes, to standard output, the last hour of a log as this machine would
# have written it up to now: a line a minute, each half a minute off the
# minute, stamped with the local clock's reading. The examples of a time
# relative to now read it, as they would read a live log: the half minute
# keeps their counts exact however long the run takes to start.
# Usage: sh examples/live.sh
set -eu
now=$(date +%s)
for ago in 59 58 57 56 55 54 53 52 51 50 49 48 47 46 45 44 43 42 41 40 39 38 \
  37 36 35 34 33 32 31 30 29 28 27 26 25 24 23 22 21 20 19 18 17 16 15 14 13 \
  12 11 10 9 8 7 6 5 4 3 2 1 0; do
  date -d "@$((now - ago * 60 - 30))" "+%Y-%m-%dT%H:%M:%S web-01 app[42]: tick"
done
