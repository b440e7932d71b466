#!/usr/bin/env bash
# Throughput of zelp on a generated workload, against `wc -l` (the floor: read the bytes, find
# the line ends) and bench/baseline.awk (what a user would run instead), in its default format
# and with --tsv (the output for analysis tools). Not part of ctest.
#
#   bench/throughput.sh [SIZE_MB [ROUNDS]]      defaults: 200 MB, 5 rounds (MB = 10^6 bytes)
#
# Builds the bench preset (Release), writes the workload once into a temporary folder, then
# runs every round wc -l, awk and zelp one after the other and reports the median wall time of
# each. Instructions per input byte come from callgrind on a 5 MB prefix of the same workload,
# less a run on an empty file (start-up and banner): on a busy machine they are the figure to
# compare between builds, so they are printed first. CPU time and peak resident memory come
# from /usr/bin/time -v. 3 to 5 minutes on 2 cores at the defaults; pass a smaller size or fewer
# rounds for a quicker look.
set -euo pipefail
shopt -s inherit_errexit
trap 'echo "$0: stopped at line $LINENO" >&2' ERR

size_mb=${1:-200}
rounds=${2:-5}
prefix_mb=5
if ! [[ $size_mb =~ ^[1-9][0-9]*$ && $rounds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SIZE_MB [ROUNDS]]" >&2
  exit 2
fi
((prefix_mb > size_mb)) && prefix_mb=$size_mb

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
zelp=$root/build/bench/zelp
workload=$root/build/bench/bench/zelp_workload
baseline=$root/bench/baseline.awk
for tool in valgrind /usr/bin/time awk wc; do
  command -v "$tool" > /dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zelp-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

note() { printf '%s\n' "$*" >&2; }

note "building (bench preset) ..."
{ cmake --preset bench && cmake --build --preset bench; } > "$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }

input=$work/workload.txt
prefix=$work/prefix.txt
empty=$work/empty.txt
note "writing the ${size_mb} MB workload ..."
"$workload" "${size_mb}M" "$input"
# The same seed: the smaller text is the first lines of the larger one.
"$workload" "${prefix_mb}M" "$prefix"
: > "$empty"
bytes=$(stat -c %s "$input")
prefix_bytes=$(stat -c %s "$prefix")
lines=$(wc -l < "$input")

# zelp is interactive: input name, output name, and an empty answer for "suppress text".
run_zelp() {  # input output [wrapper...]
  local in=$1 out=$2
  shift 2
  printf '%s\n%s\n\n' "$in" "$out" | "$@" "$zelp"
}

# zelp --tsv on the command line: input output [wrapper...]
run_tsv() {
  local in=$1 out=$2
  shift 2
  "$@" "$zelp" -q --tsv "$in" "$out"
}

# Instructions callgrind counts for one command (its report goes to standard error).
instructions() {  # report-file
  awk '/Collected :/ { print $NF }' "$1"
}
callgrind=(valgrind --tool=callgrind --callgrind-out-file=/dev/null)

per_byte() {  # name: prints (I(prefix) - I(empty)) / prefix bytes
  local name=$1 full start
  full=$(instructions "$work/$name.prefix.cg")
  start=$(instructions "$work/$name.empty.cg")
  awk -v f="$full" -v s="$start" -v b="$prefix_bytes" 'BEGIN { printf "%.1f", (f - s) / b }'
}

note "callgrind on the ${prefix_mb} MB prefix ..."
for kind in prefix empty; do
  file=$work/$kind.txt
  run_zelp "$file" "$work/cg.out" "${callgrind[@]}" > /dev/null 2> "$work/zelp.$kind.cg"
  run_tsv "$file" "$work/cg.out" "${callgrind[@]}" > /dev/null 2> "$work/tsv.$kind.cg"
  "${callgrind[@]}" awk -f "$baseline" "$file" > /dev/null 2> "$work/awk.$kind.cg"
  "${callgrind[@]}" wc -l "$file" > /dev/null 2> "$work/wc.$kind.cg"
done

# One timed run: wall time in microseconds to standard output, /usr/bin/time's report kept.
timed() {  # name round
  local name=$1 round=$2 start end
  local report=$work/$name.$round.time
  # Each tool writes a new file: dropping the last round's output is not part of the work.
  rm -f "$work/$name.out"
  start=${EPOCHREALTIME/./}
  case $name in
    wc) /usr/bin/time -v -o "$report" wc -l < "$input" > /dev/null ;;
    awk) /usr/bin/time -v -o "$report" awk -f "$baseline" "$input" > "$work/awk.out" ;;
    zelp) run_zelp "$input" "$work/zelp.out" /usr/bin/time -v -o "$report" > "$work/zelp.console" ;;
    tsv) run_tsv "$input" "$work/tsv.out" /usr/bin/time -v -o "$report" ;;
  esac
  end=${EPOCHREALTIME/./}
  echo $((end - start))
}

