#!/bin/bash
# parallel-pipeline.sh INPUT SOURCE OUTPUT --width W --height H --fps NUM/DEN
#     --workdir DIR [--swap] [--dual-split BASE MVC] [--workers N]
#     --encode ARG... --join ARG...
#
# Decodes and encodes a two-view H.264 MVC stream segment by segment, with as
# many workers as there are cores, and joins the segments into one Full
# Side-by-Side file without encoding again.
#
#   INPUT     the interleaved stream (nal-interleave's output), fed to the
#             workers through pipes; with --dual-split it is the base view
#             and is ignored in favour of BASE
#   SOURCE    the original file, the join's second input (its sound and more)
#   OUTPUT    the side-by-side file to write
#   --workdir where the segment folder is made (removed on exit, whatever
#             the outcome)
#   --swap    the source stores the right eye first
#   --dual-split BASE MVC   split the two views' own streams at the same
#             access units into segment files (nal-dual-split) and interleave
#             each piece on the fly into a FIFO (nal-interleave)
#   --workers N  instead of the core count (also KESTROVA_PARALLEL_WORKERS)
#   --encode ARG  one argument of each segment's video encode (codec,
#             quality, rate cap), repeated for each; the program's encoder
#             table makes them
#   --join ARG  one argument of the join's output options (the maps of
#             SOURCE's tracks, the sound encoder, the container's tags),
#             repeated for each
#
# The helpers (ldecod-pipe, yuv_hstack, nal-scan, nal-dual-split,
# nal-interleave) are taken from this script's folder; ffmpeg from this
# folder or the PATH.
#
# Standard output carries the phase lines: "=== Phase 1: ...", "Split into N
# segments", "worker_K: ... done ...", "Phase 2 time: Xs", "=== Phase 3:
# Concat ...", "COMPLETE", "Total time: Xs", "Output: PATH". Standard error
# carries "ERROR: ..." lines. Exit status 0 on success, 1 on any failure,
# 2 for a wrong command line, 128 + N after signal N.
set -euo pipefail
export LC_ALL=C
set -m # every worker runs in its own process group, so it can be ended whole

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
started=$EPOCHREALTIME

fail() {
  echo "ERROR: $*" >&2
  exit 1
}
usage() {
  echo "usage: parallel-pipeline.sh INPUT SOURCE OUTPUT --width W --height H --fps N/D --workdir DIR [--swap] [--dual-split BASE MVC] [--workers N] --encode ARG... --join ARG..." >&2
  exit 2
}
since() {
  awk -v now="$EPOCHREALTIME" -v then="$1" 'BEGIN { printf "%.1f", now - then }'
}

