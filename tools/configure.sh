#!/usr/bin/env bash
# Configures the build folder DIR with Ninja, compiling through ccache where it
# is installed (a build folder made without it is switched over, and back when
# it is gone); further arguments go to cmake.
#   tools/configure.sh DIR [CMAKE-ARGS...]
set -euo pipefail
dir=$1
shift
launcher=ccache
command -v ccache >/dev/null || launcher=""
cmake -S "$(dirname "$0")/.." -B "$dir" -G Ninja -DCMAKE_C_COMPILER_LAUNCHER="$launcher" \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" "$@" >/dev/null
