#!/usr/bin/env bash
# The main job: builds the driver and runs it inside the development host.
set -euo pipefail
cd "$(dirname "$0")/.."
VK5_WITH_WINDOWS=0 scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/bin/vk5-host build/release/vantorelle_k5 --seconds "${VK5_DEMO_SECONDS:-5}" "$@"
