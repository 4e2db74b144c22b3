#!/usr/bin/env bash
# The main job: builds the driver and runs it inside the development host.
# The pose helper beside the module is set to its demo motion, so poses arrive
# without a tracking program.
set -euo pipefail
cd "$(dirname "$0")/.."
VK5_WITH_WINDOWS=0 scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
printf '# Written by scripts/demo.sh\nsource = demo\n' > build/release/bin/pose_getter.cfg
exec build/release/bin/vk5-host build/release/bin/driver_vantorelle_k5.so --seconds "${VK5_DEMO_SECONDS:-5}" "$@"
