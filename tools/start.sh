#!/usr/bin/env bash
# Builds RARUR Service and starts it with the Controller simulator beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --run
# Only the programs this script starts: the tests, benchmarks and fuzzers are
# tools/test.sh's. A build folder of its own making leaves the tests out, so
# that neither their framework nor their build stands before the window.
tests=()
[ -f build/CMakeCache.txt ] || tests=(-DRARUR_TESTS=OFF)
tools/configure.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${tests[@]}"
targets=(rarur-service rarur-sim rarur-cli)
# Without a display the window is driven by ui-driver under Xvfb (below).
[ -n "${DISPLAY:-}" ] || targets+=(ui-driver)
cmake --build build --target "${targets[@]}"

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
  script=$(mktemp --suffix=.uitest)
  if [ -n "$address" ]; then
    # Connect to the simulator as a user would, so the picture shows a live plant.
    cat > "$script" <<SCRIPT
activate imagemenuitem1
set-text DeviceAddress $address
click SED_ButtonOk
wait 4000
screenshot $shot
SCRIPT
  else
    printf 'wait 4000\nscreenshot %s\n' "$shot" > "$script"
  fi
  xvfb-run -a -s "-screen 0 1024x768x24" build/ui-driver --script "$script" >/dev/null || true
  rm -f "$script"
  echo "Screenshot of the window: $shot"
else
  build/rarur-service "$@"
fi
