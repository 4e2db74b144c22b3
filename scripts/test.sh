#!/usr/bin/env bash
# The whole test suite: sanitizer builds (address+undefined, thread), a release
# build with benchmarks, the driver on the real Bluetooth stack in a virtual
# machine, short fuzzer runs and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Paths relative to the tree and the build folder left out of the hash, so a
# run in a fresh clone on the same machine reuses what an earlier run compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache

jobs=$(nproc)
fuzz_seconds=${VK5_FUZZ_SECONDS:-20}
failed=0

stage() { echo; echo "=== $* ==="; }

stage "format"
if ! git ls-files '*.cpp' '*.h' '*.hpp' | xargs clang-format --dry-run --Werror 2>/dev/null; then
  echo "clang-format: files need formatting (run: git ls-files '*.cpp' '*.h' | xargs clang-format -i)"
  failed=1
fi

for preset in asan tsan release; do
  stage "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  stage "test $preset"
  ctest --preset "$preset" -j "$jobs" || failed=1
done

stage "what the release module needs (glibc, libstdc++, libraries)"
scripts/check-module-needs.sh build/release/bin/driver_vantorelle_k5.so || failed=1

stage "no-radio build (the stub a platform without a backend gets)"
cmake --preset no-radio >/dev/null
cmake --build --preset no-radio -j "$jobs"
ctest --preset no-radio -j "$jobs" || failed=1

stage "bluetooth end to end (driver in the host, pistol simulator on a private bus)"
# Fails unless every press the pistol sends reaches the host, across a reconnect.
VK5_DEMO_NO_BUILD=1 VK5_DEMO_SECONDS=20 scripts/demo-bluetooth.sh >build/release/demo-bluetooth.log 2>&1 || {
  cat build/release/demo-bluetooth.log
  failed=1
}
sed -n '/== summary/,$p' build/release/demo-bluetooth.log

if [[ "${VK5_WITH_REAL_BLUETOOTH:-1}" == 1 ]]; then
  stage "real Linux Bluetooth stack (kernel, btvirt and bluetoothd under QEMU)"
  # Uses the release build; prints its figures per scenario and "N passed, N failed".
  scripts/test-real-bluetooth.sh || failed=1
fi

stage "benchmarks (smoke run)"
for b in build/release/bin/*_bench; do
  [[ -x "$b" ]] || continue
  "$b" --benchmark_min_time=0.05 || failed=1
done

stage "fuzzers (${fuzz_seconds}s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
for f in build/fuzz/bin/*_fuzz; do
  [[ -x "$f" ]] || continue
  name=$(basename "$f")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/corpus/$name
  [[ -d "$seeds" ]] || seeds=
  "$f" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" $seeds 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true
  [[ ${PIPESTATUS[0]} -eq 0 ]] || failed=1
done

if [[ -x scripts/test-windows.sh && "${VK5_WITH_WINDOWS:-1}" == 1 ]]; then
  stage "windows build under wine"
  scripts/test-windows.sh || failed=1
fi

echo
if ((failed)); then echo "SOME TESTS FAILED"; exit 1; fi
echo "ALL TESTS PASSED"
