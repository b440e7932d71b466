#!/usr/bin/env bash
# Runs too big for CI, made by hand on a release build: more than 2^31 records, and a 1 GiB line
# without a line feed, each streamed through a FIFO named as the input file. Prints the time,
# the exit status, the peak resident memory and whether the output is what the rules give.
# Usage: tests/huge/run_huge.sh [ZELP_BINARY]   (default build/release/zelp)
set -uo pipefail
zelp=$(realpath "${1:-build/release/zelp}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/in.fifo"

# One run: $1 a label, $2 the expected output file's bytes (printf format), the generator on
# standard input of this function is started in the background writing into the FIFO.
run() {
  local label=$1 expected=$2 count=$3
  rm -f "$work/out.txt"
  local start end status
  start=$(date +%s.%N)
  printf 'in.fifo\nout.txt\n\n' |
    (cd "$work" && /usr/bin/time -v "$zelp" >console.txt 2>time.txt)
  status=$?
  end=$(date +%s.%N)
  wait
  echo "== $label"
  echo "exit status: $status"
  echo "seconds: $(echo "$end - $start" | bc)"
  grep -E "Maximum resident set size" "$work/time.txt"
  printf "$expected" >"$work/expected.txt"
  if cmp -s "$work/out.txt" "$work/expected.txt"; then echo "output: as expected"; else
    echo "output: DIFFERS"; fi
  grep -q "^ *$count lines with plot data found" "$work/console.txt" &&
    echo "summary: $count data line(s)" || echo "summary: MISSING"
}

# 2^31 + 5 empty records, then one data line: the record counters pass 2147483647.
{ head -c $((2 ** 31 + 5)) /dev/zero | tr '\0' '\n'; printf '1 2 3\n'; } >"$work/in.fifo" &
run "2^31+5 empty records and one data line" \
  '         1.000\t         2.000\t         3.000\t\r\n' 1

# 1 GiB of "1234567 " without a line feed: the first 2048 characters hold 256 items.
field='   1234567.000\t'
expected=$(for _ in $(seq 256); do printf '%s' "$field"; done)'\r\n'
{ yes 1234567 | tr '\n' ' ' | head -c $((2 ** 30)); } >"$work/in.fifo" &
run "1 GiB line without a line feed" "$expected" 1
