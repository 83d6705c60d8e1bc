#!/usr/bin/env bash
# A Blu-ray 3D clip to Vision Pro, three ways side by side in one run:
#   converter  MVHEVCConverter alone, encoding the clip's already-decoded view
#              pairs from a file (the floor: one encode, nothing else)
#   one-encode the whole `kestrova --auto-convert` run that keeps no
#              side-by-side file (demux, decode and encode overlapped)
#   both       the whole run that keeps the side-by-side file: one decode
#              feeding both encoders at once
#   two-encode the old road, by hand: a side-by-side run (H.264, so a little
#              faster than the old HEVC intermediate), then MVHEVCConverter
#              on its file
# Prints each wall time, its ratio to the converter alone, the file sizes and,
# with the MV-HEVC validator at hand, each view's PSNR against the JM
# decoder's pictures.
#
#   one-encode-bench.sh [FRAMES] [WIDTHxHEIGHT] [QUALITY]
# Defaults: 240 pairs of 1920x1080, the "High Quality" setting (or "Balanced"). Needs a
# built tree (KESTROVA_BUILD_DIR, default build/debug) and the tools made by
# scripts/build-tools. The clip is made once and kept in the build tree.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${KESTROVA_BUILD_DIR:-$root/build/debug}" && pwd)
frames=${1:-240}
size=${2:-1920x1080}
quality=${3:-High Quality}
case $quality in
  "High Quality") converterQuality=(0.85 25) ;;
  Balanced) converterQuality=(0.7) ;;
  *) echo "quality: High Quality or Balanced" >&2; exit 2 ;;
esac
width=${size%x*} height=${size#*x}
tools=$("$root/scripts/build-tools" --prefix ldecod lencod tsmuxer)/bin
program=$build/bin/kestrova
toolsFolder=$build/share/kestrova/tools

clip=$build/bench-clips/$frames-$size
if [ ! -f "$clip/clip.m2ts" ]; then
  echo "making a $frames-pair $size clip with the JM encoder (once)..." >&2
  "$root/../shared/testdata/bluray/make-clip.sh" "$tools" "$clip" "$frames" "$size" >/dev/null
  # The decoded pairs the converter alone reads, as the streaming decoder writes them.
  "$toolsFolder/ldecod-pipe" -p InputFile="$clip/mvc.264" -p OutputFile=output.yuv -p DecodeAllLayers=1 \
    >"$clip/pairs.yuv" 2>/dev/null
  rm -f "$clip"/left.yuv "$clip"/right.yuv "$clip"/rec_v*.yuv
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
seconds() { # command... ; prints the wall seconds it took
  local start end
  start=$(date +%s.%N)
  "$@" >"$scratch/last.log" 2>&1 || { cat "$scratch/last.log" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
convert() { # target keep-side-by-side output-folder
  mkdir -p "$scratch/config/kestrova"
  printf '{"qualityPreset": "%s", "outputTarget": "%s", "keepSBSIntermediate": %s}\n' \
    "$quality" "$1" "$2" >"$scratch/config/kestrova/settings.json"
  XDG_CONFIG_HOME=$scratch/config "$program" --input "$clip/clip.m2ts" --auto-convert --output "$3"
}
twoEncodes() {
  convert "SBS 3D (MKV)" true "$scratch/two"
  "$toolsFolder/MVHEVCConverter" "$scratch/two/clip_SBS.mkv" "$scratch/two/clip.mov" "${converterQuality[@]}"
}
alone() {
  # The quality and cap that the setting hands the converter.
  "$toolsFolder/MVHEVCConverter" - "$scratch/alone.mov" "${converterQuality[@]}" --view-size "$size" --frame-rate 24000/1001 \
    --sound "$clip/clip.m2ts" --pairs "$frames" <"$clip/pairs.yuv"
}

alone_s=$(seconds alone)
one_s=$(seconds convert "Apple Vision Pro (MV-HEVC)" false "$scratch/one")
both_s=$(seconds convert "Apple Vision Pro (MV-HEVC)" true "$scratch/both")
two_s=$(seconds twoEncodes)

psnr() { # file view reference
  local validator=$HOME/.cache/kestrova/ffmpeg-validator/bin/ffmpeg
  [ -x "$validator" ] || { echo "-"; return; }
  "$validator" -v error -i "$1" -map "0:v:view:$2" -pix_fmt yuv420p -f rawvideo -y "$scratch/view.yuv"
  ffmpeg -v info -f rawvideo -pix_fmt yuv420p -s "$size" -i "$scratch/view.yuv" \
    -f rawvideo -pix_fmt yuv420p -s "$size" -i "$3" -lavfi psnr -f null - 2>&1 |
    sed -n 's/.* average:\([0-9.inf]*\).*/\1/p'
}
report() { # name seconds file
  local bytes
  bytes=$(stat -c %s "$3")
  printf '%-11s %8.1f s  %5.2fx  %10d bytes  PSNR view0 %s  view1 %s\n' "$1" "$2" "$(echo "$2 / $alone_s" | bc -l)" \
    "$bytes" "$(psnr "$3" 0 "$clip/ref_ViewId0000.yuv")" "$(psnr "$3" 1 "$clip/ref_ViewId0001.yuv")"
}
echo "$frames pairs of $size, quality $quality, $(nproc) cores"
report converter "$alone_s" "$scratch/alone.mov"
report one-encode "$one_s" "$scratch/one/clip.mov"
report both "$both_s" "$scratch/both/clip.mov"
report two-encode "$two_s" "$scratch/two/clip.mov"
