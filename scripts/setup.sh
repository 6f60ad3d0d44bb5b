#!/usr/bin/env bash
# Installs what the project needs on Debian 12, skipping what is already there.
# Extra package names given as arguments are installed too (the fuzz script passes clang's).
set -euo pipefail

PACKAGES=(
    cmake make g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libqt6svg6
    libyaml-cpp-dev
    pybind11-dev python3-dev python3-numpy python3-pytest
    help2man
    tshark
    qt6-httpserver-dev qt6-websockets-dev libzmq3-dev cppzmq-dev
    prometheus python3-zmq
    xvfb xauth
    fonts-dejavu-core fonts-wqy-microhei
    "$@"
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
        SUDO="sudo"
    else
        echo "setup: need root (or sudo) to install: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
    $SUDO apt-get update
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
