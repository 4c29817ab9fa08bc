#!/usr/bin/env bash
# Installs the Debian 12 packages lumaweave builds and tests with, only those that are missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev libbenchmark-dev python3)
# The ".screen.png" output.
packages+=(libpng-dev)
# Pictures other than BMP (PNG, JPEG, GIF, WebP, TIFF) and framing: libvips and its C++ API.
packages+=(libvips-dev)
# The Debian package: cpack finds the programs' library dependencies with dpkg-shlibdeps, and
# the executables among the files with file.
packages+=(dpkg-dev file)
# The desktop dialog: the toolkit, a font with the Japanese texts and full-width digits, and for
# its tests a virtual X server with input, screenshot and window tools.
packages+=(libwxgtk3.2-dev fonts-noto-cjk xvfb xauth xdotool imagemagick x11-utils libx11-dev)
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