# --- command line ---------------------------------------------------------
[[ $# -ge 3 ]] || usage
input=$1 source=$2 output=$3
shift 3
width="" height="" fps="" workdir="" swap=0 dual_base="" dual_mvc=""
workers=${KESTROVA_PARALLEL_WORKERS:-}
video_args=() join_args=()
while [[ $# -gt 0 ]]; do
  case $1 in
  --width) width=${2:-}; shift 2 || usage ;;
  --height) height=${2:-}; shift 2 || usage ;;
  --fps) fps=${2:-}; shift 2 || usage ;;
  --workdir) workdir=${2:-}; shift 2 || usage ;;
  --workers) workers=${2:-}; shift 2 || usage ;;
  --encode) [[ $# -ge 2 ]] || usage; video_args+=("$2"); shift 2 ;;
  --join) [[ $# -ge 2 ]] || usage; join_args+=("$2"); shift 2 ;;
  --dual-split)
    [[ $# -ge 3 ]] || usage
    dual_base=$2 dual_mvc=$3
    shift 3
    ;;
  --swap) swap=1; shift ;;
  *) usage ;;
  esac
done
[[ $width =~ ^[1-9][0-9]*$ && $height =~ ^[1-9][0-9]*$ ]] || usage
[[ $fps =~ ^[1-9][0-9]*(/[1-9][0-9]*)?$ ]] || usage
[[ -n $workdir && ${#video_args[@]} -gt 0 ]] || usage
[[ -z $workers ]] && workers=$(nproc 2>/dev/null || echo 1)
[[ $workers =~ ^[1-9][0-9]*$ ]] || usage

# --- tools -------------------------------------------------------------------
tool() {
  if [[ -x "$here/$1" ]]; then
    echo "$here/$1"
  elif [[ $2 == path ]] && command -v "$1" >/dev/null; then
    command -v "$1"
  else
    fail "$1 not found beside $0"
  fi
}
ldecod_pipe=$(tool ldecod-pipe here)
yuv_hstack=$(tool yuv_hstack here)
ffmpeg=$(tool ffmpeg path)
if [[ -n $dual_base ]]; then
  nal_dual_split=$(tool nal-dual-split here)
  nal_interleave=$(tool nal-interleave here)
  [[ -f $dual_base && -f $dual_mvc ]] || fail "dual-split input not found: $dual_base / $dual_mvc"
else
  nal_scan=$(tool nal-scan here)
  [[ -f $input ]] || fail "input stream not found: $input"
fi
[[ -d $workdir ]] || fail "work folder not found: $workdir"
workdir=$(cd -- "$workdir" && pwd) # ffmpeg's concat list resolves relative names from its own folder

# --- clean-up ------------------------------------------------------------------
segdir="" fifodir=""
worker_pids=()
# Whether any worker's process group still has a running member. Exited
# members wait as zombies until their new parent reaps them, and kill -0
# counts those; /proc tells them apart where it exists.
workers_alive() {
  local pid stat line fields
  if [[ ! -r /proc/self/stat ]]; then
    for pid in "${worker_pids[@]}"; do
      kill -0 -- "-$pid" 2>/dev/null && return 0
    done
    return 1
  fi
  for stat in /proc/[0-9]*/stat; do
    # A process may end between the glob and the read.
    { read -r line <"$stat"; } 2>/dev/null || continue
    # "pid (name) state ppid pgrp ...": the name may hold spaces and parentheses.
    read -r -a fields <<<"${line##*) }"
    [[ ${fields[0]} == Z ]] && continue
    for pid in "${worker_pids[@]}"; do
      [[ ${fields[2]} == "$pid" ]] && return 0
    done
  done
  return 1
}
cleanup() {
  # A stop signal arriving now (a cancel sends SIGTERM to this script and to
  # its group) would run its trap's exit inside this one and end the shell
  # before every worker was stopped.
  trap '' INT TERM HUP
  local pid
  for pid in "${worker_pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null || true
  done
  # Each worker's pipeline ends its own decoder on SIGTERM. All of them get
  # 2 s together, then are ended hard: inside the 3 s the program waits for
  # this script before it kills the script's group, which the workers are
  # not part of.
  for _ in {1..40}; do
    workers_alive || break
    sleep 0.05
  done
  for pid in "${worker_pids[@]}"; do
    if kill -0 -- "-$pid" 2>/dev/null; then
      kill -KILL -- "-$pid" 2>/dev/null || true
    fi
  done
  for pid in "${worker_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [[ -n $segdir ]]; then
    rm -rf -- "$segdir"
  fi
  if [[ -n ${fifodir:-} && $fifodir != "${segdir:-}" ]]; then
    rm -rf -- "$fifodir"
  fi
}
trap cleanup EXIT
for sig in INT TERM HUP; do
  # shellcheck disable=SC2064 # the signal number is fixed when the trap is set
  trap "trap '' INT TERM HUP; echo 'ERROR: stopped by SIG$sig' >&2; exit $((128 + $(kill -l "$sig")))" "$sig"
done
segdir=$(mktemp -d "$workdir/parallel_segments.XXXXXX") || fail "cannot make a segment folder in $workdir"
# The dual split's FIFOs go where FIFOs can exist: the segment folder, or a
# private scratch folder when the work folder's file system has none (exFAT).
if [[ -n $dual_base ]]; then
  if mkfifo "$segdir/probe.fifo" 2>/dev/null; then
    rm -f -- "$segdir/probe.fifo"
    fifodir=$segdir
  else
    for place in "${XDG_RUNTIME_DIR:-}" "${TMPDIR:-/tmp}"; do
      [[ $place == /* && -d $place ]] || continue
      fifodir=$(mktemp -d "$place/kestrova-fifos.XXXXXX" 2>/dev/null) || continue
      mkfifo "$fifodir/probe.fifo" 2>/dev/null && break
      rm -rf -- "$fifodir"
      fifodir=""
    done
    [[ -n $fifodir ]] || fail "cannot make a FIFO in $workdir or in a temporary folder"
    rm -f -- "$fifodir/probe.fifo"
    echo "No FIFOs in $workdir: named pipes are in $fifodir"
  fi
fi

# --- phase 1: split ------------------------------------------------------------
phase1=$EPOCHREALTIME
segment_inputs=() segment_mvc=() segment_units=() segment_ranges=()
if [[ -n $dual_base ]]; then
  echo "=== Phase 1: dual split of $(basename -- "$dual_base") + $(basename -- "$dual_mvc") for $workers workers ==="
  split_report=$("$nal_dual_split" --segments "$workers" "$dual_base" "$dual_mvc" "$segdir/seg") ||
    fail "nal-dual-split FAILED on $dual_base and $dual_mvc"
  # The report's piece names follow from the prefix and the index; read
  # from the report they would break at a blank in the work folder's path.
  while read -r _ index first units _; do
    printf -v piece '%s/seg_%03d' "$segdir" "$index"
    segment_inputs[index]="$piece.264"
    segment_mvc[index]="$piece.mvc"
    segment_units[index]="$first-$((first + units - 1))"
  done <<<"$split_report"
else
  echo "=== Phase 1: scanning $(basename -- "$input") for split points for $workers workers ==="
  split_report=$("$nal_scan" --segments "$workers" "$input") || fail "nal-scan FAILED on $input"
  while read -r _ index first units offset length; do
    segment_units[index]="$first-$((first + units - 1))"
    segment_ranges[index]="$offset $length"
    if [[ $workers == 1 || $split_report != *$'\n'* ]]; then
      segment_inputs[index]=$input # one segment: the stream itself
    else
      segment_inputs[index]=/dev/stdin
    fi
  done <<<"$split_report"
fi
count=${#segment_inputs[@]}
[[ $count -ge 1 ]] || fail "no access units found in the input stream"
echo "Split into $count segments"
echo "Split finished in $(since "$phase1")s"

# --- phase 2: decode and encode -------------------------------------------------
# Bytes OFFSET.. (LENGTH of them) of FILE on standard output. One process
# that stops by itself after LENGTH bytes: a reader that stops early is a
# real failure, where "tail | head" under pipefail failed every range but
# the last (tail dies of SIGPIPE once head has its bytes).
byte_range() {
  dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" bs=1M status=none
}
# nal-interleave BASE MVC into FIFO. An interleaver that fails before it
# opened the FIFO would leave the decoder waiting for a writer forever; a
# writer that opens and closes gives the decoder its end of stream instead.
# The open waits for the reader (which may not have opened yet), but not
# for ever: a decoder that already died never comes.
interleave_into() {
  local fifo=$1 status=0
  "$nal_interleave" "$2" "$3" "$fifo" || status=$?
  if [[ $status != 0 ]]; then
    timeout 30 bash -c ': >"$1"' _ "$fifo" 2>/dev/null || true
  fi
  return "$status"
}
# One worker: [interleave into a FIFO |] ldecod-pipe | yuv_hstack | ffmpeg.
decode_segment() {
  local index=$1 stream_input=$2 part=$3
  local hstack_args=("$width" "$height")
  [[ $swap == 1 ]] && hstack_args+=(swap)
  "$ldecod_pipe" -p "InputFile=$stream_input" -p "OutputFile=$segdir/view_$index.yuv" -p DecodeAllLayers=1 |
    "$yuv_hstack" "${hstack_args[@]}" |
    "$ffmpeg" -hide_banner -loglevel error -nostdin -y -f rawvideo -pix_fmt yuv420p -s "$((2 * width))x$height" \
      -r "$fps" -i pipe:0 "${video_args[@]}" -pix_fmt yuv420p -an "$part"
}
run_worker() {
  local index=$1 began=$EPOCHREALTIME
  local part="$segdir/part_$index.mkv" log="$segdir/worker_$index.log"
  local status=0
  if [[ -n $dual_base ]]; then
    local fifo="$fifodir/seg_$index.fifo"
    mkfifo "$fifo"
    interleave_into "$fifo" "${segment_inputs[index]}" "${segment_mvc[index]}" 2>>"$log" &
    local interleaver=$!
    decode_segment "$index" "$fifo" "$part" 2>>"$log" || status=$?
    if ! wait "$interleaver"; then
      [[ $status != 0 ]] || status=1
    fi
  elif [[ ${segment_inputs[index]} == /dev/stdin ]]; then
    local range
    read -r -a range <<<"${segment_ranges[index]}"
    # A stream that carries its parameter sets only once needs those in
    # force at the range's start sent in front of it.
    { "$nal_scan" --parameter-sets "${range[0]}" "$input" && byte_range "$input" "${range[0]}" "${range[1]}"; } |
      decode_segment "$index" /dev/stdin "$part" 2>>"$log" || status=$?
  else
    decode_segment "$index" "${segment_inputs[index]}" "$part" 2>>"$log" || status=$?
  fi
  if [[ $status != 0 ]]; then
    echo "ERROR: worker_$index FAILED (exit $status) on units ${segment_units[index]}" >&2
    tail -n 5 -- "$log" | sed "s/^/ERROR: worker_$index: /" >&2
    return "$status"
  fi
  echo "worker_$index: segment $index (units ${segment_units[index]}) done in $(since "$began")s"
}

phase2=$EPOCHREALTIME
echo "=== Phase 2: decoding and encoding $count segments with $workers workers ==="
for ((index = 0; index < count; index++)); do
  run_worker "$index" &
  worker_pids+=("$!")
done
failed=0
for pid in "${worker_pids[@]}"; do
  wait "$pid" || failed=$((failed + 1))
done
worker_pids=()
[[ $failed == 0 ]] || fail "$failed of $count workers FAILED; no output written"
echo "Phase 2 time: $(since "$phase2")s"

# --- phase 3: join and add the audio ---------------------------------------------
echo "=== Phase 3: Concat $count segments and add the source audio ==="
list="$segdir/parts.txt"
: >"$list"
for ((index = 0; index < count; index++)); do
  part="$segdir/part_$index.mkv"
  printf "file '%s'\n" "${part//\'/\'\\\'\'}" >>"$list"
done
# The sound ends with the pictures. -shortest would also end everything at the
# last subtitle of a copied video stream, so with subtitles the length is
# given: the access units of all segments at the frame rate.
end_args=(-shortest)
if [[ " ${join_args[*]} " == *" 1:s? "* ]]; then
  last_unit=${segment_units[count - 1]##*-}
  end_args=(-t "$(awk -v n="$((last_unit + 1))" -v rate="$fps" \
    'BEGIN { split(rate, r, "/"); if (r[2] == "") r[2] = 1; printf "%.6f", n * r[2] / r[1] }')")
fi
"$ffmpeg" -hide_banner -loglevel error -nostdin -y -f concat -safe 0 -i "$list" -i "$source" \
  -map 0:v -c:v copy "${join_args[@]}" "${end_args[@]}" "$output" 2>"$segdir/concat.log" ||
  {
    sed 's/^/ERROR: concat: /' "$segdir/concat.log" >&2
    fail "joining the segments FAILED"
  }
[[ $fifodir == "$segdir" ]] || rm -rf -- "$fifodir"
rm -rf -- "$segdir"
segdir="" fifodir=""
echo "COMPLETE"
echo "Total time: $(since "$started")s"
echo "Output: $output"
