#!/usr/bin/env bash
# pose_getter --calibrate as a user runs it, against the fake runtime whose
# tracker the test moves as the prompts ask: Enter on standard input, one
# step lost to tracking and repeated, then the mount written into the
# configuration beside the program with every other line kept.
# Usage: calibrate_test.sh PROGRAM FAKE_CLIENT_LIBRARY [RUNNER]
#   RUNNER (wine) runs a Windows PROGRAM; paths handed to it become Z:\...
# CALIBRATE_COUNTDOWN overrides the short countdown used here (3 is the default
# of the program) to time the steps as a user meets them.
set -euo pipefail
program=$1 fake=$2 runner=${3:-}
source "$(dirname "$0")/../../../scripts/lib/scratch.sh"
countdown=${CALIBRATE_COUNTDOWN:-0.2}
native() { if [[ -n $runner ]]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
run() { if [[ -n $runner ]]; then "$runner" "$@"; else "$@"; fi; }

mkdir -p "$work/bin"
cp "$program" "$work/bin/"
program=$work/bin/$(basename "$program")
config=$work/bin/pose_getter.cfg
if [[ -n $runner ]]; then
  mkdir -p "$work/runtime/bin" && cp "$fake" "$work/runtime/bin/vrclient_x64.dll"
else
  mkdir -p "$work/runtime/bin/linux64" && cp "$fake" "$work/runtime/bin/linux64/vrclient.so"
fi
export VR_OVERRIDE
VR_OVERRIDE=$(native "$work/runtime")
export VK5_FAKE_VRCLIENT_ROOM="3 3 0 TRK-CAL 0 1 0"
export VK5_FAKE_VRCLIENT_MOTION
VK5_FAKE_VRCLIENT_MOTION=$(native "$work/motion")

# udp and demo carry the pistol's own pose: refused, nothing written.
for source in udp demo; do
  printf 'source = %s\n' "$source" >"$config"
  status=0
  out=$(run "$program" --calibrate </dev/null 2>&1 | tr -d '\r') || status=$?
  [[ $status == 2 ]] || fail "--calibrate with source = $source exited $status: $out"
  grep -qF "needs source = openvr or source = opentrack" <<<"$out" || fail "no reason given for $source: $out"
  [[ $(<"$config") == "source = $source" && ! -e $config.vk5-backup ]] || fail "the $source configuration was changed"
done

# The truth: the tracker turned by yaw 20, pitch -35, roll 170 from the
# pistol, the grip heel at (0.03, -0.05, 0.08) in the tracker's frame, the
# muzzle tip 18 cm ahead of it and 1 cm up, in the pistol's frame.
read -r -a truth < <(awk 'BEGIN {
  d = atan2(0, -1) / 180
  y = 20 * d; p = -35 * d; r = 170 * d
  # R = Ry(yaw) Rx(pitch) Rz(roll): the pistol axes in the tracker frame.
  split(cos(y) " 0 " sin(y) " 0 1 0 " (-sin(y)) " 0 " cos(y), Y, " ")
  split("1 0 0 0 " cos(p) " " (-sin(p)) " 0 " sin(p) " " cos(p), X, " ")
  split(cos(r) " " (-sin(r)) " 0 " sin(r) " " cos(r) " 0 0 0 1", Z, " ")
  for (i = 0; i < 3; i++) for (j = 0; j < 3; j++) { YX[i,j] = 0; for (k = 0; k < 3; k++) YX[i,j] += Y[i*3+k+1] * X[k*3+j+1] }
  for (i = 0; i < 3; i++) for (j = 0; j < 3; j++) { M[i,j] = 0; for (k = 0; k < 3; k++) M[i,j] += YX[i,k] * Z[k*3+j+1] }
  # The tracker upright-pistol rotation: Ry(30) times the transpose of M.
  f = 30 * d; split(cos(f) " 0 " sin(f) " 0 1 0 " (-sin(f)) " 0 " cos(f), F, " ")
  out = ""
  for (i = 0; i < 3; i++) for (j = 0; j < 3; j++) { v = 0; for (k = 0; k < 3; k++) v += F[i*3+k+1] * M[j,k]; out = out " " v }
  g[0] = 0.03; g[1] = -0.05; g[2] = 0.08
  for (i = 0; i < 3; i++) mz[i] = g[i] + M[i,1] * 0.01 - M[i,2] * 0.18
  printf "%s %s %s %s %s %s %s\n", out, g[0], g[1], g[2], mz[0], mz[1], mz[2]
}')
rotation="${truth[*]:0:9}" grip="${truth[*]:9:3}" muzzle="${truth[*]:12:3}"
motion() { printf '%s\n' "$1" >"$work/motion.new" && mv "$work/motion.new" "$work/motion"; }

printf '# the pistol'"'"'s tracker\nsource = openvr\nfollow = TRK-CAL   # taped under the barrel\r\noffset_position = 0 0 0\n# by hand, before\noffset_rotation = 0 0 0\n' >"$config"
cp "$config" "$work/original"
motion "hold 3 $rotation 0 1.2 -0.3"
mkfifo "$work/in"
run "$program" --calibrate --countdown "$countdown" <"$work/in" >"$work/out" 2>&1 &
pids+=($!)
exec 3>"$work/in"

# Waits for the COUNT-th line holding TEXT in the program's output.
wait_for() {
  for _ in $(seq 600); do
    (($(tr -d '\r' <"$work/out" | grep -cF -- "$1" || true) >= ${2:-1})) && return 0
    sleep 0.1
  done
  fail "no \"$1\" (${2:-1}) in: $(cat "$work/out")"
}
now() { date +%s.%N; }
took() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

wait_for "Step 1 of 3, the grip"
wait_for "Press Enter"
motion "lost 3"
echo >&3
wait_for "not tracked for 1.5 s in a row"
wait_for "Step 1 of 3, the grip" 2
motion "swing 3 $rotation $grip 0.2 0.9 -0.4 30 2"
start=$(now)
echo >&3
wait_for "Step 2 of 3, the muzzle"
echo "grip step: $(took "$start")"
motion "swing 3 $rotation $muzzle -0.5 1.0 -1.2 30 2"
start=$(now)
echo >&3
wait_for "Step 3 of 3, level"
echo "muzzle step: $(took "$start")"
motion "hold 3 $rotation 0.1 1.3 -0.2"
start=$(now)
echo >&3
status=0
wait "${pids[0]}" || status=$?
echo "level step and writing: $(took "$start")"
exec 3>&-
out=$(tr -d '\r' <"$work/out")
echo "$out"
[[ $status == 0 ]] || fail "--calibrate exited $status"
grep -qF "Written to" <<<"$out" || fail "not written"

# The mount as measured, every other line as it was, the old file kept.
cmp -s "$work/original" "$config.vk5-backup" || fail "the backup is not the old file"
awk -v g="$grip" '
  /^offset_position = / { split(g, t, " "); for (i = 1; i <= 3; i++) if ((d = $(i + 2) - t[i]) * d > 1e-6) bad = 1; seen++ }
  /^offset_rotation = / { split("20 -35 170", t, " "); for (i = 1; i <= 3; i++) if ((d = $(i + 2) - t[i]) * d > 0.01) bad = 1; seen++ }
  END { exit bad || seen != 2 }' "$config" || fail "the measured mount is wrong: $(cat "$config")"
diff <(grep -v '^offset_\|^# mount calibrated by pose_getter --calibrate: ' "$config") \
  <(grep -v '^offset_' "$work/original") || fail "other lines changed"
grep -qE '^# mount calibrated by pose_getter --calibrate: [0-9-]+ [0-9:]+ UTC, grip fit 0\.[0-9] mm' "$config" ||
  fail "no calibration note: $(cat "$config")"
echo "calibrate test passed"
