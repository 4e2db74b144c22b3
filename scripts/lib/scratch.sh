# Sourced by the demo scripts and the tools' shell tests: a scratch folder, removed on exit with
# the background programs listed in pids ended first, and fail().
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }
