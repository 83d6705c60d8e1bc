#!/usr/bin/env bash
# chunks.sh BUILD_DIR [PAIRS] [WIDTHxHEIGHT] [CHUNK_PAIRS] [K] [ROUNDS]
# One MV-HEVC encoder over the whole clip against the clip cut into chunks of CHUNK_PAIRS pairs,
# K chunk encoders at once, joined with MVHEVCConverter --join; same settings (QUALITY 0.85,
# preset $KESTROVA_MVHEVC_PRESET, default medium). Rounds alternate which road runs first; prints
# each round and the medians: seconds, speed ratio, bytes, PSNR of both views against the source
# (decoded with the MV-HEVC validator ffmpeg). Film-like pairs are made once under BUILD_DIR.
set -euo pipefail
build=$(realpath "$1"); pairs=${2:-480}; size=${3:-1920x1080}; chunk=${4:-120}; k=${5:-2}; rounds=${6:-3}
w=${size%x*}; h=${size#*x}; view=$((w * h * 3 / 2))
conv="$build/share/kestrova/tools/MVHEVCConverter"
validator=${KESTROVA_VALIDATOR_FFMPEG:-$HOME/.cache/kestrova/ffmpeg-validator/source/ffmpeg}
cache="$build/bench-media"; mkdir -p "$cache"
clip="$cache/film-$pairs-$size.pairs"
[[ -s $clip ]] || bash /work/shared/testdata/film-like-pairs.sh "$clip" "$pairs" "$size" >&2
[[ $(stat -c %s "$clip") -eq $((pairs * view * 2)) ]] || { echo "short clip $clip" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
python3 - "$clip" "$view" "$work/left.yuv" "$work/right.yuv" <<'PY'
import sys
src, size = open(sys.argv[1], 'rb'), int(sys.argv[2])
left, right = open(sys.argv[3], 'wb'), open(sys.argv[4], 'wb')
while (a := src.read(size)) and len(a) == size:
    left.write(a); right.write(src.read(size))
PY
encode() { # IN OUT [--chunk]
  "$conv" - "$2" 0.85 --view-size "$size" --frame-rate 24 "${@:3}" < "$1" > /dev/null
}
psnr() { # MOVIE VIEW REFERENCE
  "$validator" -v error -y -i "$1" -map "0:v:view:$2" -f rawvideo "$work/dec.yuv"
  ffmpeg -hide_banner -f rawvideo -s "$size" -pix_fmt yuv420p -i "$work/dec.yuv" -f rawvideo -s "$size" \
    -pix_fmt yuv420p -i "$3" -lavfi psnr -f null - 2>&1 | sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}
whole() {
  local t0; t0=$(date +%s.%N)
  encode "$clip" "$work/whole.mov"
  echo "$(date +%s.%N) - $t0" | bc
}
chunked() {
  local t0 n; t0=$(date +%s.%N); n=$(( (pairs + chunk - 1) / chunk ))
  for ((i = 0; i < n; i++)); do echo "$i"; done |
    xargs -P "$k" -I{} bash -c "dd if='$clip' bs=$((view * 2)) skip=\$(({} * $chunk)) count=$chunk status=none |
      '$conv' - '$work/c{}.hevc' 0.85 --view-size $size --frame-rate 24 --chunk > /dev/null"
  "$conv" --join "$work/chunked.mov" $(for ((i = 0; i < n; i++)); do echo "$work/c$i.hevc"; done) > /dev/null
  echo "$(date +%s.%N) - $t0" | bc
}
echo "clip: $pairs pairs of $size, chunks of $chunk pairs, K=$k, preset ${KESTROVA_MVHEVC_PRESET:-medium}, $(nproc) cores"
declare -a ws cs
for ((r = 0; r < rounds; r++)); do
  if ((r % 2 == 0)); then w_t=$(whole); c_t=$(chunked); else c_t=$(chunked); w_t=$(whole); fi
  ws+=("$w_t"); cs+=("$c_t")
  printf 'round %d: one encoder %.1f s, chunked %.1f s, ratio %.3f\n' "$r" "$w_t" "$c_t" "$(echo "$w_t / $c_t" | bc -l)"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2)}'; }
mw=$(median "${ws[@]}"); mc=$(median "${cs[@]}")
printf 'median: one encoder %.1f s (%.2f pairs/s), chunked %.1f s (%.2f pairs/s), speed ratio %.3f\n' \
  "$mw" "$(echo "$pairs / $mw" | bc -l)" "$mc" "$(echo "$pairs / $mc" | bc -l)" "$(echo "$mw / $mc" | bc -l)"
bw=$(stat -c %s "$work/whole.mov"); bc_=$(stat -c %s "$work/chunked.mov")
printf 'bytes: one encoder %d, chunked %d (%+.2f %%)\n' "$bw" "$bc_" "$(echo "($bc_ - $bw) * 100 / $bw" | bc -l)"
for v in 0 1; do
  ref=$([[ $v == 0 ]] && echo "$work/left.yuv" || echo "$work/right.yuv")
  echo "PSNR view $v: one encoder $(psnr "$work/whole.mov" $v "$ref") dB, chunked $(psnr "$work/chunked.mov" $v "$ref") dB"
done
