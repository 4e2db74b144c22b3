#!/usr/bin/env bash
# vk5-doctor against the pistol simulator on a private bus, and with no bus at all.
set -euo pipefail
doctor=$1 sim=$2
source "$(dirname "$0")/../../scripts/lib/scratch.sh"

# No bus at all: a clear verdict, quickly.
start=$SECONDS
out=$(DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/nothing timeout 10 "$doctor" --no-install-check --seconds 20 || true)
echo "$out"
grep -q "verdict: no Bluetooth service" <<<"$out" || fail "no verdict for a missing bus"
((SECONDS - start < 5)) || fail "the missing bus took $((SECONDS - start)) s to diagnose"

dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/bus" ]] && break; sleep 0.05; done
bus=$(head -n1 "$work/bus")
printf 'wait-subscribed 20s\nwait 300ms\nfire\nwait 200ms\neject\nwait 200ms\nload\n' >"$work/script"
"$sim" --bus "$bus" --script "$work/script" --no-stdin >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "ready:" "$work/sim.log" 2>/dev/null && break; sleep 0.05; done

out=$(DBUS_SYSTEM_BUS_ADDRESS=$bus timeout 60 "$doctor" --no-install-check --seconds 20 --listen 2)
echo "$out"
for line in "verdict: pistol found and subscribed" "-> packet: trigger" "-> packet: magazine eject" \
            "-> packet: magazine load" "-> phase: connected"; do
  grep -qF -- "$line" <<<"$out" || fail "doctor output lacks \"$line\""
done
