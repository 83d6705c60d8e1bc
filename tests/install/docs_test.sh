#!/usr/bin/env bash
# docs_test.sh BUILD_DIR SOURCE_DIR
# The manual page renders without groff warnings; the bash completion offers
# what a user expects at each position. (Both are made from the option table;
# the cli tests keep them equal to it.)
set -euo pipefail
build=$1
source_dir=$2
page="$source_dir/data/kestrova.1"
completion="$source_dir/data/kestrova.bash-completion"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b)
for section in NAME SYNOPSIS OPTIONS SETTINGS TOOLS "EXIT STATUS" EXAMPLES; do
  grep -q "^$section\$" <<<"$rendered" || fail "the rendered page has no $section section"
done

# Completion: words on the line (last one being completed) -> expected offers.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/films/Folder A" "$scratch/out"
touch "$scratch/films/Movie One.M2TS" "$scratch/films/clip.mkv" "$scratch/films/notes.txt" "$scratch/films/sbs.mov"
cases=(
  "kestrova --in|--input"
  "kestrova --input films/|films/Folder A,films/Movie One.M2TS,films/clip.mkv,films/sbs.mov"
  "kestrova --output o|out"
  "kestrova --duration |"
  "kestrova --input x --auto-convert --o|--output,--overwrite"
  "kestrova --input x --input films/c|films/clip.mkv"
  "kestrova films/s|films/sbs.mov"
  "kestrova --target |sbs,vision-pro"
  "kestrova --layout half|half-sbs,half-tab"
  "kestrova --quality s|smaller"
  "kestrova --playlist |"
  "kestrova --ver|--version"
  "kestrova --input x --ver|"
)
for case in "${cases[@]}"; do
  line=${case%%|*}
  expected=${case#*|}
  # A trailing space on the line means an empty word is being completed.
  read -r -a words <<<"$line"
  [ "${line: -1}" = " " ] && words+=("")
  got=$(cd "$scratch" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kestrova
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "${words[@]}" | sed '/^$/d' | sort | paste -sd, -)
  [ "$got" = "$expected" ] || fail "completing '$line': got '$got', expected '$expected'"
done

[ "$failures" -eq 0 ] || exit 1
echo "manual page renders cleanly; completion offers what is expected"
