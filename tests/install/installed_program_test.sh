#!/usr/bin/env bash
# installed_program_test.sh BUILD_DIR
# Installs BUILD_DIR into a scratch prefix, checks the installed layout and
# converts a tiny side-by-side clip with the installed program (default
# Vision Pro target, so the installed MVHEVCConverter is found and used).
set -euo pipefail
build=$1
scratch=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix with space"

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/kestrova share/kestrova/tools/MVHEVCConverter share/kestrova/tools/yuv_hstack \
  share/kestrova/tools/ldecod-pipe share/kestrova/tools/parallel-pipeline.sh; do
  [ -x "$prefix/$file" ] || fail "$file is not installed as a program"
done
if grep -q '^KESTROVA_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  [ -f "$prefix/share/applications/kestrova.desktop" ] || fail "no desktop entry"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/kestrova.svg" ] || fail "no icon"
fi

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=128x72:rate=24 \
  -filter_complex "[0:v]split[l][r];[l][r]hstack" -t 1 -c:v libx264 -pix_fmt yuv420p "$scratch/clip.mov"
# A private home and configuration, so the user's settings and Desktop stay untouched.
mkdir -p "$scratch/home"
out=$(cd / && HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" PATH=/usr/bin:/bin \
  "$prefix/bin/kestrova" --input "$scratch/clip.mov" --auto-convert --output "$scratch/out" 2>&1) ||
  fail "installed program failed: $out"
grep -q "✅ Conversion complete: $scratch/out/clip_MV-HEVC.mov" <<<"$out" || fail "unexpected output: $out"
[ -s "$scratch/out/clip_MV-HEVC.mov" ] || fail "no MV-HEVC file"
echo "installed program converted the clip"
