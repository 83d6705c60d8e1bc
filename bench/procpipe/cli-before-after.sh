#!/usr/bin/env bash
# The command line's speed on a Blu-ray 3D clip to Vision Pro, two builds side
# by side in one run: `kestrova --input CLIP --auto-convert` with the headless
# defaults (MV-HEVC, the side-by-side file kept: one decode feeding both
# encoders). Each round runs both builds, the order rotating; prints every
# round, the medians and their ratio, and checks that both wrote the same
# number of pictures per view.
#
#   cli-before-after.sh BEFORE_BUILD AFTER_BUILD [ROUNDS] [CLIP]
# A build is a configured and built tree (bin/kestrova, share/kestrova/tools).
# Default: 5 rounds of the reference clip bluray/clip24.m2ts.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
before=$(realpath "$1")
after=$(realpath "$2")
rounds=${3:-5}
clip=$(realpath "${4:-$root/../../shared/testdata/bluray/clip24.m2ts}")
[ -f "$clip" ] || clip=/work/shared/testdata/bluray/clip24.m2ts

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config/kestrova"
printf '{"outputTarget": "Apple Vision Pro (MV-HEVC)"}\n' >"$scratch/config/kestrova/settings.json"

run() { # build output-folder; prints the wall seconds
  local start end
  rm -rf "$2"
  start=$(date +%s.%N)
  XDG_CONFIG_HOME=$scratch/config "$1/bin/kestrova" --input "$clip" --auto-convert --output "$2" \
    >"$scratch/last.log" 2>&1 || { cat "$scratch/last.log" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
frames() { # file
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2)}'; }

b=() a=()
for ((r = 0; r < rounds; r++)); do
  if ((r % 2 == 0)); then
    b+=("$(run "$before" "$scratch/before")")
    a+=("$(run "$after" "$scratch/after")")
  else
    a+=("$(run "$after" "$scratch/after")")
    b+=("$(run "$before" "$scratch/before")")
  fi
  printf 'round %d: before %.2f s, after %.2f s\n' "$((r + 1))" "${b[r]}" "${a[r]}"
done
for side in before after; do
  for file in "$scratch/$side"/*; do
    printf '%s %s: %s pictures\n' "$side" "$(basename "$file")" "$(frames "$file")"
  done
done
mb=$(median "${b[@]}") ma=$(median "${a[@]}")
printf 'median of %d rounds (%s, %d cores): before %.2f s, after %.2f s, after/before %.3f\n' \
  "$rounds" "$(basename "$clip")" "$(nproc)" "$mb" "$ma" "$(echo "$ma / $mb" | bc -l)"
