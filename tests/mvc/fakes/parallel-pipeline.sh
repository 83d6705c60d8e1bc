#!/bin/bash
# A stand-in for the segment-parallel script, placed in test tool folders
# beside the ldecod-pipe double. It takes the real script's arguments, writes
# them one per line to parallel-pipeline.args beside itself, prints the phase
# lines the engine reads, and produces the output with one "segment":
# ldecod-pipe | yuv_hstack | ffmpeg (libx264, so the test needs no HEVC).
# A file parallel-pipeline.fail beside it makes a worker fail; a file
# parallel-pipeline.hang makes the run wait on a child whose pid it writes
# to parallel-pipeline.sleeper (for cancel tests).
set -o pipefail
here=$(dirname "$0")
printf '%s\n' "$@" > "$here/parallel-pipeline.args"
input=$1 audio=$2 output=$3
shift 3
swap="" mvc_option=() mvhevc=0
while [ $# -gt 0 ]; do
  case $1 in
    --width) width=$2; shift ;;
    --height) height=$2; shift ;;
    --fps) fps=$2; shift ;;
    --swap) swap=swap ;;
    --mvhevc) mvhevc=1 ;;
    --dual-split) mvc_option=(-p "MvcInputFile=$3"); shift 2 ;;
    --quality|--audio-args|--workdir|--estimated-size|--maxrate) shift ;;
  esac
  shift
done
echo "Phase 1: scanning access units"
echo "Split into 1 segments"
if [ -e "$here/parallel-pipeline.hang" ]; then
  sleep 60 &
  echo $! > "$here/parallel-pipeline.sleeper"
  echo "Phase 2 time: waiting"
  wait
fi
if [ -e "$here/parallel-pipeline.fail" ]; then
  echo "ERROR: worker_0 failed (ldecod-pipe exited 1)" >&2
  echo "worker_0 FAILED"
  exit 1
fi
"$here/ldecod-pipe" -p "InputFile=$input" "${mvc_option[@]}" -p OutputFile=output.yuv -p DecodeAllLayers=1 \
  | "$here/yuv_hstack" "$width" "$height" $swap \
  | "$here/ffmpeg" -v error -y -f rawvideo -pix_fmt yuv420p -s "$((2 * width))x$height" -r "$fps" -i pipe:0 \
      -i "$audio" -map 0:v -map '1:a:0?' -c:v libx264 -crf 30 -c:a aac -shortest "$output" || exit 1
echo "worker_0 done"
echo "Phase 2 time: 1s"
echo "Phase 3: Concat 1 segments"
if [ "$mvhevc" = 1 ]; then
  cp "$output" "${output%_SBS.mov}.mov"
fi
echo "COMPLETE"
echo "Total time: 1s"
echo "Output: $output"
