# Sourced by scripts/run and scripts/test: installs the Debian packages the
# build, the tests and the program need, and prints nothing when none is missing.

kestrova_packages_run=(
  cmake ninja-build g++ pkg-config
  nlohmann-json3-dev libfmt-dev
  ffmpeg
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev qt6-svg-dev fonts-dejavu-core
  libbluray-dev libudfread-dev
  zlib1g-dev libfreetype-dev nasm curl patch python3
  # chunk jobs on other machines (--hosts): GNU parallel, ssh, rsync for parallel's transfers
  parallel openssh-client rsync
)
kestrova_packages_test=(
  clang libclang-rt-14-dev build-essential xz-utils ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  man-db groff-base bash-completion
  # a private session bus for the notification test
  dbus-daemon
  # an exFAT image mounted through FUSE: an output folder without FIFOs or links
  exfatprogs exfat-fuse fuse3 mount
  # Blu-ray disc images made by the disc tests
  genisoimage
  # the window's real run on an X display of its own (xvfb-run)
  xvfb xauth
  # the loopback ssh servers of the chunk-hosts test
  openssh-server
)

# scripts/package: dpkg-shlibdeps and dpkg-deb, strip.
kestrova_packages_package=(dpkg-dev binutils)

# scripts/screenshots runs its renderer under xvfb-run.
kestrova_packages_screenshots=(xvfb xauth)

kestrova_install() {
  local missing=() pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing from Debian: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Prints the address of the Debian archive this machine's apt configuration
# uses: the first enabled "deb" entry whose suites include the running
# release's own codename, with component main (so not the security archive or
# a third-party repository). Scripts that fetch other Debian sources use it,
# so they go through the same mirror as apt itself.
#   kestrova_debian_mirror [APT_ETC_DIR [CODENAME]]   (defaults: /etc/apt, this release)
kestrova_debian_mirror() {
  local etc=${1:-/etc/apt} codename=${2:-}
  if [ -z "$codename" ]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  fi
  [ -n "$codename" ] || { echo "cannot tell this system's Debian release" >&2; return 1; }
  local one_line=() deb822=() file
  [ -f "$etc/sources.list" ] && one_line+=("$etc/sources.list")
  for file in "$etc"/sources.list.d/*.list; do [ -f "$file" ] && one_line+=("$file"); done
  for file in "$etc"/sources.list.d/*.sources; do [ -f "$file" ] && deb822+=("$file"); done
  local found
  found=$(
    {
      # "deb [options] URI SUITE COMPONENT..."
      [ ${#one_line[@]} -eq 0 ] || awk '
        { sub(/#.*/, "") }
        $1 == "deb" {
          i = 2
          if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
          uri = $i; suite = $(i + 1); main = 0
          for (j = i + 2; j <= NF; j++) if ($j == "main") main = 1
          if (suite == codename && main) print uri
        }' codename="$codename" "${one_line[@]}"
      # deb822 stanzas: Types, URIs, Suites, Components, Enabled
      [ ${#deb822[@]} -eq 0 ] || awk '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && enabled != "no" && (" " suites " ") ~ (" " codename " ") &&
              (" " comps " ") ~ / main /) {
            split(uris, list, " ")
            for (k = 1; k in list; k++) print list[k]
          }
          types = uris = suites = comps = enabled = ""; key = ""
        }
        FNR == 1 { flush() }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { next }
        {
          key = tolower($0); sub(/:.*/, "", key)
          value = $0; sub(/^[^:]*:[ \t]*/, "", value); gsub(/[ \t]+/, " ", value)
          if (key == "types") types = value
          else if (key == "uris") uris = value
          else if (key == "suites") suites = value
          else if (key == "components") comps = value
          else if (key == "enabled") enabled = tolower(value)
        }
        END { flush() }' codename="$codename" "${deb822[@]}"
    } | head -n 1
  )
  if [ -z "$found" ]; then
    echo "no Debian archive for '$codename' with component main in $etc/sources.list or $etc/sources.list.d/" >&2
    return 1
  fi
  echo "${found%/}"
}
