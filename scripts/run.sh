#!/usr/bin/env bash
# Installs what is missing, builds, starts the software module tarnix-sim on 127.0.0.1 and opens
# the utility against it. Without a display it runs a short headless demonstration instead.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/setup.sh
scripts/build.sh "$ROOT/build"
source scripts/simctl.sh
trap stop_sim EXIT

SIM="$ROOT/build/sim/tarnix-sim"
# The module's own ports are TCP 24 and UDP 4660; port 24 needs privileges on most systems.
if ! start_sim "$SIM" 24 4660 --irq 3:5:1000; then
    echo "Port 24 (or 4660) cannot be bound here (${SIM_ERROR:-}); using free ports instead."
    start_sim "$SIM" 0 0 --irq 3:5:1000 || { echo "tarnix-sim failed to start: ${SIM_ERROR:-}" >&2; exit 1; }
fi
echo "tarnix-sim is answering on 127.0.0.1: TCP port $SIM_TCP_PORT, UDP port $SIM_UDP_PORT."
echo "It raises VME interrupt level 3 with vector 5 every second; a downloaded level-3 program serves it."
if [ "$SIM_TCP_PORT" != 24 ]; then
    echo ">>> Type $SIM_TCP_PORT into the \"TCP Port\" field of the General tab before pressing TCP Connect."
fi
if [ "$SIM_UDP_PORT" != 4660 ]; then
    echo ">>> Type $SIM_UDP_PORT into the \"UDP Port\" field of the General tab before pressing Read."
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$ROOT/build/app/tarnix2-utility" -a 127.0.0.1 "$@"
else
    echo "No display (DISPLAY is not set): running a short headless demonstration instead."
    QT_QPA_PLATFORM=offscreen "$ROOT/build/app/tarnix2-demo" --tcp-port "$SIM_TCP_PORT" --udp-port "$SIM_UDP_PORT" \
        2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
fi
