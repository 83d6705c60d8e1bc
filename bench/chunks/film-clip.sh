#!/usr/bin/env bash
# film-clip.sh BUILD_DIR TOOLS_BIN [PAIRS] [COPIES]
# A Blu-ray-like 1080p 3D clip whose pictures cost what film costs: PAIRS film-like pairs
# (testdata film-like-pairs.sh) encoded in Stereo High by the JM encoder with the test data's
# Blu-ray settings (two halves at once, each from an IDR), the stream COPIES times over, put in
# Blu-ray NAL order and multiplexed by tsMuxeR with AC3 sound. Reference pictures: the JM
# encoder's reconstructed pictures of each view, repeated (the JM decoder's pictures, see
# docs/measurements.md). Made once under BUILD_DIR/bench-media; prints the folder.
set -euo pipefail
build=$(realpath "$1"); bin=$(realpath "$2"); pairs=${3:-96}; copies=${4:-5}
data=/work/shared/testdata; view=$((1920 * 1080 * 3 / 2)); half=$((pairs / 2))
clip="$build/bench-media/film${pairs}x$copies"; mkdir -p "$clip"
if [[ ! -s $clip/clip.m2ts ]]; then
  cd "$clip"
  [[ -s film.pairs ]] || bash "$data/film-like-pairs.sh" film.pairs "$pairs" 1920x1080 >&2
  python3 - film.pairs "$view" l.yuv r.yuv <<'PY'
import sys
src, size = open(sys.argv[1], 'rb'), int(sys.argv[2])
left, right = open(sys.argv[3], 'wb'), open(sys.argv[4], 'wb')
while (a := src.read(size)) and len(a) == size:
    left.write(a); right.write(src.read(size))
PY
  for h in 0 1; do
    for eye in l r; do dd if=$eye.yuv of=$eye$h.yuv bs=$view skip=$((h * half)) count=$half status=none; done
    { cat "$data/bluray/encoder-view1.cfg"; printf 'InputFile = "%s"\nReconFile = "%s"\n' "$PWD/r$h.yuv" "$PWD/rec1_$h.yuv"; } > view1_$h.cfg
    "$bin/lencod" -d "$data/bluray/encoder-base.cfg" -f "$data/bluray/encoder-mvc.cfg" \
      -p InputFile="$PWD/l$h.yuv" -p ReconFile="$PWD/rec0_$h.yuv" -p OutputFile="$PWD/mvc$h.264" \
      -p View1ConfigFile="$PWD/view1_$h.cfg" -p FramesToBeEncoded=$half -p SourceWidth=1920 -p SourceHeight=1080 \
      -p OutputWidth=1920 -p OutputHeight=1080 > lencod$h.log 2>&1 &
  done
  wait
  for ((i = 0; i < copies; i++)); do cat mvc0.264 mvc1.264; done > mvc.264
  for v in 0 1; do for ((i = 0; i < copies; i++)); do cat rec${v}_0.yuv rec${v}_1.yuv; done > all$v.yuv; done
  [[ $(stat -c %s all1.yuv) -eq $((pairs * copies * view)) ]] || { echo "JM encoder fell short" >&2; exit 1; }
  python3 "$data/bluray/bluray_order.py" mvc.264 bd.264 && python3 "$data/bluray/split_views.py" bd.264 base.264 dep.mvc
  ffmpeg -v error -y -f lavfi -i "sine=duration=$((pairs * copies / 24 + 1))" -ac 2 -c:a ac3 audio.ac3
  printf '%s\n' 'MUXOPT --no-pcr-on-video-pid --new-audio-pes --vbr --vbv-len=500' \
    'V_MPEG4/ISO/AVC, "base.264", insertSEI, contSPS, fps=23.976' 'V_MPEG4/ISO/MVC, "dep.mvc", fps=23.976' \
    'A_AC3, "audio.ac3"' > clip.meta
  "$bin/tsmuxer" clip.meta clip.m2ts > tsmuxer.log
  rm -f film.pairs l.yuv r.yuv l?.yuv r?.yuv rec?_?.yuv bd.264
fi
echo "$clip"
