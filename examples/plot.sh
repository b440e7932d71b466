#!/usr/bin/env bash
# Draws examples/run.png, the picture in the README: block 1 of the sample page through
# `zelp --tsv`, plotted by gnuplot with the column names as titles.
#
#   examples/plot.sh [ZELP]     ZELP: the program, build/release/zelp by default
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
zelp=${1:-$here/../build/release/zelp}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$zelp" -q --tsv "$here/run.log" "$work/run.tsv"
# The same command the README shows, with the png terminal in front.
gnuplot -e "set terminal png noenhanced size 640,400; set output '$here/run.png'" \
  -e "set datafile separator '\t'; set key autotitle columnhead; set xlabel 'x/L'; \
      set ylabel 'temperature (C)'; \
      plot '$work/run.tsv' index 0 using 1:2 with linespoints, '' index 0 using 1:3 with linespoints"
echo "wrote $here/run.png"
