# The reference for the throughput benchmark: what a user would run instead of zelp, in plain
# awk. A line whose every field is a number becomes one record of "%14.3f" fields, each followed
# by a TAB. Text lines before the first data line are copied with "#" for their first character
# and without trailing blanks; text after it is dropped. Blank lines, lines whose first non-blank
# is "!" and lines with "'" in column 1 are skipped. Records end with CR LF. It evaluates no
# expressions: a line holding 2*PI is a text line here.
#
#   awk -f bench/baseline.awk INPUT > OUTPUT

BEGIN { number = "^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$" }

NF == 0 { next }
/^'/ || $1 ~ /^!/ { next }

{
  for (i = 1; i <= NF; i++)
    if ($i !~ number) break
  if (i <= NF) {
    if (!data) {
      text = substr($0, 2)
      sub(/ +$/, "", text)
      printf "#%s\r\n", text
    }
    next
  }
  data = 1
  for (i = 1; i <= NF; i++)
    printf "%14.3f\t", $i
  printf "\r\n"
}
