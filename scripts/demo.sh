#!/usr/bin/env bash
# The main job: builds the driver and runs it inside the development host.
# The pose helper beside the module is set to its demo motion, so poses arrive
# without a tracking program.
set -euo pipefail
cd "$(dirname "$0")/.."
VK5_WITH_WINDOWS=0 scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
driver=build/release/vantorelle_k5
printf '# Written by scripts/demo.sh\nsource = demo\n' > "$driver/bin/linux64/pose_getter.cfg"
exec build/release/bin/vk5-host "$driver" --seconds "${VK5_DEMO_SECONDS:-5}" "$@"
