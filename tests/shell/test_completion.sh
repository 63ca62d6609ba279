#!/usr/bin/env bash
# rarur-cli's bash completion, called as bash calls it: what it offers for a
# command line typed up to the cursor.
#   tests/shell/test_completion.sh COMPLETION_FILE
set -u
source "$1" || exit 1

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# The completions of LINE (cursor at its end), sorted, on one line.
offered()
{
    COMP_LINE=$1
    COMP_POINT=${#1}
    COMP_WORDBREAKS=${BREAKS:-$' \t\n"\'><=;|&(:'}
    COMPREPLY=()
    _rarur_cli rarur-cli 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

expect()
{
    local got
    got=$(offered "$1")
    if [[ $got != "$2" ]]; then
        echo "FAIL: «$1»: expected «$2», got «$got»"
        failures=$((failures + 1))
    fi
}

# Commands and options: the program's, each command's, the link's.
expect "rarur-cli " "check clock journal records service settings status"
expect "rarur-cli --v" "--version"
expect "rarur-cli status --j" "--json"
expect "rarur-cli journal tcp:h --ar" "--archive"
expect "rarur-cli check tcp:h --ti" "--timeout"
expect "rarur-cli settings save tcp:h f --w" "--with-passwords"
expect "rarur-cli settings apply f tcp:h --y" "--yes"
expect "rarur-cli clock tcp:h --set n" "now"
expect "rarur-cli records tcp:h --export 3 --o" "--output"
expect "rarur-cli service tcp:h:1502 battery-test-o" "battery-test-off battery-test-on"
expect "rarur-cli status tcp:h " ""
expect "rarur-cli settings " "apply diff save"

# Addresses: the schemes, then what each needs; with ':' a word break (as
# bash has it) only the part after the last colon is replaced.
mkdir -p "$tmp/usb" "$tmp/config/rarur-service"
python3 -c 'import socket,sys
for n in sys.argv[1:]:
    socket.socket(socket.AF_UNIX).bind(n)' "$tmp/usb/rarur-5.sock" "$tmp/usb/rarur-12.sock"
touch "$tmp/usb/rarur-9.sock.tmp" "$tmp/usb/notes"
printf '[recent]\naddresses=10.0.0.5:1502;plant7.example;\nphones=84951234567;89161112233;\n' \
    >"$tmp/config/rarur-service/recent"
export RARUR_USB_DIR=$tmp/usb XDG_CONFIG_HOME=$tmp/config
expect "rarur-cli check " "gsm: pstn: tcp: usb:"
expect "rarur-cli check u" "usb:"
expect "rarur-cli status usb:" "12 5"
expect "rarur-cli status usb:1" "12"
expect "rarur-cli status tcp:" "10.0.0.5:1502 plant7.example"
expect "rarur-cli status tcp:10.0.0.5:" "1502"
expect "rarur-cli records pstn:/dev/ttyUSB0:8495" "84951234567"
BREAKS=$' \t\n' expect "rarur-cli status tcp:p" "tcp:plant7.example"
BREAKS=$' \t\n' expect "rarur-cli journal usb:" "usb: usb:12 usb:5"

# Files and folders where a command reads or writes one; the address where
# settings expects it.
mkdir -p "$tmp/w/archive"
touch "$tmp/w/plant.rarur" "$tmp/w/a.xml"
cd "$tmp/w"
expect "rarur-cli journal tcp:h -o " "a.xml archive plant.rarur"
expect "rarur-cli records tcp:h -e 3 --output a" "a.xml archive"
expect "rarur-cli journal tcp:h --archive " "archive"
expect "rarur-cli settings diff p" "plant.rarur"
expect "rarur-cli settings diff plant.rarur u" "usb:"
expect "rarur-cli settings save t" "tcp:"
expect "rarur-cli settings save tcp:h p" "plant.rarur"

if ((failures)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "bash completion: all cases as expected"
