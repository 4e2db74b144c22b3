#!/usr/bin/env bash
# The load run: the real driver module in the development host at 144 Hz,
# the pistol simulator on a private bus sending 1,000 notifications a second
# for 30 s. Prints lost notifications, notification-to-latch latency, the
# BlueZ loop thread's CPU share, resident memory over the run and presses seen
# against those the frame rate allows; fails when one is out of bounds.
#
#   scripts/load-run.sh                      build (release), then run 30 s
#   VK5_LOAD_NO_BUILD=1 scripts/load-run.sh --seconds 60 --rate 2000
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${VK5_LOAD_NO_BUILD:-0}" != 1 ]]; then
  cmake --preset release >/dev/null
  cmake --build build/release --target bluez-load-run -j "$(nproc)" >/dev/null
fi
# The tool's defaults are the load run's figures (30 s, 1,000 a second, 144 Hz).
exec build/release/bin/bluez-load-run "$@"
