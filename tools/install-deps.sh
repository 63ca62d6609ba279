#!/usr/bin/env bash
# Installs what building, running and testing RARUR Service needs (Debian 12).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtk2.0-dev zlib1g-dev libglib2.0-dev
          libgtest-dev libgmock-dev libmodbus-dev xvfb xauth imagemagick fonts-dejavu-core
          clang libclang-rt-14-dev libxml2-dev libatk-adaptor socat
          desktop-file-utils appstream dpkg-dev locales python3-dbusmock dbus libglib2.0-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Russian desktops run in ru_RU.UTF-8; the export is tested in it too.
locale -a | grep -qi '^ru_RU\.utf-\?8$' || $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
