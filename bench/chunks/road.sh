#!/usr/bin/env bash
# road.sh BUILD_DIR TOOLS_PREFIX_BIN [COPIES] [CHUNK_SECONDS] [K]
# The whole program on a Blu-ray 3D clip to Vision Pro: today's one-encoder road against the
# chunked road (K jobs, chunks of CHUNK_SECONDS), both in one run (one round).
# The clip is clip24 of the shared test data COPIES times over (24 pairs of 1920x1080 each, IDRs
# where each copy's are), multiplexed by the real tsMuxeR; made once under BUILD_DIR with its
# reference pictures (the JM decoder's pictures of one copy, repeated).
# Prints the wall and CPU seconds of each road, the ratio, the bytes and the PSNR of both views
# against the JM decoder's reference pictures (decoded with the MV-HEVC validator ffmpeg).
set -euo pipefail
build=$(realpath "$1"); bin=$(realpath "$2"); copies=${3:-20}; seconds=${4:-5}; k=${5:-2}
data=/work/shared/testdata/bluray
validator=${KESTROVA_VALIDATOR_FFMPEG:-$HOME/.cache/kestrova/ffmpeg-validator/source/ffmpeg}
clip="$build/bench-media/clip24x$copies"; mkdir -p "$clip"
if [[ ! -s $clip/clip.m2ts ]]; then
  (cd "$clip" && for ((i = 0; i < copies; i++)); do cat "$data/clip24-views.264"; done > mvc.264 &&
    python3 "$data/bluray_order.py" mvc.264 bd.264 && python3 "$data/split_views.py" bd.264 base.264 dep.mvc &&
    ffmpeg -v error -y -f lavfi -i "sine=duration=$((copies + 1))" -ac 2 -c:a ac3 audio.ac3 &&
    printf '%s\n' 'MUXOPT --no-pcr-on-video-pid --new-audio-pes --vbr --vbv-len=500' \
      'V_MPEG4/ISO/AVC, "base.264", insertSEI, contSPS, fps=23.976' 'V_MPEG4/ISO/MVC, "dep.mvc", fps=23.976' \
      'A_AC3, "audio.ac3"' > clip.meta && "$bin/tsmuxer" clip.meta clip.m2ts > tsmuxer.log &&
    "$bin/ldecod" -p InputFile="$data/clip24-views.264" -p OutputFile=ref.yuv -p DecodeAllLayers=1 > ldecod.log 2>&1 &&
    for view in 0 1; do for ((i = 0; i < copies; i++)); do cat ref_ViewId000$view.yuv; done > all$view.yuv; done)
fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
road() { # NAME SETTINGS OPTIONS...
  mkdir -p "$work/$1/config/kestrova" "$work/$1/out"
  echo "{\"qualityPreset\": \"Medium\", \"outputTarget\": \"Apple Vision Pro (MV-HEVC)\"$2}" \
    > "$work/$1/config/kestrova/settings.json"
  /usr/bin/time -f "%e %U %S" -o "$work/$1/time" env PATH="$bin:$PATH" XDG_CONFIG_HOME="$work/$1/config" \
    "$build/bin/kestrova" --auto-convert --input "$clip/clip.m2ts" --output "$work/$1/out" "${@:3}" \
    > "$work/$1/log" 2>&1
  read -r wall user sys < "$work/$1/time"
  local movie="$work/$1/out/clip.mov" p=()
  for view in 0 1; do
    "$validator" -v error -y -i "$movie" -map "0:v:view:$view" -pix_fmt yuv420p -f rawvideo "$work/dec.yuv"
    p+=("$(ffmpeg -hide_banner -f rawvideo -s 1920x1080 -pix_fmt yuv420p -i "$work/dec.yuv" -f rawvideo \
      -s 1920x1080 -pix_fmt yuv420p -i "$clip/all$view.yuv" -lavfi psnr -f null - 2>&1 |
      sed -n 's/.*average:\([0-9.inf]*\).*/\1/p')")
  done
  echo "$1: wall ${wall} s, CPU $(echo "$user + $sys" | bc) s, $(stat -c %s "$movie") bytes, PSNR L/R ${p[0]} / ${p[1]}"
  echo "$wall" > "$work/$1/wall"
}
road one ""
road chunked ", \"chunkSeconds\": $seconds" --jobs "$k"
grep -h "Chunked encode" "$work/chunked/log" || true
echo "ratio (one / chunked wall): $(echo "scale=3; $(cat "$work/one/wall") / $(cat "$work/chunked/wall")" | bc)"
