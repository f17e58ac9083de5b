#!/usr/bin/env bash
# Sets up the machine, builds cribsync and runs it on the embedded demo databases in ./demo
# (created on the first run). With a display it shows the window; without one it runs headless
# and writes its log to the terminal. Extra arguments go to cribsync (for example --once).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target cribsync

args=(--demo "$PWD/demo")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    args+=(--headless)
fi
exec build/src/app/cribsync "${args[@]}" "$@"
