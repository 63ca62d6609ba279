#!/usr/bin/env bash
# Holds the three layers apart: the pure core includes only core headers and
# nothing of GTK or threads; the ground floor (base/) includes nothing above
# it; the workers include nothing of GTK. Run by the tests with the source
# lists of the two lower layers as CMake knows them, so a new file joins the
# check by being added to its layer.
#   check_layers.sh SOURCE_DIR "core.cpp;…" "workers.cpp;…"
set -u
top=$1
IFS=';' read -r -a core <<<"$2"
IFS=';' read -r -a workers <<<"$3"

# Headers of the core that have no source file of their own.
core_headers=(base/link_kind.h modbus/result.h)

rel() { local p=${1#"$top"/}; echo "${p}"; }
with_header() {   # the source and its header, where there is one
    local f; f=$(rel "$1"); echo "$f"
    [ -f "$top/${f%.cpp}.h" ] && echo "${f%.cpp}.h"
}

declare -A in_core=()
core_files=()
for f in "${core[@]}"; do
    [ -n "$f" ] || continue
    while read -r g; do core_files+=("$g"); in_core[$g]=1; done < <(with_header "$f")
done
for h in "${core_headers[@]}"; do core_files+=("$h"); in_core[$h]=1; done
worker_files=()
for f in "${workers[@]}"; do
    [ -n "$f" ] || continue
    while read -r g; do worker_files+=("$g"); done < <(with_header "$f")
done

failures=0
fail() { echo "layer violation: $*"; failures=$((failures + 1)); }
quoted_includes() { grep -o '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' "$top/$1" | sed 's/.*"\(.*\)"/\1/'; }

for f in "${core_files[@]}"; do
    while read -r inc; do
        [ -n "$inc" ] || continue
        [ -n "${in_core[$inc]:-}" ] || fail "$f (core) includes $inc, which is not part of the core"
    done < <(quoted_includes "$f")
    if grep -q -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(gtk/|gdk/|thread>|mutex>|pthread\.h>|condition_variable>)' "$top/$f"; then
        fail "$f (core) includes GTK or threads"
    fi
done

for f in $(cd "$top" && ls base/*.h base/*.cpp 2>/dev/null); do
    while read -r inc; do
        case "$inc" in base/*) ;; "") ;; *) fail "$f (base) includes $inc from a folder above it" ;; esac
    done < <(quoted_includes "$f")
done

for f in "${worker_files[@]}"; do
    if grep -q -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(gtk/|gdk/)' "$top/$f"; then
        fail "$f (workers) includes GTK"
    fi
    while read -r inc; do
        case "$inc" in app/*|*_gtk.h) fail "$f (workers) includes $inc of the GTK layer" ;; esac
    done < <(quoted_includes "$f")
done

if [ "$failures" -gt 0 ]; then
    echo "$failures layer violation(s)"
    exit 1
fi
echo "layers: ${#core_files[@]} core and ${#worker_files[@]} worker files hold to their layer"