declare -A times
for ((round = 1; round <= rounds; round++)); do
  note "round $round of $rounds ..."
  for name in wc awk zelp tsv; do
    times[$name]+="$(timed "$name" "$round") "
  done
done

median() {  # microseconds... -> seconds
  printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 }
    END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.3f", m / 1e6 }'
}
cpu_s() {  # name: median user + system seconds over the rounds
  local report
  local -a list=()
  for report in "$work/$1".*.time; do
    list+=("$(awk -F: '/(User|System) time/ { s += $2 } END { printf "%d", s * 1e6 }' "$report")")
  done
  median "${list[@]}"
}
peak_kb() {  # name: the largest "Maximum resident set size" over the rounds
  cat "$work/$1".*.time | awk -F: '/Maximum resident set size/ { if ($2 + 0 > m) m = $2 + 0 }
    END { print m }'
}
mb_per_s() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.1f", b / 1e6 / s }'; }
row() {  # name wall-seconds
  printf '%8s  %8s  %8s  %12s' "$2" "$(mb_per_s "$2")" "$(cpu_s "$1")" "$(peak_kb "$1")"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# shellcheck disable=SC2086  # the lists are meant to split
{
  wc_s=$(median ${times[wc]})
  awk_s=$(median ${times[awk]})
  zelp_s=$(median ${times[zelp]})
  tsv_s=$(median ${times[tsv]})
}
grep -q 'lines with plot data found' "$work/zelp.console" ||
  { echo "$0: zelp did not finish its run" >&2; exit 1; }
zelp_records=$(grep -vc '^#' "$work/zelp.out" || true)
awk_records=$(grep -vc '^#' "$work/awk.out" || true)
# Data rows of --tsv: neither comments, empty lines nor the names row after two empty lines.
tsv_records=$(awk '/^#/ { next } /^$/ { empty++; next }
  { if (empty >= 2 || NR_seen == 0) { NR_seen = 1; empty = 0; next } empty = 0; n++ }
  END { print n + 0 }' "$work/tsv.out")

cat << EOF

zelp throughput: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB, $lines lines, \
$rounds rounds, awk is $(awk -W version 2> /dev/null | head -n 1 || true)

instructions per input byte (callgrind, ${prefix_mb} MB prefix, start-up subtracted)
  zelp   $(per_byte zelp)
  --tsv  $(per_byte tsv)   ($(ratio "$(per_byte tsv)" "$(per_byte zelp)") x the default format)
  awk    $(per_byte awk)
  wc -l  $(per_byte wc)

medians over the rounds; MB/s from wall time; CPU s is user + system time
tool      wall s      MB/s     CPU s   peak RSS KB
wc -l   $(row wc "$wc_s")
awk     $(row awk "$awk_s")
zelp    $(row zelp "$zelp_s")
--tsv   $(row tsv "$tsv_s")

zelp time / wc -l time   $(ratio "$zelp_s" "$wc_s")   (how far zelp is from the floor)
awk time / zelp time     $(ratio "$awk_s" "$zelp_s")   (above 1: zelp is faster than awk)
zelp peak resident memory  $(peak_kb zelp) KB, with --tsv $(peak_kb tsv) KB
data records written: zelp $zelp_records, --tsv $tsv_records, awk $awk_records (awk takes
expression lines for text)
EOF
