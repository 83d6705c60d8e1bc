#!/usr/bin/env bash
# package_test.sh BUILD_DIR SOURCE_DIR
# Packages BUILD_DIR with scripts/package, installs the .deb with apt on this
# machine, converts clips with the installed kestrova from a folder of its
# own, reads its manual page and completion the way a user's shell does, and
# purges the package again, checking that none of its files is left.
# Needs root; skips (77) without it or when a kestrova is already installed,
# which it must not replace. Never downloads: the dependencies are there
# already (scripts/deps.sh), or the test fails saying which are missing.
set -euo pipefail
build=$1
source_dir=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
if status=$(dpkg-query -W -f='${db:Status-Abbrev}' kestrova 2>/dev/null) && [ "${status:1:1}" != "n" ]; then
  skip "a kestrova package is already on this machine ($status); not touching it"
fi
for path in /usr/bin/kestrova /usr/share/kestrova; do
  [ ! -e "$path" ] || skip "$path exists (installed by hand?); not touching it"
done

scratch=$(mktemp -d "$build/package-test.XXXXXX")
installed=false
cleanup() {
  # Only if this test installed it, and only by package name.
  if $installed; then dpkg --purge kestrova >/dev/null 2>&1 || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

deb=$("$source_dir/scripts/package" --build-dir "$build" --output-dir "$scratch" 2>"$scratch/package.log") ||
  fail "scripts/package failed: $(tail -n 20 "$scratch/package.log")"

# What the package holds and needs.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expected=(./usr/bin/kestrova ./usr/share/man/man1/kestrova.1.gz ./usr/share/bash-completion/completions/kestrova
  ./usr/share/doc/kestrova/copyright)
for tool in MVHEVCConverter ldecod-pipe yuv_hstack nal-scan nal-dual-split nal-interleave parallel-pipeline.sh; do
  expected+=("./usr/share/kestrova/tools/$tool")
done
third_party=$(sed -n 's/^KESTROVA_THIRD_PARTY_PREFIX:PATH=//p' "$build/CMakeCache.txt")
for tool in ldecod tsmuxer; do
  [ -n "$third_party" ] && [ -x "$third_party/bin/$tool" ] && expected+=("./usr/share/kestrova/tools/$tool")
done
depends=$(dpkg-deb -f "$deb" Depends)
required_depends=(ffmpeg libc6)
if grep -q '^KESTROVA_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  expected+=(./usr/share/applications/kestrova.desktop ./usr/share/icons/hicolor/scalable/apps/kestrova.svg)
  required_depends+=(libqt6widgets6 libqt6dbus6 libqt6svg6)
fi
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
for package in "${required_depends[@]}"; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

# Everything the package needs must be here already: no download.
plan=$(apt-get install -s --no-download --no-install-recommends "$deb" 2>&1) || fail "apt cannot install the package: $plan"
others=$(grep '^Inst ' <<<"$plan" | awk '$2 != "kestrova" {print $2}' | tr '\n' ' ')
[ -z "$others" ] || fail "installing needs packages that are not here: $others(scripts/deps.sh installs them)"

# apt refuses --no-download for a local .deb; the plan above showed that
# nothing but the package itself is installed.
installed=true
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "$deb" >"$scratch/apt.log" 2>&1 ||
  fail "apt-get install failed: $(tail -n 20 "$scratch/apt.log")"
listing=$(dpkg -L kestrova)

# The installed program, found on PATH, run from an unrelated folder with a
# private home so the user's settings and Desktop stay untouched.
[ "$(PATH=/usr/bin:/bin command -v kestrova)" = /usr/bin/kestrova ] || fail "kestrova is not /usr/bin/kestrova"
elsewhere="$scratch/elsewhere"
mkdir -p "$elsewhere/home"
run_installed() {
  (cd "$elsewhere" && env -i HOME="$elsewhere/home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 kestrova "$@" 2>&1)
}
[[ $(run_installed --version | head -n 1) == "Kestrova "*" (Build "*")" ]] || fail "--version: $(run_installed --version)"

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=128x72:rate=24 \
  -filter_complex "[0:v]split[l][r];[l][r]hstack" -t 1 -c:v libx264 -pix_fmt yuv420p "$elsewhere/clip.mov"
out=$(run_installed --input clip.mov --auto-convert --output out) || fail "converting a side-by-side clip failed: $out"
grep -q "✅ Conversion complete: $elsewhere/out/clip_MV-HEVC.mov" <<<"$out" || fail "unexpected output: $out"

# A Blu-ray 3D clip goes through the shipped tsMuxeR and JM decoder.
testdata=${KESTROVA_TESTDATA_DIR:-$source_dir/../shared/testdata}
if [ -f "$testdata/bluray/clip24.m2ts" ] && [ -x /usr/share/kestrova/tools/tsmuxer ] &&
  [ -x /usr/share/kestrova/tools/ldecod ]; then
  cp "$testdata/bluray/clip24.m2ts" "$elsewhere/disc.m2ts"
  echo '{"outputTarget": "SBS 3D (MKV)"}' >"$scratch/settings.json"
  mkdir -p "$elsewhere/home/.config/kestrova" && cp "$scratch/settings.json" "$elsewhere/home/.config/kestrova/"
  out=$(run_installed --input disc.m2ts --auto-convert --output out) || fail "converting a Blu-ray 3D clip failed: $out"
  [ -s "$elsewhere/out/disc_SBS.mkv" ] || fail "no disc_SBS.mkv: $out"
  # The file's stereo side data adds empty fields after the two asked for.
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width \
    -of csv=p=0 "$elsewhere/out/disc_SBS.mkv" | cut -d, -f1,2)
  [ "$frames" = "3840,24" ] || fail "disc_SBS.mkv has width,frames $frames, expected 3840,24"
else
  echo "note: no Blu-ray clip under $testdata or no tsmuxer/ldecod shipped; only the side-by-side clip was converted"
fi

page=$(MANPAGER=cat MANWIDTH=80 man kestrova 2>&1 | col -b) || fail "man kestrova failed: $page"
if ! grep -q '^NAME' <<<"$page" || ! grep -q 'kestrova - convert stereoscopic 3D video' <<<"$page"; then
  fail "man kestrova does not show the page: $(head -n 5 <<<"$page")"
fi
if [ -f /usr/share/bash-completion/bash_completion ]; then
  loaded=$(bash -c 'source /usr/share/bash-completion/bash_completion; __load_completion kestrova; complete -p kestrova' 2>&1) ||
    true
  [ "$loaded" = "complete -F _kestrova kestrova" ] || fail "bash-completion does not load the completion: $loaded"
fi

apt-get purge -y -q -o DPkg::Lock::Timeout=600 kestrova >"$scratch/apt.log" 2>&1 ||
  fail "apt-get purge failed: $(tail -n 20 "$scratch/apt.log")"
installed=false
left=()
while IFS= read -r path; do
  [ -e "$path" ] || continue
  # A folder may stay when another package owns it or it holds others' files.
  if [ -d "$path" ] && { dpkg -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; }; then
    continue
  fi
  left+=("$path")
done <<<"$listing"
[ ${#left[@]} -eq 0 ] || fail "left behind after purge: ${left[*]}"
[ ! -e /usr/share/kestrova ] || fail "/usr/share/kestrova is still there"
echo "the package installs, converts, documents itself and purges cleanly"
