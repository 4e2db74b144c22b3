#!/usr/bin/env bash
# The main job: builds the driver, then runs the real module in the
# development host against the pistol simulator on a private D-Bus bus, with
# the pose helper beside it on its demo motion. Ends with a summary of presses
# sent by the pistol versus presses the host saw.
set -euo pipefail
cd "$(dirname "$0")/.."
VK5_WITH_WINDOWS=0 VK5_WITH_REAL_BLUETOOTH=0 scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
printf '# Written by scripts/demo.sh\nsource = demo\n' > build/release/vantorelle_k5/bin/linux64/pose_getter.cfg
VK5_DEMO_NO_BUILD=1 exec scripts/demo-bluetooth.sh "$@"
