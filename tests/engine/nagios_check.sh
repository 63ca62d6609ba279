#!/usr/bin/env bash
# A real monitoring engine (Nagios 4) checks a simulated plant through
# `rarur-cli check`, and the service's state is read from the engine's own
# status file: OK on a healthy plant, CRITICAL once the mains are lost,
# UNKNOWN once the Controller stops answering.
#
#   nagios_check.sh RARUR_CLI RARUR_SIM
#
# Without the engine installed the test is skipped (exit 77), except under CI
# (CI set), where a missing engine is a failure: CI must run it.
set -euo pipefail

cli=$(realpath "$1")
sim=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

# Debian puts it in /usr/sbin, which a user's PATH often leaves out.
engine=$(PATH="$PATH:/usr/sbin:/usr/local/sbin" command -v nagios4 || true)
if [ -z "$engine" ]; then
    if [ -n "${CI:-}" ]; then
        echo "FAIL: the monitoring engine (Debian package nagios4-core) is not installed; tools/install-deps.sh installs it"
        exit 1
    fi
    echo "SKIP: the monitoring engine (Debian package nagios4-core) is not installed"
    exit 77
fi
command -v socat >/dev/null || { echo "FAIL: socat is needed to reach the simulator's control socket"; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/rarur-engine.XXXXXX")
mkdir "$dir/checkresults"
sim_pid=""
engine_pid=""

cleanup() {
    local status=$?
    if [ -n "$engine_pid" ]; then
        kill -TERM "$engine_pid" 2>/dev/null || true
        wait "$engine_pid" 2>/dev/null || true
    fi
    if [ -n "$sim_pid" ]; then
        kill -CONT "$sim_pid" 2>/dev/null || true
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ "$status" -ne 0 ] && [ -n "${RARUR_ENGINE_KEEP:-}" ]; then
        echo "kept: $dir"
    else
        rm -rf "$dir"
    fi
}
trap cleanup EXIT

# Frozen: no alarm of the plant's own comes and goes while the test watches.
"$sim" --listen 127.0.0.1:0 --port-file "$dir/port" --control "$dir/control" --freeze >"$dir/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$dir/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$dir/sim.log"; echo "FAIL: the simulator did not start"; exit 1; }
    sleep 0.1
done
[ -s "$dir/port" ] || { echo "FAIL: the simulator did not say its port"; exit 1; }
port=$(cat "$dir/port")

sim_control() {
    local reply
    reply=$(printf '%s\n' "$1" | socat -t 5 - "UNIX-CONNECT:$dir/control")
    [ "$reply" = ok ] || { echo "FAIL: simulator control \"$1\" answered \"$reply\""; exit 1; }
}

# Started as root the engine changes to the user its configuration names:
# it is told to stay whoever runs the test, who can read this folder and run
# the build's rarur-cli (the package's own user may not be able to).
user=$(id -un 2>/dev/null || id -u)
group=$(id -gn 2>/dev/null || id -g)
fill() {
    sed -e "s|@DIR@|$dir|g" -e "s|@USER@|$user|g" -e "s|@GROUP@|$group|g" \
        -e "s|@CLI@|$cli|g" -e "s|@PORT@|$port|g" "$1" >"$2"
}
fill "$here/nagios.cfg.in" "$dir/nagios.cfg"
fill "$here/plant.cfg.in" "$dir/plant.cfg"

if ! "$engine" -v "$dir/nagios.cfg" >"$dir/verify.log" 2>&1; then
    cat "$dir/verify.log"
    echo "FAIL: the engine refuses the configuration"
    exit 1
fi
"$engine" "$dir/nagios.cfg" >"$dir/engine.log" 2>&1 &
engine_pid=$!

# The service's block of the engine's status file, one key=value a line.
service_status() {
    [ -f "$dir/status.dat" ] || return 0
    awk 'BEGIN { RS = "" }
         /^servicestatus \{/ && /\n\thost_name=plant-test\n/ && /\n\tservice_description=RARUR\n/ { print }' \
        "$dir/status.dat"
}
field() { sed -n "s/^\t$1=//p" <<<"$2"; }

# Waits until the engine holds the service in STATE (0 OK, 2 CRITICAL,
# 3 UNKNOWN) with the plugin's line starting "RARUR NAME". The limit is
# generous: the test runs beside the rest of the suite on a loaded machine.
expect_state() {
    local state=$1 name=$2 limit_s=${3:-30} started=$SECONDS block=""
    while [ $((SECONDS - started)) -lt "$limit_s" ]; do
        kill -0 "$engine_pid" 2>/dev/null || { cat "$dir/engine.log"; echo "FAIL: the engine stopped"; exit 1; }
        block=$(service_status)
        if [ "$(field has_been_checked "$block")" = 1 ] && [ "$(field current_state "$block")" = "$state" ] &&
           [[ "$(field plugin_output "$block")" == "RARUR $name "* ]]; then
            echo "engine: $name ($(field plugin_output "$block") | $(field performance_data "$block"))"
            return 0
        fi
        sleep 0.25
    done
    echo "-- the service's status in the engine:"
    grep -E '^[[:space:]](has_been_checked|current_state|plugin_output|check_execution_time|last_check)=' <<<"$block" || true
    echo "-- the engine's log:"
    tail -n 20 "$dir/nagios.log" 2>/dev/null || true
    echo "-- the check run by hand (its errors included):"
    "$cli" check -v --timeout 3 "tcp:127.0.0.1:$port" 2>&1 | tail -n 20 || true
    echo "FAIL: the engine did not hold the service $name ($state) within $limit_s s"
    exit 1
}

expect_state 0 OK
# The engine has taken the plugin's performance data apart from its summary.
perfdata=$(field performance_data "$(service_status)")
[ -n "$perfdata" ] || { echo "FAIL: the engine found no performance data in the OK answer"; exit 1; }

sim_control "alarm raise mains"
expect_state 2 CRITICAL

# A Controller that stops answering (its process stopped, the connection
# still open), as a plant whose link hangs.
kill -STOP "$sim_pid"
expect_state 3 UNKNOWN

echo "PASS"
