#!/bin/bash
# Screenshot of canmonitor on the simulated module, headless: starts canhub, rq730sim (node 1)
# and Xvfb, runs the monitor with the network reset, heartbeat and three transmit PDOs of node 1
# received and the node started, and saves the screen after a few seconds.
#   tools/canmonitor/screenshot.sh BIN_DIR OUT.png [SECONDS]
# BIN_DIR holds canhub, rq730sim, canmonitor, xshot and libcanopen32.so (e.g. build/default/bin).
set -euo pipefail
bin=${1:?usage: screenshot.sh BIN_DIR OUT.png [SECONDS]}
shot=${2:?usage: screenshot.sh BIN_DIR OUT.png [SECONDS]}
seconds=${3:-4}
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/canhub" --listen 127.0.0.1:0 >"$work/canhub.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/canhub.log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { cat "$work/canhub.log" >&2; exit 1; }
url="socketcand://127.0.0.1:$port/sim0"
"$bin/rq730sim" --channel "$url" --load 1234.5 --warmup-ms 500 </dev/null >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready$' "$work/sim.log" && break; sleep 0.05; done
grep -q '^ready$' "$work/sim.log" || { cat "$work/sim.log" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

CANOPEN32_CHANNELS="9=$url" "$bin/canmonitor" --hardware tovald --reset --heartbeat 1:500 \
  --receive 1:1 --receive 1:2 --receive 1:3 --start 1 &
pids+=($!)
sleep "$seconds"
mkdir -p "$(dirname "$shot")"
"$bin/xshot" "$shot"
echo "screenshot of canmonitor: $shot"
