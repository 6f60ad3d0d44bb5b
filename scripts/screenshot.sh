#!/usr/bin/env bash
# Makes the README's pictures: the real window and the program editor, offscreen, against tarnix-sim.
# scripts/screenshot.sh [interactive picture] [settings picture] [editor picture] [program tab picture]
#                       [download picture] [rates picture]
#                       [histograms picture] [2D histogram picture] [histogram CSV]
# The module answers RBCP 40 ms late, so that a download lasts long enough to be pictured; it
# raises interrupt level 3 every second and level 5 every 400 ms.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/setup.sh
scripts/build.sh "$ROOT/build"
source scripts/simctl.sh
trap stop_sim EXIT
start_sim "$ROOT/build/sim/tarnix-sim" 0 0 --irq 3:5:1000 --irq 5:9:400 --delay 40 || { echo "tarnix-sim failed to start: ${SIM_ERROR:-}" >&2; exit 1; }
mkdir -p docs
QT_QPA_PLATFORM=offscreen "$ROOT/build/app/tarnix2-demo" --tcp-port "$SIM_TCP_PORT" --udp-port "$SIM_UDP_PORT" \
    --screenshot "${1:-docs/window.png}" --settings-screenshot "${2:-docs/settings.png}" \
    --editor-screenshot "${3:-docs/editor.png}" --programs-screenshot "${4:-docs/programs.png}" \
    --download-screenshot "${5:-docs/download.png}" --rates-screenshot "${6:-docs/rates.png}" \
    >/dev/null 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
echo "saved ${1:-docs/window.png}, ${2:-docs/settings.png}, ${3:-docs/editor.png}, ${4:-docs/programs.png}," \
    "${5:-docs/download.png} and ${6:-docs/rates.png}"

# The Histograms tab against a module whose reports look like a detector's: item 1 a peak at 1200
# (width 60) and item 2 one at 2600 (width 150), each over a flat background, 20,000 reports/s.
stop_sim
start_sim "$ROOT/build/sim/tarnix-sim" 0 0 --reports 0 --report-rate 20000 --report-items 3 \
    --report-peak 1:1200:60:0.3 --report-peak 2:2600:150:0.3 --report-seed 1 \
    || { echo "tarnix-sim failed to start: ${SIM_ERROR:-}" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$ROOT/build/app/tarnix2-demo" --tcp-port "$SIM_TCP_PORT" --udp-port "$SIM_UDP_PORT" \
    --histograms-screenshot "${7:-docs/histograms.png}" --histograms2d-screenshot "${8:-docs/histograms2d.png}" \
    --histograms-csv "${9:-docs/histogram.csv}" >/dev/null 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
echo "saved ${7:-docs/histograms.png}, ${8:-docs/histograms2d.png} and ${9:-docs/histogram.csv}"
