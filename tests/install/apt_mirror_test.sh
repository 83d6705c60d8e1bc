#!/usr/bin/env bash
# apt_mirror_test.sh SOURCE_DIR
# The Debian mirror that scripts fetching Debian sources use is read from the
# apt configuration in both of its forms, skipping the security archive,
# third-party repositories, disabled entries and stray files.
set -euo pipefail
source "$1/scripts/deps.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# name | expected mirror ("" = none found) ; the files follow, "@@ NAME" starts one
check() {
  local name=$1 expected=$2 listing=$3 etc="$scratch/$1" file="" line got
  mkdir -p "$etc/sources.list.d"
  while IFS= read -r line; do
    if [[ $line == "@@ "* ]]; then
      file="$etc/${line#@@ }"
      : >"$file"
    else
      [ -z "$file" ] || printf '%s\n' "$line" >>"$file"
    fi
  done <<<"$listing"
  got=$(kestrova_debian_mirror "$etc" bookworm 2>/dev/null) || got=""
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $name: got '$got', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
}

check deb822 "http://mirror-a.example/debian" "@@ sources.list.d/debian.sources
Types: deb
# a comment between fields
URIs: http://mirror-a.example/debian/
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://mirror-b.example/debian-security
Suites: bookworm-security
Components: main"

check security-first "http://mirror-b.example/debian" "@@ sources.list.d/debian.sources
Types: deb
URIs: http://mirror-a.example/debian-security
Suites: bookworm-security
Components: main

Types: deb deb-src
URIs: http://mirror-b.example/debian
Suites: bookworm
Components: main contrib"

check disabled-and-third-party "http://mirror-c.example/debian" "@@ sources.list.d/a.sources
Types: deb
URIs: http://mirror-a.example/debian
Suites: bookworm
Components: main
Enabled: no
@@ sources.list.d/b.sources
Types: deb
URIs: https://vendor.example/apt
Suites: bookworm
Components: stable
@@ sources.list.d/c.sources
types: deb
uris: http://mirror-c.example/debian
suites: bookworm
components: main
@@ sources.list.d/old.sources.disabled
Types: deb
URIs: http://mirror-d.example/debian
Suites: bookworm
Components: main"

check one-line "http://mirror-a.example/debian" "@@ sources.list
# deb http://mirror-z.example/debian bookworm main
deb-src http://mirror-y.example/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://mirror-a.example/debian/ bookworm main contrib
deb http://mirror-b.example/debian bookworm main"

check other-release-only "" "@@ sources.list
deb http://mirror-a.example/debian trixie main"

check nothing "" ""

[ "$failures" -eq 0 ] || exit 1
echo "the Debian mirror is read from the apt configuration"
