#!/usr/bin/env bash
# The Bluetooth demo: the real driver module, loaded by folder into the
# development host, finds the pistol simulator through a private D-Bus bus
# that stands in for the system bus, links to it, and turns its button
# packets into presses. Ends with presses sent vs seen, latency and reconnects.
#
#   scripts/demo-bluetooth.sh             build, then run for 15 s at 90 Hz
#   VK5_DEMO_SECONDS=20 VK5_DEMO_NO_BUILD=1 scripts/demo-bluetooth.sh
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${VK5_DEMO_SECONDS:-15}

if [[ "${VK5_DEMO_NO_BUILD:-0}" != 1 ]]; then
  VK5_WITH_WINDOWS=0 scripts/setup.sh
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc)" >/dev/null
fi
bin=build/release/bin
driver=build/release/vantorelle_k5
for f in "$bin/vk5-host" "$bin/pistol-sim" "$driver/driver.vrdrivermanifest"; do
  [[ -e "$f" ]] || { echo "demo-bluetooth: missing $f (build the release preset)" >&2; exit 1; }
done

source scripts/lib/scratch.sh

# A bus of our own: nothing on the machine's system bus is touched.
dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/bus" ]] && break; sleep 0.05; done
bus=$(head -n1 "$work/bus")
[[ -n "$bus" ]] || { echo "demo-bluetooth: dbus-daemon did not start" >&2; exit 1; }

# The pistol's part: presses once the driver has subscribed, then it goes out
# of range and comes back, and presses again after the driver relinks.
cat >"$work/pistol.script" <<'EOF'
wait-subscribed 10s
wait 1s
fire
wait 600ms
fire
wait 600ms
eject
wait 600ms
load
wait 600ms
fire
wait 1s
drop
wait 1500ms
reappear
wait-subscribed 10s
wait 800ms
fire
wait 600ms
eject
wait 600ms
load
wait 600ms
fire
EOF

# Each line of both programs is stamped with the monotonic clock on arrival,
# so the summary can set the pistol's sends against the host's presses.
# The first column is seconds since the demo began, for both programs.
cat >"$work/stamp.py" <<'EOF'
import sys, time
tag, log, start = sys.argv[1], open(sys.argv[2], "w"), float(sys.argv[3])
for line in sys.stdin:
    now = time.monotonic()
    log.write(f"{now:.6f} {line}")
    log.flush()
    print(f"{now - start:7.3f} {tag:>6} | {line}", end="", flush=True)
EOF
start=$(python3 -c 'import time; print(time.monotonic())')

echo "== private bus: $bus"
# Disconnect takes as long as it does with the real bluetoothd.
"$bin/pistol-sim" --bus "$bus" --script "$work/pistol.script" --no-stdin --disconnect-delay 2500 \
  > >(python3 -u "$work/stamp.py" pistol "$work/pistol.log" "$start") 2>&1 &
sim=$!
pids+=("$sim")
for _ in $(seq 100); do grep -q "ready:" "$work/pistol.log" 2>/dev/null && break; sleep 0.05; done

echo "== host: $driver at 90 Hz for ${seconds}s"
DBUS_SYSTEM_BUS_ADDRESS="$bus" "$bin/vk5-host" "$driver" --seconds "$seconds" --rate 90 --pose-interval 2 2>&1 |
  python3 -u "$work/stamp.py" host "$work/host.log" "$start"

kill -TERM "$sim" 2>/dev/null || true
for _ in $(seq 40); do grep -q "summary:" "$work/pistol.log" 2>/dev/null && break; sleep 0.05; done

python3 - "$work/pistol.log" "$work/host.log" <<'EOF'
import re, statistics, sys
sent, seen = [], []
kinds = {"fire": "/input/fire/click", "eject": "/input/eject_mag/click", "load": "/input/load_mag/click"}
for line in open(sys.argv[1]):
    m = re.search(r"\] (fire|eject|load): sent .*\(mono ([0-9.]+)\)", line)
    if m:
        sent.append((m.group(1), float(m.group(2))))
back = [float(line.split(" ", 1)[0]) for line in open(sys.argv[1]) if "back in range:" in line]
connected = lost = 0
# Per link: Connect attempts, and the time from the first sighting of the
# pistol since the last link (or the start) to "Device successfully connected."
attempts, to_linked, links, attempt, sighted = [], [], [], 0, None
for line in open(sys.argv[2]):
    stamp = float(line.split(" ", 1)[0])
    for kind, path in kinds.items():
        if f"input {path} = true" in line:
            seen.append((kind, stamp))
    if "Found device: Pistol " in line and sighted is None:
        sighted = stamp
    attempt += "Connecting to device: " in line
    if "Device successfully connected." in line:
        attempts.append(attempt)
        to_linked.append((stamp - sighted) * 1000 if sighted else float("nan"))
        links.append(stamp)
        attempt, sighted = 0, None
    connected += "Device successfully connected." in line
    lost += "Device connection lost." in line
latencies, unmatched = [], list(seen)
for kind, at in sent:
    match = next((s for s in unmatched if s[0] == kind and s[1] >= at), None)
    if match:
        unmatched.remove(match)
        latencies.append((match[1] - at) * 1000)
print()
print("== summary")
for kind in kinds:
    print(f"   {kind:<5}  sent by the pistol {sum(k == kind for k, _ in sent):2}   pressed on the host {sum(k == kind for k, _ in seen):2}")
print(f"   total  sent {len(sent)}   seen {len(seen)}   matched {len(latencies)}")
if latencies:
    print(f"   press-to-host latency: median {statistics.median(latencies):.1f} ms, max {max(latencies):.1f} ms")
print(f"   links made {connected}, connection lost {lost}, reconnects {max(connected - 1, 0)}")
print("   Connect attempts per link: " + (", ".join(str(a) for a in attempts) or "none"))
print("   pistol heard to \"Device successfully connected.\": " +
      (", ".join(f"{t:.0f} ms" for t in to_linked) or "none"))
relinks = [(next(l for l in links if l >= b) - b) * 1000 for b in back if any(l >= b for l in links)]
if relinks:
    print("   relink after the pistol was back in range: " + ", ".join(f"{t:.0f} ms" for t in relinks))
sys.exit(0 if sent and len(latencies) == len(sent) else 1)
EOF
