#!/usr/bin/env bash
# Soak: the program connected to an unfrozen rarur-sim for MINUTES minutes with
# a fault every minute (silence, delay, a closed connection and a reconnect, an
# exception reply, an alarm raised and cleared, truncated replies, and a GSM call
# over the simulator's modem whose carrier drops and is redialled), sampling the
# program's memory (RSS) and threads every five seconds. At the end it prints
# the RSS growth after the first minute, the thread count after each fault had
# passed against the count before any fault, and whether it still polls.
#   tools/soak.sh MINUTES [BUILD_DIR]
# SOAK_KEEP=DIR keeps the script, the samples and the driver's log in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-60}
build=${2:-build}
work=$(mktemp -d)
trap '[ -z "${SOAK_KEEP:-}" ] || { mkdir -p "$SOAK_KEEP" && cp "$work"/* "$SOAK_KEEP"/; }; rm -rf "$work"' EXIT
script=$work/soak.uitest
samples=$work/samples.txt

{
    echo "sim --seed 7 --modem-pty modem"
    echo "activate imagemenuitem1"
    echo 'set-text DeviceAddress ${SIM_ADDR}'
    echo "click SED_ButtonOk"
    echo 'wait-until 10000 expect CycleTime text != ""'
    # The driver runs inside the program's process: its own checks page in
    # code the first time they run (a regular expression pulls in libpcre2,
    # some 300 kB). Run each kind once in the first minute so that what is
    # measured after it is the program's.
    echo 'wait-until 10000 expect StatusLabel markup matches "из|is"'
    echo 'wait-until 10000 expect log text contains "Подключен"'
    echo "sim-control fault clear"
    echo "pace 0"
    echo "wait 49000"
    echo "echo mark base @log.lines"
    # Threads are sampled every five seconds: a mark stays six seconds in the
    # settled, polling phase, so the sample that sees it counts the threads of
    # a connected program and not those of the next fault.
    echo "wait 6000"
    echo "pace 60000"
    for ((m = 1; m <= minutes - 1; ++m)); do
        case $((m % 7)) in
        1) echo "activate imagemenuitem2"
           echo "wait-until 15000 expect imagemenuitem1 sensitive == 1"
           echo "toggle menuitem9"
           echo 'answer-set ModemPort ${SIM_MODEM}'
           echo "answer-set ModemPhone 89161234567"
           echo "answer ok"
           echo "activate imagemenuitem1"
           echo 'wait-until 30000 expect GlobalLoadVoltage text != "--,-В"'
           echo "sim-control fault drop-carrier"
           echo 'wait-until 15000 expect log text contains "НЕТ НЕСУЩЕЙ"'
           echo 'wait-until 40000 expect GlobalLoadVoltage text != "--,-В"'
           echo "activate imagemenuitem2"
           echo "wait-until 15000 expect imagemenuitem1 sensitive == 1"
           echo "toggle menuitem8"
           echo "activate imagemenuitem1"
           echo 'set-text DeviceAddress ${SIM_ADDR}'
           echo "click SED_ButtonOk" ;;
        6) echo "sim-control fault silence on"; echo "wait 15000"; echo "sim-control fault silence off" ;;
        2) echo "sim-control fault delay 400"; echo "wait 15000"; echo "sim-control fault delay 0" ;;
        3) echo "sim-control fault close-after 0"
           echo "wait-until 15000 expect app link_open == 0"
           echo "activate imagemenuitem1"
           echo 'set-text DeviceAddress ${SIM_ADDR}'
           echo "click SED_ButtonOk" ;;
        4) echo "sim-control fault exception fn=04 addr=0x100 code=2"; echo "wait 15000"; echo "sim-control fault clear" ;;
        5) echo "sim-control alarm raise mains"; echo "wait 15000"; echo "sim-control alarm clear mains" ;;
        0) echo "sim-control fault truncate on"; echo "wait 15000"; echo "sim-control fault truncate off" ;;
        esac
        echo "wait-until 20000 expect app link_open == 1"
        # At least ten seconds of the plant polled as usual, and the rest of
        # the minute after the mark.
        echo "wait 10000"
        echo 'wait-until 10000 expect StatusLabel markup matches "из|is"'
        echo "echo mark fault $m @log.lines"
        echo "wait 6000"
        echo "pace 60000"
    done
    echo "expect app link_open == 1"
    echo 'expect CycleTime text != ""'
} > "$script"

export RARUR_SIM=${RARUR_SIM:-$build/tools/sim/rarur-sim}
xvfb-run -a -s "-screen 0 1024x768x24" "$build/ui-driver" --timeout $((minutes * 60 + 300)) --script "$script" \
    > "$work/result.json" 2> "$work/driver.log" &
runner=$!
start=$(date +%s)
driver=""
while kill -0 "$runner" 2>/dev/null; do
    [ -n "$driver" ] || driver=$(pgrep -x ui-driver -P "$runner" || true)
    if [ -n "$driver" ] && [ -r "/proc/$driver/status" ]; then
        read -r rss anon threads < <(awk '/^VmRSS/ {r = $2} /^RssAnon/ {a = $2} /^Threads/ {t = $2}
                                          END {print r, a, t}' "/proc/$driver/status")
        marks=$(grep -c '^mark' "$work/driver.log" || true)
        echo "$(( $(date +%s) - start )) $rss $threads $marks $anon" >> "$samples"
    fi
    sleep 5
done
wait "$runner" && status=0 || status=$?
lines_base=$(awk '/^mark base/ {print $3}' "$work/driver.log")
lines_end=$(awk '/^mark fault/ {n = $4} END {print n}' "$work/driver.log")

echo "soak of $minutes min: ui-driver exit $status"
tail -c 400 "$work/result.json"; echo
awk -v minutes="$minutes" '
    { t=$1; rss=$2; th=$3; marks=$4; anon=$5 }
    t >= 60 && base_rss == "" { base_rss = rss; base_anon = anon }
    marks == 1 && base_threads == "" { base_threads = th }
    marks > last_marks { after[marks] = th; last_marks = marks; if (marks > 1) faults++
                         if (marks % 10 == 1) trend = trend sprintf(" %d:%d/%d", marks - 1, rss, anon) }
    { last_rss = rss; last_anon = anon; max_rss = (rss > max_rss ? rss : max_rss) }
    END {
        printf "RSS after the first minute %d kB, at the end %d kB, growth %d kB (target < 1024), peak %d kB\n",
               base_rss, last_rss, last_rss - base_rss, max_rss
        # Anonymous memory is the heap and stacks; the rest is code and data
        # of libraries paged in the first time a path (a dialog) runs.
        printf "of it anonymous memory: %d kB -> %d kB, growth %d kB\n", base_anon, last_anon, last_anon - base_anon
        printf "RSS/anonymous (kB) after fault N:%s\n", trend
        bad = 0
        for (m in after) if (after[m] != base_threads) bad++
        printf "threads before any fault %d; after each of %d faults back to it: %s\n",
               base_threads, faults, bad == 0 ? "yes" : "no (" bad " samples differ)"
    }' "$samples"
echo "log pane lines after the first minute ${lines_base:-?}, after the last fault ${lines_end:-?} (kept at most 10000)"
exit "$status"
