#!/bin/sh
# Runs every example of the README and checks the number of lines each
# prints against the number the README states, so that an example that
# stops working fails the suite. An example is a fenced block whose first
# line is "# example: N lines"; the rest of the block is the command, run
# from the top of the source tree with the built stampcut first on PATH.
# Usage: readme_examples.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
bin=$2
cd "$src"
PATH=$bin:$PATH
export PATH
# Not UTC, and a POSIX rule that needs no time-zone database: an example
# that reads a UTC log must say TZ=UTC itself, as a reader must type it.
TZ=UTC+5
export TZ

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Each example into a file of its own: its line in the README, the count it
# states, then its command.
awk -v dir="$scratch" '
  fence && /^```/ { fence = 0; inside = 0; close(out); next }
  !fence && /^```/ { fence = 1; first = 1; next }
  fence && first {
    first = 0
    if ($0 ~ /^# example/) {
      out = sprintf("%s/%03d", dir, ++n)
      # A marker mistyped would drop its example without a word.
      print NR, ($0 ~ /^# example: [0-9]+ lines?$/ ? $3 : "mistyped") > out
      inside = 1
    }
    next
  }
  inside { print > out }
' README.md

examples=0
failed=0
for example in "$scratch"/*; do
  [ -f "$example" ] || continue
  read -r line want <"$example"
  command=$(sed 1d "$example")
  examples=$((examples + 1))
  if [ "$want" = mistyped ]; then
    echo "README.md:$line: not \"# example: N lines\""
    failed=$((failed + 1))
    continue
  fi
  # A deadline, so that an example that never ends (a follow that misses
  # its END) fails rather than hangs.
  status=0
  timeout 30 sh -c "$command" >"$scratch/out" 2>"$scratch/err" || status=$?
  got=$(wc -l <"$scratch/out" | tr -d ' ')
  if [ "$status" -ne 0 ] || [ "$got" -ne "$want" ]; then
    echo "README.md:$line: $want lines stated, $got printed, status $status: $command"
    sed 's/^/  stderr: /' "$scratch/err"
    failed=$((failed + 1))
  else
    echo "README.md:$line: $got lines: $command"
  fi
done
if [ $examples -eq 0 ]; then
  echo "README.md: no example found (a fenced block beginning \"# example: N lines\")"
  exit 1
fi
[ $failed -eq 0 ] || { echo "$failed of $examples examples failed"; exit 1; }
