#!/usr/bin/env bash
# Sets up, builds and starts the configurator against a simulated KV80 modem
# on a pseudo-terminal. Without a display it runs the same demo through the
# command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF
cmake --build build -j "$jobs" --target orvane orvane-cli orvane-sim

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/app/orvane --demo
fi

echo "No display found (DISPLAY is not set): running the demo through orvane-cli instead."
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$work/config"

build/sim/orvane-sim --samples --state "$work/device.json" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/sim.out")
echo "Simulated modem on $port"

cli() { echo; echo "\$ orvane-cli --port $port $*"; build/cli/orvane-cli --port "$port" "$@"; }
printf 'demo plan\n' > "$work/demo.yp1"
head -c 1000 /dev/urandom > "$work/demo.mts"
cli status
cli put "$work/demo.yp1"
cli constants --id "Демо-пульт" --local 7
cli --yes flash "$work/demo.mts"
cli delete 1
