#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quernfold.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target quernfold
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "no display: starting under Xvfb (xvfb-run); set DISPLAY to see the window" >&2
    exec xvfb-run -a ./build/app/quernfold "$@"
fi
exec ./build/app/quernfold "$@"
