#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer build, and runs every test through CTest.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/setup.sh

echo "== normal build =="
scripts/build.sh "$ROOT/build"
echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) =="
scripts/build.sh "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTARNIX_SANITIZE=ON -DTARNIX_BENCH=OFF

export QT_QPA_PLATFORM=offscreen
status=0
echo "== tests: normal build =="
ctest --test-dir "$ROOT/build" --output-on-failure --timeout 300 || status=1
echo "== tests: sanitizer build =="
ctest --test-dir "$ROOT/build-asan" --output-on-failure --timeout 600 || status=1
exit $status
