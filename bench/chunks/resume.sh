#!/usr/bin/env bash
# resume.sh BUILD_DIR TOOLS_BIN CLIP_DIR [CHUNK_SECONDS] [K] [PERCENT]
# Resume after a kill, timed: a full chunked run of CLIP_DIR/clip.m2ts to Vision Pro (K jobs,
# chunks of CHUNK_SECONDS); then a run killed with SIGKILL once PERCENT % of the pictures are
# encoded; then the same conversion again, which takes up the killed run's chunks. Each run is the
# first process of a PID namespace of its own (unshare -p -f --mount-proc --kill-child), killed by
# that PID. Prints each run's wall (and CPU) time, the load average around it, the rerun's reuse line, and
# rerun / full. On this road the console shows 3 % once the source is read and then the pictures
# encoded over the next 92.7 % (the join is the rest), so the kill comes at the first progress line
# at or past 3 + 0.927 x PERCENT.
set -euo pipefail
build=$(realpath "$1"); bin=$(realpath "$2"); clip=$(realpath "$3"); seconds=${4:-2}; k=${5:-2}; percent=${6:-60}
pairs=$(($(stat -c %s "$clip/all0.yuv") / (1920 * 1080 * 3 / 2)))
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/kestrova"
echo "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"Apple Vision Pro (MV-HEVC)\", \"chunkSeconds\": $seconds}" \
  > "$work/config/kestrova/settings.json"
load() { cut -d' ' -f1 /proc/loadavg; }
start() { # OUT LOG [TIME]: the conversion in a PID namespace of its own, in the background
  ${3:+/usr/bin/time -f "%e %U %S" -o "$3"} env PATH="$bin:$PATH" XDG_CONFIG_HOME="$work/config" unshare -p -f --mount-proc --kill-child \
    "$build/bin/kestrova" --auto-convert --input "$clip/clip.m2ts" --output "$1" --jobs "$k" > "$2" 2>&1 </dev/null &
}
timed() { # NAME OUT: a whole run; prints its line, leaves its wall seconds in $work/NAME.wall
  local before wall user sys frames; before=$(load)
  start "$2" "$work/$1.log" "$work/$1.time"; wait $! || { cat "$work/$1.log" >&2; exit 1; }
  read -r wall user sys < "$work/$1.time"; echo "$wall" > "$work/$1.wall"
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$2/clip.mov")
  [[ $frames == "$pairs" ]] || { echo "$1: $frames pictures, not $pairs" >&2; exit 1; }
  [[ $(find "$2" -mindepth 1 | wc -l) == 1 ]] || { echo "$1: more than the movie left in $2" >&2; exit 1; }
  printf '%-7s %7.1f s wall, %7.1f s CPU, load %s -> %s, %s pictures\n' "$1" "$wall" "$(echo "$user + $sys" | bc)" \
    "$before" "$(load)" "$frames"
}
echo "clip $clip: $pairs pairs of 1920x1080; chunks of $seconds s, K=$k; kill at $percent % of the pictures"
timed full "$work/full"
grep -h "Chunked encode" "$work/full.log" | sed 's/^/  /'
threshold=$(((3000 + 927 * percent + 999) / 1000))
before=$(load); t0=$(date +%s.%N)
start "$work/resumed" "$work/killed.log"; pid=$!
until grep -qE "\] *([0-9]+)%" "$work/killed.log" &&
  (($(grep -oE "\] *[0-9]+%" "$work/killed.log" | tail -1 | tr -dc 0-9) >= threshold)); do
  kill -0 "$pid" 2>/dev/null || { echo "the run ended before the kill" >&2; cat "$work/killed.log" >&2; exit 1; }
  sleep 0.2
done
kill -9 "$pid"; { wait "$pid"; } 2>/dev/null || true
while pgrep -f "$work/resumed" > /dev/null; do sleep 0.1; done
printf 'killed  %7.1f s wall, load %s -> %s, at "%s"\n' "$(echo "$(date +%s.%N) - $t0" | bc)" "$before" "$(load)" \
  "$(grep -E "\] *[0-9]+%" "$work/killed.log" | tail -1 | cut -d' ' -f3-)"
[[ ! -e $work/resumed/clip.mov ]] || { echo "the killed run left a movie" >&2; exit 1; }
timed rerun "$work/resumed"
grep -h "Resuming\|Chunked encode" "$work/rerun.log" | sed 's/^/  /'
printf 'rerun / full: %.3f\n' "$(echo "$(cat "$work/rerun.wall") / $(cat "$work/full.wall")" | bc -l)"
