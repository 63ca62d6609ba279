#!/usr/bin/env bash
# Builds RARUR Service and starts it with the Controller simulator beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT
address=""
# The folder where the program looks for Controllers attached by USB when no
# vendor library is installed (see the README).
if [ -n "${RARUR_USB_DIR:-}" ]; then usb_dir=$RARUR_USB_DIR
elif [ -n "${XDG_RUNTIME_DIR:-}" ]; then usb_dir=$XDG_RUNTIME_DIR/rarur
else usb_dir=/tmp/rarur-$(id -u); fi
if [ -x build/tools/sim/rarur-sim ]; then
  mkdir -p "$usb_dir"
  port_file=$(mktemp)
  rm -f "$port_file"
  # 1502 is the demo port; if another program holds it, take any free one.
  for listen in 127.0.0.1:1502 127.0.0.1:0; do
    build/tools/sim/rarur-sim --listen "$listen" --port-file "$port_file" \
      --usb-dir "$usb_dir" --usb-id 5 --usb-id 9 &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
    if [ -s "$port_file" ]; then break; fi
    kill "$sim_pid" 2>/dev/null || true; sim_pid=""
  done
  if [ -n "$sim_pid" ]; then
    address="127.0.0.1:$(cat "$port_file")"
    echo "Симулятор контроллера rarur-sim слушает $address."
    echo "В программе выберите «Управление» → «Ethernet» → «Подключиться» и введите адрес $address."
    echo "Он же подключен через USB как контроллеры 5 и 9 ($usb_dir): «Управление» → «USB» → «Подключиться»."
  fi
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "No display found (DISPLAY is not set): running the program under Xvfb."
  shot="$PWD/build/rarur-service.png"
  if [ -n "$address" ]; then
    # Connect to the simulator as a user would, so the picture shows a live plant.
    script=$(mktemp --suffix=.uitest)
    cat > "$script" <<SCRIPT
activate imagemenuitem1
set-text DeviceAddress $address
click SED_ButtonOk
wait 4000
screenshot $shot
SCRIPT
    xvfb-run -a -s "-screen 0 1024x768x24" build/ui-driver --script "$script" >/dev/null || true
    rm -f "$script"
  else
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
      "build/rarur-service & pid=\$!; sleep 4; import -window root '$shot'; kill \$pid"
  fi
  echo "Screenshot of the window: $shot"
else
  build/rarur-service "$@"
fi
