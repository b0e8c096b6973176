# Tabulates the guest's counts for bench/board-instructions. Input lines:
#   RUN FRAME METHOD... INSTRUCTIONS
# Output: a Markdown table in thousands of instructions per frame, one
# column per run, the largest difference between runs, and the ratio of
# the runs' mean to the limit's on the same frame.

function thousands(count, text) {
  text = sprintf("%.0f", count / 1000)
  while (text ~ /[0-9][0-9][0-9][0-9]/)
    sub(/[0-9][0-9][0-9]($|,)/, ",&", text)
  return text
}

{
  method = $3
  for (i = 4; i < NF; ++i)
    method = method " " $i
  key = $2 SUBSEP method
  if (!(key in frame)) {
    frame[key] = $2
    name[key] = method
    order[++rows] = key
  }
  count[key, $1] = $NF
}

END {
  header = "| frame | method |"
  rule = "|---|---|"
  for (run = 1; run <= runs; ++run) {
    header = header " run " run " |"
    rule = rule "---:|"
  }
  print header " runs differ by | × limit |"
  print rule "---:|---:|"
  worst = 0
  for (r = 1; r <= rows; ++r) {
    key = order[r]
    line = "| " frame[key] " | " name[key] " |"
    low = high = total = count[key, 1]
    for (run = 1; run <= runs; ++run) {
      value = count[key, run]
      line = line " " thousands(value) " |"
      if (run > 1) {
        total += value
        low = value < low ? value : low
        high = value > high ? value : high
      }
    }
    mean[key] = total / runs
    spread = (high - low) * 100 / low
    worst = spread > worst ? spread : worst
    limit = frame[key] SUBSEP "limit"
    printf "%s %.2f %% | %.2f |\n", line, spread, mean[key] / mean[limit]
  }
  printf "\nthousands of guest instructions per frame, fewest of 41 calls;" \
    " the runs differ by at most %.2f %%\n", worst
}
