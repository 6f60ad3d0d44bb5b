#!/usr/bin/env bash
# Builds the Debian package of tarnix2-utility, tarnix-sim and tarnixctl:
#   scripts/package.sh [build dir [cmake options...]]      (default: build-package)
# e.g. scripts/package.sh build-package -DTARNIX_MAINTAINER="Name <name@example.com>"
# The .deb lands in <build dir>/package/; install it with: sudo apt install ./<file>.deb
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DIR="${1:-$ROOT/build-package}"
shift || true
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh" "$DIR" -DCMAKE_BUILD_TYPE=Release -DTARNIX_BENCH=OFF "$@"
(cd "$DIR" && cpack -G DEB -B "$DIR/package" >/dev/null)
ls "$DIR"/package/*.deb
