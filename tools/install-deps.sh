#!/usr/bin/env bash
# Installs what RARUR Service needs on Debian 12:
#   --run   building the programs and running them here: Xvfb only where
#           there is no display (what tools/start.sh needs);
#   --test  that and everything the tests, sanitizer builds, fuzzers and the
#           package check need (what tools/test.sh needs). The default.
set -euo pipefail
run_packages=(build-essential cmake ninja-build pkg-config libgtk2.0-dev zlib1g-dev libglib2.0-dev
              fonts-dejavu-core)
# The X server the UI tests run in, and the window where there is no display;
# it brings Mesa, a quarter of the download.
headless_packages=(xvfb xauth)
test_packages=(libgtest-dev libgmock-dev libmodbus-dev imagemagick
               clang libclang-rt-14-dev libxml2-dev libatk-adaptor socat
               desktop-file-utils appstream dpkg-dev lintian locales python3-dbusmock dbus libglib2.0-bin
               nagios4-core)
set_name=test
case "${1:-}" in
  --run) set_name=run ;;
  --test|"") ;;
  *) echo "usage: $0 [--run|--test]" >&2; exit 2 ;;
esac
packages=("${run_packages[@]}")
if [ "$set_name" = test ] || [ -z "${DISPLAY:-}" ]; then packages+=("${headless_packages[@]}"); fi
if [ "$set_name" = test ]; then packages+=("${test_packages[@]}"); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

# A machine that is updating itself (unattended upgrades, another build) holds
# apt's locks for a while: wait for them rather than fail at once.
lock_wait_s=300
# env after sudo: sudo would drop a variable set in front of it.
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o "DPkg::Lock::Timeout=$lock_wait_s")

# apt-get waits for dpkg's lock by itself, but not for the lock of the package
# lists that "update" takes: try again while that one is held.
apt_update() {
  local waited=0 errors
  while ! errors=$("${apt[@]}" update -qq 2>&1 >/dev/null); do
    if [[ "$errors" != *lock* ]] || [ "$waited" -ge "$lock_wait_s" ]; then
      echo "$errors" >&2
      return 1
    fi
    [ "$waited" -eq 0 ] && echo "Another package manager holds apt's lock; waiting up to ${lock_wait_s} s" >&2
    sleep 5
    waited=$((waited + 5))
  done
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The monitoring engine's program is what the engine test runs, each time with
# a configuration of its own; the system-wide engine the package sets up (and
# starts, where services may start) is not wanted on a build machine.
if [[ " ${missing[*]} " == *" nagios4-core "* ]]; then
  if [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now nagios4.service >/dev/null 2>&1 || true
  else
    $sudo invoke-rc.d nagios4 stop >/dev/null 2>&1 || true
  fi
fi
[ "$set_name" = test ] || exit 0
# Russian desktops run in ru_RU.UTF-8; the export is tested in it too.
locale -a | grep -qi '^ru_RU\.utf-\?8$' || $sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
