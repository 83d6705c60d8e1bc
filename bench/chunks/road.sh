#!/usr/bin/env bash
# road.sh BUILD_DIR TOOLS_BIN [CLIP] [CHUNK_SECONDS] [K] [ROUNDS]
# The whole program on a Blu-ray 3D clip to Vision Pro: today's one-encoder road against the
# chunked road (K jobs, chunks of CHUNK_SECONDS), both in one run, ROUNDS rounds whose order
# rotates. CLIP is a folder from film-clip.sh (clip.m2ts and the reference pictures all0.yuv,
# all1.yuv), or a number N: clip24 of the shared test data N times over (24 pairs of 1920x1080
# each, IDRs where each copy's are), multiplexed by the real tsMuxeR, made once under BUILD_DIR
# with the JM decoder's pictures of one copy, repeated, as reference.
# Prints per road and round the wall and CPU seconds, the bytes, the load average before and
# after, the PSNR of both views against the reference pictures (decoded with the MV-HEVC
# validator ffmpeg; once per distinct movie); then the medians. The last log of each road stays
# in BUILD_DIR/bench-media/road-NAME.log.
set -euo pipefail
build=$(realpath "$1"); bin=$(realpath "$2"); source=${3:-20}; seconds=${4:-5}; k=${5:-2}; rounds=${6:-3}
data=/work/shared/testdata/bluray
validator=${KESTROVA_VALIDATOR_FFMPEG:-$HOME/.cache/kestrova/ffmpeg-validator/source/ffmpeg}
if [[ -d $source ]]; then
  clip=$(realpath "$source")
else
  copies=$source; clip="$build/bench-media/clip24x$copies"; mkdir -p "$clip"
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
fi
pairs=$(($(stat -c %s "$clip/all0.yuv") / (1920 * 1080 * 3 / 2)))
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
load() { cut -d' ' -f1 /proc/loadavg; }
psnrs() { # MOVIE -> "LEFT / RIGHT"
  local p=()
  for view in 0 1; do
    "$validator" -v error -y -i "$1" -map "0:v:view:$view" -pix_fmt yuv420p -f rawvideo "$work/dec.yuv"
    p+=("$(ffmpeg -hide_banner -f rawvideo -s 1920x1080 -pix_fmt yuv420p -i "$work/dec.yuv" -f rawvideo \
      -s 1920x1080 -pix_fmt yuv420p -i "$clip/all$view.yuv" -lavfi psnr -f null - 2>&1 |
      sed -n 's/.*average:\([0-9.inf]*\).*/\1/p')")
  done
  rm -f "$work/dec.yuv"; echo "${p[0]} / ${p[1]}"
}
declare -A psnr_of
road() { # NAME ROUND SETTINGS OPTIONS...
  local dir="$work/$1$2"; mkdir -p "$dir/config/kestrova" "$dir/out"
  echo "{\"qualityPreset\": \"Balanced\", \"outputTarget\": \"Apple Vision Pro (MV-HEVC)\"$3}" \
    > "$dir/config/kestrova/settings.json"
  local before; before=$(load)
  /usr/bin/time -f "%e %U %S" -o "$dir/time" env PATH="$bin:$PATH" XDG_CONFIG_HOME="$dir/config" \
    "$build/bin/kestrova" --auto-convert --input "$clip/clip.m2ts" --output "$dir/out" "${@:4}" > "$dir/log" 2>&1
  local wall user sys movie="$dir/out/clip.mov" sum frames
  read -r wall user sys < "$dir/time"
  frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$movie")
  [[ $frames == "$pairs" ]] || { echo "$1: $frames pictures, not $pairs" >&2; cat "$dir/log" >&2; exit 1; }
  sum=$(md5sum < "$movie" | cut -c1-32)
  [[ -n ${psnr_of[$sum]:-} ]] || psnr_of[$sum]=$(psnrs "$movie")
  echo "$wall $(echo "$user + $sys" | bc) $(stat -c %s "$movie") $sum" > "$dir/figures"
  printf '  %-8s wall %7.1f s, CPU %7.1f s, %d bytes, load %s -> %s, PSNR L / R %s dB\n' "$1" \
    "$wall" "$(echo "$user + $sys" | bc)" "$(stat -c %s "$movie")" "$before" "$(load)" "${psnr_of[$sum]}"
  grep -h "Chunked encode" "$dir/log" | sed 's/^/    /' || true
  cp "$dir/log" "$build/bench-media/road-$1.log"
  rm -rf "$dir/out"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2)}'; }
echo "clip $clip: $pairs pairs of 1920x1080; chunks of $seconds s, K=$k; $(nproc) cores; $rounds rounds"
ratios=() bytes=() dl=() dr=() walls_one=() walls_chunked=() cpus_one=() cpus_chunked=()
for ((r = 0; r < rounds; r++)); do
  echo "round $r ($( ((r % 2)) && echo "chunked first" || echo "one encoder first"))"
  if ((r % 2 == 0)); then
    road one $r ""; road chunked $r ", \"chunkSeconds\": $seconds" --jobs "$k"
  else
    road chunked $r ", \"chunkSeconds\": $seconds" --jobs "$k"; road one $r ""
  fi
  read -r w1 c1 b1 s1 < "$work/one$r/figures"; read -r w2 c2 b2 s2 < "$work/chunked$r/figures"
  read -r l1 _ r1 <<< "${psnr_of[$s1]}"; read -r l2 _ r2 <<< "${psnr_of[$s2]}"
  dl+=("$(echo "$l2 - $l1" | bc)"); dr+=("$(echo "$r2 - $r1" | bc)")
  walls_one+=("$w1"); walls_chunked+=("$w2"); cpus_one+=("$c1"); cpus_chunked+=("$c2")
  ratios+=("$(echo "scale=4; $w1 / $w2" | bc)"); bytes+=("$(echo "scale=4; ($b2 - $b1) * 100 / $b1" | bc)")
  printf '  speed ratio (one / chunked wall) %.3f, bytes %+.2f %%, PSNR L / R %+.3f / %+.3f dB\n' \
    "${ratios[-1]}" "${bytes[-1]}" "${dl[-1]}" "${dr[-1]}"
done
printf 'medians over %d rounds: one encoder %.1f s wall / %.1f s CPU, chunked %.1f s wall / %.1f s CPU; speed ratio %.3f; bytes %+.2f %%; PSNR L / R %+.3f / %+.3f dB (chunked - one)\n' \
  "$rounds" "$(median "${walls_one[@]}")" "$(median "${cpus_one[@]}")" "$(median "${walls_chunked[@]}")" \
  "$(median "${cpus_chunked[@]}")" "$(median "${ratios[@]}")" "$(median "${bytes[@]}")" "$(median "${dl[@]}")" "$(median "${dr[@]}")"
