#!/usr/bin/env bash
# border-dip.sh BUILD_DIR TOOLS_BIN CLIP_DIR [CHUNK_SECONDS] [TARGET]
# What a chunk border costs in picture quality: CLIP_DIR/clip.m2ts (from film-clip.sh, with its
# reference pictures all0.yuv, all1.yuv) to TARGET ("SBS 3D (MKV)" unless given) in one piece and
# in chunks of CHUNK_SECONDS. The chunked run is cut first (--cut-only), which leaves the chunk
# table in its manifest, then run again to encode and join. Prints per eye the median luma PSNR
# of each file against the reference pictures (compared by picture number) and, around each chunk
# border, the pictures' distance from their file's median: the two before the border, the border,
# the one after, for the chunked file and the one-piece file.
set -euo pipefail
build=$(realpath "$1"); bin=$(realpath "$2"); clip=$(realpath "$3"); seconds=${4:-2.5}
target=${5:-SBS 3D (MKV)}
validator=${KESTROVA_VALIDATOR_FFMPEG:-$HOME/.cache/kestrova/ffmpeg-validator/source/ffmpeg}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
convert() { # NAME CHUNK_SECONDS [OPTION]
  mkdir -p "$work/$1.config/kestrova"
  echo "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"$target\", \"chunkSeconds\": $2}" \
    > "$work/$1.config/kestrova/settings.json"
  env PATH="$bin:$PATH" HOME="$work" XDG_CONFIG_HOME="$work/$1.config" LC_ALL=C "$build/bin/kestrova" \
    --auto-convert --input "$clip/clip.m2ts" --output "$work/$1" ${3:+"$3"} >> "$work/$1.log" 2>&1 </dev/null ||
    [[ ${3:-} == --cut-only ]] || { cat "$work/$1.log" >&2; exit 1; }
}
convert one 100000
convert chunked "$seconds" --cut-only
grep -h '^chunk ' "$work"/chunked/Kestrova_*/chunks/manifest | cut -d' ' -f3 > "$work/borders"
convert chunked "$seconds"
for name in one chunked; do
  movie=$(find "$work/$name" -maxdepth 1 -type f \( -name '*.mkv' -o -name '*.mov' \) | head -1)
  for eye in 0 1; do
    # Each eye's pictures as decoded, one for one, then both inputs timed alike.
    if [[ $movie == *.mkv ]]; then
      ffmpeg -v error -y -i "$movie" -vf "crop=iw/2:ih:$eye*iw/2:0" -fps_mode passthrough -f rawvideo -pix_fmt yuv420p "$work/eye.yuv"
    else
      "$validator" -v error -y -i "$movie" -map "0:v:view:$eye" -pix_fmt yuv420p -f rawvideo "$work/eye.yuv"
    fi
    ffmpeg -v error -f rawvideo -s 1920x1080 -pix_fmt yuv420p -r 24 -i "$work/eye.yuv" \
      -f rawvideo -s 1920x1080 -pix_fmt yuv420p -r 24 -i "$clip/all$eye.yuv" \
      -lavfi "[0:v][1:v]psnr=stats_file=$work/$name.$eye.psnr" -f null -
  done
done
python3 - "$work" <<'PY'
import re, statistics, sys
work = sys.argv[1]
def psnr(name):
    return [float(re.search(r'psnr_y:([0-9.]+|inf)', line).group(1)) for line in open(f'{work}/{name}')]
borders = [int(b) for b in open(f'{work}/borders').read().split() if int(b) > 0]
for eye in (0, 1):
    one, chunked = psnr(f'one.{eye}.psnr'), psnr(f'chunked.{eye}.psnr')
    m1, mc = statistics.median(one), statistics.median(chunked)
    low = lambda pictures, median: min((value - median, i) for i, value in enumerate(pictures))
    (lc, ic), (l1, i1) = low(chunked, mc), low(one, m1)
    print(f'eye {eye}: {len(chunked)} pictures, median {mc:.2f} dB chunked, {m1:.2f} one piece; '
          f'lowest picture {lc:+.2f} chunked (picture {ic}), {l1:+.2f} one piece (picture {i1})')
    for b in borders:
        around = range(max(0, b - 2), min(len(one), len(chunked), b + 2))
        print(f'  border at {b}: chunked', ' '.join(f'{chunked[i] - mc:+.2f}' for i in around),
              '| one piece', ' '.join(f'{one[i] - m1:+.2f}' for i in around))
PY
