#!/usr/bin/env bash
# Installs what building, running and testing RARUR Service needs (Debian 12).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtk2.0-dev zlib1g-dev libglib2.0-dev
          libgtest-dev libgmock-dev libmodbus-dev xvfb xauth imagemagick fonts-dejavu-core
          clang libclang-rt-14-dev libatk-adaptor socat
          desktop-file-utils appstream dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
