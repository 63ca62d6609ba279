#!/usr/bin/env bash
# Checks the program as a service department rolls it out: the desktop entry and
# the AppStream metainfo validate, the Debian package builds, installs with
# apt-get (its dependencies resolved from the package's own list) and the
# installed program answers and starts. Installing touches /usr: it runs only in
# CI or when RARUR_INSTALL_CHECK=1.
#   tools/check_package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

desktop-file-validate dist/rarur-service.desktop
appstreamcli validate --no-net dist/io.github.rarur.Service.metainfo.xml >/dev/null
echo "desktop entry and metainfo: valid"

rm -f "$build"/rarur-service_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/rarur-service_*.deb)
echo "package: $deb ($(dpkg-deb -f "$deb" Depends))"
# Debian's own checks of a package: an error or a warning fails the check.
# Informational tags stay quiet: the one left is GCC's .comment section,
# which strip keeps and which costs a few hundred bytes.
if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
    printf '%s\n' "$report" | grep -v '^running with root privileges'
    echo "lintian: the package has errors or warnings"
    exit 1
fi
echo "lintian: no errors, no warnings"

if [ "${CI:-}" != "true" ] && [ "${RARUR_INSTALL_CHECK:-}" != "1" ]; then
    echo "install check skipped (set RARUR_INSTALL_CHECK=1 to install into /usr)"
    exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$(realpath "$deb")" >/dev/null
/usr/bin/rarur-service --version
test -f /usr/share/man/man1/rarur-service.1.gz && test -f /usr/share/man/man1/rarur-sim.1.gz
test -f /usr/share/icons/hicolor/48x48/apps/rarur-service.png
# Started under a display and still running after five seconds: it started.
set +e
xvfb-run -a timeout 5 /usr/bin/rarur-service >/dev/null 2>&1
status=$?
set -e
if [ "$status" -ne 124 ]; then
    echo "the installed program did not keep running (exit $status)"
    exit 1
fi
echo "installed package: the program starts"
