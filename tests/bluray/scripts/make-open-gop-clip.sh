#!/usr/bin/env bash
# Makes a Blu-ray 3D transport stream whose GOPs are open, the way many disc
# encoders write films: an IDR picture first, then every 12 pictures an I
# picture that is not IDR, marked with a recovery point SEI, whose leading B
# pictures (decoded after it, shown before it) refer to the GOP before.
#
#   make-open-gop-clip.sh TOOLS_DIR CLIPS_DIR OUT_DIR FRAMES WIDTHxHEIGHT PYRAMID
# TOOLS_DIR holds lencod, ldecod and tsmuxer (scripts/build-tools); CLIPS_DIR
# the reference clips' folder (its encoder settings and Blu-ray order
# scripts). PYRAMID 1: three B pictures between P pictures, the middle one a
# reference picture (a B pyramid); 0: two B pictures, neither a reference.
# The picture order count wraps every 16 pictures (5 bits of it), as long films
# wrap theirs. Writes OUT_DIR/clip.m2ts (base view PID 0x1011, MVC view
# 0x1012, AC3) and the JM decoder's pictures of the two views,
# OUT_DIR/ref_ViewId0000.yuv and ref_ViewId0001.yuv.
set -euo pipefail
tools=$(cd "$1" && pwd); clips=$(cd "$2" && pwd); here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$3"; out=$(cd "$3" && pwd)
frames=$4; size=$5; w=${size%x*}; h=${size#*x}
if [ "$6" = 1 ]; then gop=(-p NumberBFrames=3 -p HierarchicalCoding=2 -p BReferencePictures=1)
else gop=(-p NumberBFrames=2); fi
cd "$out"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=24000/1001" -frames:v "$frames" -pix_fmt yuv420p -f rawvideo left.yuv
ffmpeg -v error -y -f lavfi -i "testsrc=size=$size:rate=24000/1001" -frames:v "$frames" -pix_fmt yuv420p -f rawvideo right.yuv
ffmpeg -v error -y -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=$(( frames / 24 + 1 ))" -ac 2 -c:a ac3 -b:a 192k audio.ac3
{ cat "$clips/encoder-view1.cfg"; printf 'InputFile = "%s"\nReconFile = "%s"\n' "$out/right.yuv" "$out/rec_v1.yuv"; } > view1.cfg
"$tools/lencod" -d "$clips/encoder-base.cfg" -f "$clips/encoder-mvc.cfg" \
  -p IDRPeriod=0 -p EnableOpenGOP=1 -p ResendSPS=3 -p Log2MaxPOCLsbMinus4=1 "${gop[@]}" \
  -p InputFile="$out/left.yuv" -p ReconFile="$out/rec_v0.yuv" -p OutputFile="$out/mvc.264" \
  -p View1ConfigFile="$out/view1.cfg" -p FramesToBeEncoded="$frames" \
  -p SourceWidth="$w" -p SourceHeight="$h" -p OutputWidth="$w" -p OutputHeight="$h" > lencod.log 2>&1
python3 "$here/add_recovery_points.py" mvc.264 marked.264
python3 "$clips/bluray_order.py" marked.264 mvc_bd.264
python3 "$clips/split_views.py" mvc_bd.264 base.264 dep.mvc
cat > clip.meta <<M
MUXOPT --no-pcr-on-video-pid --new-audio-pes --vbr --vbv-len=500
V_MPEG4/ISO/AVC, "$out/base.264", insertSEI, contSPS, fps=23.976
V_MPEG4/ISO/MVC, "$out/dep.mvc", fps=23.976
A_AC3, "$out/audio.ac3"
M
"$tools/tsmuxer" clip.meta part.m2ts > tsmuxer.log 2>&1
"$tools/ldecod" -p InputFile=marked.264 -p OutputFile=ref.yuv -p DecodeAllLayers=1 > ldecod.log 2>&1
rm -f left.yuv right.yuv rec_v0.yuv rec_v1.yuv
mv part.m2ts clip.m2ts
