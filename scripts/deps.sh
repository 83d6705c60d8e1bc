# Sourced by scripts/run and scripts/test: installs the Debian packages the
# build, the tests and the program need, and prints nothing when none is missing.

kestrova_packages_run=(
  cmake ninja-build g++ pkg-config
  nlohmann-json3-dev libfmt-dev
  ffmpeg
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libx265-dev
  qt6-base-dev fonts-dejavu-core
  zlib1g-dev libfreetype-dev nasm curl patch python3
)
kestrova_packages_test=(
  clang libclang-rt-14-dev build-essential xz-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  # an exFAT image mounted through FUSE: an output folder without FIFOs or links
  exfatprogs exfat-fuse fuse3 mount
)

# Only scripts/screenshots needs a virtual display.
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
