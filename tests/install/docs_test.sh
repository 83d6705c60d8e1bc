#!/usr/bin/env bash
# docs_test.sh BUILD_DIR SOURCE_DIR
# The three places that list the options -- `kestrova --help`, the manual page
# and the bash completion -- name the same ones; the page renders without
# groff warnings; the completion offers what a user expects at each position.
set -euo pipefail
build=$1
source_dir=$2
page="$source_dir/data/kestrova.1"
completion="$source_dir/data/kestrova.bash-completion"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Options as each place names them, one per line, sorted.
help_options=$(env -u DISPLAY -u WAYLAND_DISPLAY "$build/bin/kestrova" --help |
  sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z-]*' | sort -u)
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | grep '^\.[BI]' |
  grep -o -- '\\-\\-[a-z\\-]*' | sed 's/\\//g' | sort -u)
completion_options=$(bash -c 'source "$1"; COMP_WORDS=(kestrova ""); COMP_CWORD=1; _kestrova
  printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" | sort -u)
[ -n "$help_options" ] || fail "--help lists no options"
[ "$help_options" = "$page_options" ] ||
  fail "--help and the manual page differ: $(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')"
[ "$help_options" = "$completion_options" ] ||
  fail "--help and the completion differ: $(diff <(echo "$help_options") <(echo "$completion_options") | grep '^[<>]' | tr '\n' ' ')"

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
  "kestrova --input x --auto-convert --|--duration,--output,--overwrite"
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
echo "help, manual page and completion agree"
