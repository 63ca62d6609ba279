#!/usr/bin/env bash
# Holds the layers and folders apart: the pure core includes only core
# headers and nothing of GTK or threads; the ground floor (base/) includes
# nothing above it; the workers include nothing of GTK and never take the
# window's lock; the folders include each other in one order, without a
# circle; nothing but app/ includes app/; a link kind is named only by its
# backend, the kinds' own header and the frame formats' table. Run by the
# tests with the source lists of the two lower layers as CMake knows them, so
# a new file joins the check by being added to its layer.
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

# The folders stand in one order, lowest first, so that they include each
# other without a circle: a file may include its own folder and the folders
# listed before it, never one listed after it nor a folder the order does not
# know. app/ composes every subsystem and stands on top; what may include app/
# is a rule of its own, so includes of app/ are left to it here.
folder_order=(
    base
    gui
    registers
    modbus
    link
    status
    events
    settings
    battery
    app
    cli
)
declare -A folder_rank=()
for i in "${!folder_order[@]}"; do folder_rank[${folder_order[$i]}]=$i; done
for dir in "${folder_order[@]}"; do
    while read -r f; do
        while read -r inc; do
            [ -n "$inc" ] || continue
            to=${inc%%/*}
            [ "$to" = app ] && continue
            if [ "$to" = "$inc" ] || [ -z "${folder_rank[$to]:-}" ]; then
                fail "$f includes $inc, from no folder of the order"
            elif [ "${folder_rank[$to]}" -gt "${folder_rank[$dir]}" ]; then
                fail "$f includes $inc: $to/ stands above $dir/ in the order of folders"
            fi
        done < <(quoted_includes "$f")
    done < <(cd "$top" && find "$dir" -name '*.h' -o -name '*.cpp' | sort)
done

# app/ is the composition root: no other folder of the program includes it
# (link/ modbus/ status/ events/ battery/ settings/, a folder added beside
# them, gui/), and gui/, the GTK ground the subsystems' window parts share,
# stands just above base/ and includes nothing but base/ and itself.
for d in $(cd "$top" && ls -d */ | tr -d /); do
    case "$d" in app|tests|tools|bench) continue ;; esac
    [ -f "$top/$d/CMakeCache.txt" ] && continue   # a build tree
    for f in $(cd "$top" && ls "$d"/*.h "$d"/*.cpp 2>/dev/null); do
        while read -r inc; do
            case "$inc" in app/*) fail "$f includes $inc: only app/ composes the program" ;; esac
            case "$d:$inc" in gui:base/*|gui:gui/*|*:) ;; gui:*) fail "$f (gui) includes $inc from a folder above it" ;; esac
        done < <(quoted_includes "$f")
    done
done

# A link kind is one backend: it is named (LinkKind::Name, or made from a
# number) only in base/link_kind.h, in the frame formats' table and in the
# backend files of link/ (those that define a LinkBackend record); everywhere
# else the kind menu and the checks go through the registry, so a kind count
# written as a number (an array of kinds, a loop up to it) fails as well.
kind_home=(base/link_kind.h modbus/frame.cpp)
while read -r f; do
    [ -n "$f" ] || continue
    case " ${kind_home[*]} " in *" $f "*) continue ;; esac
    if grep -q -E '^const LinkBackend [a-z0-9_]+ = ' "$top/$f"; then
        continue
    fi
    while IFS= read -r hit; do
        fail "$f names a link kind outside its backend: $hit"
    done < <(grep -n -E 'LinkKind::[A-Z]|\bLinkKind[[:space:]]*\(|static_cast<LinkKind>' "$top/$f")
    while IFS= read -r hit; do
        fail "$f counts the link kinds by a number instead of the registry: $hit"
    done < <(grep -n -E '[A-Za-z_]*[Kk]inds?[A-Za-z_]*[[:space:]]*\[[[:space:]]*[0-9]+[[:space:]]*\]|[A-Za-z_]*[Kk]inds?[A-Za-z_]*[[:space:]]*<=?[[:space:]]*[0-9]+' "$top/$f")
done < <(cd "$top" && find . \( -name tests -o -name bench -o -name tools -o -name 'build*' -o -name '.*' ! -name . \) \
             -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)


# Workers never take the window's lock: they log through the log's queue and
# hand the window values in tasks it runs (run_on_gui). Code only; a comment
# may still name the lock it does without.
for f in "${worker_files[@]}"; do
    while IFS= read -r hit; do
        fail "$f (workers) takes the window's lock: $hit"
    done < <(sed 's://.*$::' "$top/$f" | grep -n -E 'GdkLock|ui\(\)\.(lock|unlock)\b|gdk_threads_' || true)
done

if [ "$failures" -gt 0 ]; then
    echo "$failures layer violation(s)"
    exit 1
fi
echo "layers: ${#core_files[@]} core and ${#worker_files[@]} worker files hold to their layer"
