#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping those
# already present. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libsdl2-dev zlib1g-dev libpng-dev libode-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dri libegl-mesa0
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
