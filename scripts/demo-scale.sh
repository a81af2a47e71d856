#!/usr/bin/env bash
# Plays the label scale for the demo: the scale simulator on a
# pseudo-terminal linked as COM1, so that the transmitter (Rirodidovu, port
# COM1, its default) sends the products to it.
#
#   scripts/demo-scale.sh &        runs the simulator in place of this script
#                                  (its pid is this script's pid; TERM stops it
#                                  cleanly, as scripts/demo.sh does at the end)
#   scripts/demo-scale.sh start    starts it detached and returns once it is ready
#   scripts/demo-scale.sh stop | status
#
# BUILD_DIR       build folder holding bin/torvane-scalesim (default: build)
# SCALE_STATE_DIR where the simulator keeps its pid, log and product memory
#                 (default: .torvane-scale in $DEMO_DIR, or in the current
#                 directory)
# The memory is saved after every product received (scale-memory.csv) and
# loaded again at the next start, like a scale that keeps its products.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR=${BUILD_DIR:-build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
SIM="$BUILD_DIR/bin/torvane-scalesim"
STATE=${SCALE_STATE_DIR:-${DEMO_DIR:-$PWD}/.torvane-scale}
PIDFILE="$STATE/scale.pid"
MEMORY="$STATE/scale-memory.csv"

running() {
  [ -f "$PIDFILE" ] && kill -0 "$(cat "$PIDFILE")" 2>/dev/null
}

sim_args() {
  args=(--link COM1 --save "$MEMORY" --save-each --log "$STATE/scale.log")
  if [ -s "$MEMORY" ]; then args+=(--load "$MEMORY"); fi
}

case "${1:-run}" in
run)
  if running; then
    echo "scale simulator already running on COM1 (pid $(cat "$PIDFILE"))"
    exit 0
  fi
  if [ ! -x "$SIM" ]; then
    echo "missing $SIM: build first (scripts/build.sh)" >&2
    exit 1
  fi
  mkdir -p "$STATE"
  sim_args
  echo $$ > "$PIDFILE"
  echo "scale simulator on COM1; log: $STATE/scale.log, products received: $MEMORY"
  exec "$SIM" "${args[@]}" > "$STATE/scale.out" 2>> "$STATE/scale.log" < /dev/null
  ;;
start)
  if running; then
    echo "scale simulator already running on COM1 (pid $(cat "$PIDFILE"))"
    exit 0
  fi
  if [ ! -x "$SIM" ]; then
    echo "missing $SIM: build first (scripts/build.sh)" >&2
    exit 1
  fi
  mkdir -p "$STATE"
  sim_args
  : > "$STATE/scale.out"
  # A session of its own: the simulator outlives this script and the
  # terminal it was started from.
  setsid "$SIM" "${args[@]}" > "$STATE/scale.out" 2>> "$STATE/scale.log" < /dev/null &
  echo $! > "$PIDFILE"
  for _ in $(seq 1 50); do
    if grep -q '^READY' "$STATE/scale.out"; then
      echo "scale simulator ready on COM1 (pid $(cat "$PIDFILE")): $(grep '^LINK' "$STATE/scale.out" || true)"
      echo "log: $STATE/scale.log   products received: $MEMORY"
      exit 0
    fi
    if ! running; then
      echo "the scale simulator did not start; see $STATE/scale.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "the scale simulator did not report READY within 5 s; see $STATE/scale.log" >&2
  exit 1
  ;;
stop)
  if running; then
    kill "$(cat "$PIDFILE")"
    echo "scale simulator stopped (memory saved in $MEMORY)"
  fi
  rm -f "$PIDFILE"
  ;;
status)
  if running; then echo "running (pid $(cat "$PIDFILE"))"; else echo "not running"; exit 1; fi
  ;;
*)
  echo "usage: $0 [run|start|stop|status]" >&2
  exit 2
  ;;
esac
