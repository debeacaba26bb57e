# Sourced by the benchmarks' compare.sh scripts: wall-clock timing of other tools' commands. The
# timed command's standard output is discarded, its failures are not fatal (the time is still
# given); add 2>/dev/null to the call to silence its errors too.

# bench_best_us N COMMAND [ARGS...]: the best wall time of N runs of a command, in microseconds.
bench_best_us() {
  local n=$1 b= t t0 i
  shift
  for ((i = 0; i < n; i++)); do
    t0=$(date +%s%N)
    "$@" >/dev/null || true
    t=$(( ($(date +%s%N) - t0) / 1000 ))
    if [[ -z $b || $t -lt $b ]]; then b=$t; fi
  done
  echo "$b"
}

# bench_best_sh_us N 'SHELL COMMAND': the same for a command line with redirections or pipes, its
# errors silenced.
bench_best_sh_us() { bench_best_us "$1" sh -c "$2" 2>/dev/null; }
