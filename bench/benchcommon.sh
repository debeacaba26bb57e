# What the compare.sh scripts share (sourced): best wall time of a shell command.

# best "COMMAND": the best wall time in microseconds over $rounds runs of COMMAND (output discarded).
best() {
  local b= t t0 i
  for ((i = 0; i < rounds; i++)); do
    t0=$(date +%s%N); sh -c "$1" >/dev/null 2>&1; t=$(( ($(date +%s%N) - t0) / 1000 ))
    if [[ -z $b || $t -lt $b ]]; then b=$t; fi
  done
  echo "$b"
}
