#!/usr/bin/env bash
# ffmpeg's xfade on the two pictures the transitions benchmark wrote: six transitions over 60 frames,
# one filter thread (the engine paints on one thread). Each picture is decoded once and repeated in
# memory; the same graph without the transition is timed too, and the difference per frame is what the
# transition itself costs. Best of three runs.
set -euo pipefail
from=/tmp/tq-transition-from.bmp to=/tmp/tq-transition-to.bmp
if ! command -v ffmpeg >/dev/null && [[ $EUID == 0 ]]; then  # benchmarks only: not among the test tools
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q ffmpeg >/dev/null 2>&1 || true
fi
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed (apt-get install ffmpeg): no comparison"; exit 0; }
[[ -f $from && -f $to ]] || { echo "run the transitions benchmark first"; exit 1; }
frames=60
repeat="loop=loop=$((frames - 1)):size=1,setpts=N/60/TB"
run() {  # microseconds of the best of three runs of the graph that follows the two repeated inputs
  local best=0 t0 t1 us
  for _ in 1 2 3; do
    t0=$(date +%s%N)
    ffmpeg -v error -nostdin -filter_threads 1 -framerate 60 -i "$from" -framerate 60 -i "$to" \
      -filter_complex "[0:v]$repeat[a];[1:v]$repeat[b];$1" -fps_mode passthrough -f null -
    t1=$(date +%s%N)
    us=$(( (t1 - t0) / 1000 ))
    if (( best == 0 || us < best )); then best=$us; fi
  done
  echo "$best"
}
base=$(run "[b]nullsink;[a]format=bgr24")
printf "%-12s %16s %18s\n" "ffmpeg xfade" "ms a frame" "transition alone"
for t in fade wipeleft slideleft circleopen radial dissolve; do
  us=$(run "[a][b]xfade=transition=$t:duration=1:offset=0,format=bgr24")
  awk -v t="$t" -v us="$us" -v base="$base" -v n="$frames" \
    'BEGIN { printf "%-12s %16.2f %18.2f\n", t, us / n / 1000, (us - base) / n / 1000 }'
done
