#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh <dir> [extra cmake options...]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIR="$1"
shift
JOBS="$(nproc 2>/dev/null || echo 2)"
cmake -S "$ROOT" -B "$DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNIX_WERROR=ON "$@" >/dev/null
cmake --build "$DIR" -j"$JOBS"
