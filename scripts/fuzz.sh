#!/usr/bin/env bash
# Runs the fuzz targets (libFuzzer, clang from Debian's packages) for a while each.
#   scripts/fuzz.sh [seconds per target, default 60]
# New inputs go to build-fuzz/corpus/<target>/; the seed corpus in tests/fuzz/corpus/ is only read.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
SECONDS_EACH="${1:-60}"
scripts/setup.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ scripts/build.sh "$ROOT/build-fuzz" -DTARNIX_FUZZ=ON -DTARNIX_BENCH=OFF -DTARNIX_WERROR=OFF
status=0
for target in fuzz_records fuzz_datatext fuzz_stream fuzz_programfile fuzz_programtext fuzz_runfile; do
    mkdir -p "$ROOT/build-fuzz/corpus/$target"
    echo "== $target, $SECONDS_EACH s =="
    "$ROOT/build-fuzz/tests/$target" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
        "$ROOT/build-fuzz/corpus/$target" "$ROOT/tests/fuzz/corpus/$target" 2>&1 |
        grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)" || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
done
exit $status
