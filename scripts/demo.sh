#!/usr/bin/env bash
# Installs what is needed, builds, creates a demo database when there is none
# and starts the manager on it.
#
#   scripts/demo.sh              # demo folder ./demo
#   DEMO_DIR=/some/folder scripts/demo.sh
#
# The manager opens vendabase.accdb in its working directory, so it is
# started inside the demo folder; the transmitter it starts inherits that
# folder.  When scripts/demo-scale.sh exists it is started first, in the
# background and inside the demo folder, to simulate a scale, and stopped
# when the manager ends.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
DEMO_DIR=${DEMO_DIR:-$ROOT/demo}

scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh

mkdir -p "$DEMO_DIR"
if [ ! -e "$DEMO_DIR/vendabase.accdb" ]; then
  "$ROOT/build/bin/torvane-createdb" --demo "$DEMO_DIR/vendabase.accdb"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "demo: no graphical display found (DISPLAY is not set)." >&2
  echo "demo: start it from a desktop session, or try: xvfb-run -a scripts/demo.sh" >&2
  exit 2
fi

if [ -f "$ROOT/scripts/demo-scale.sh" ]; then
  # The simulated scale keeps its state in the demo folder and is stopped
  # again when the manager ends.
  (cd "$DEMO_DIR" && BUILD_DIR="$ROOT/build" bash "$ROOT/scripts/demo-scale.sh" start) &
  SCALE_STARTER=$!
  trap 'wait "$SCALE_STARTER" 2>/dev/null || true; (cd "$DEMO_DIR" && BUILD_DIR="$ROOT/build" bash "$ROOT/scripts/demo-scale.sh" stop) || true' EXIT
fi

cd "$DEMO_DIR"
"$ROOT/build/bin/Torvane"
