#!/usr/bin/env bash
# The Windows stage: cross-builds the `windows` preset with mingw-w64, checks
# what the module exports and imports, and runs the test programs and the
# development host under Wine in a throwaway prefix.
# VK5_WINEPREFIX=<dir> reuses an existing prefix instead (faster when iterating).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
bin=build/windows/bin
module=$bin/driver_vantorelle_k5.dll
failed=0
t0=$SECONDS

stage() { echo; echo "--- $* ($((SECONDS - t0)) s)"; }
fail() { echo "FAILED: $*"; failed=1; }

# Debian's wine64 package keeps its loader in /usr/lib/wine unless `wine` is installed too.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
objdump=x86_64-w64-mingw32-objdump
[[ -x $wine ]] || { echo "test-windows: wine64 not found (scripts/setup.sh installs it)"; exit 1; }
# The Bluetooth tests rely on a Wine without Bluetooth classes of its own (8.x),
# so that the module's fallback lookup finds the fake class module.
wine_version=$("$wine" --version 2>/dev/null || true)
echo "wine: $wine_version"
[[ $wine_version == wine-8.* ]] ||
  echo "WARNING: the Bluetooth tests were written for Wine 8; a later Wine may answer with its own classes"

export WINEDEBUG=-all
# No Mono or Gecko install prompts: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vk5-windows.XXXXXX")
if [[ -n ${VK5_WINEPREFIX:-} ]]; then
  export WINEPREFIX=$VK5_WINEPREFIX
else
  export WINEPREFIX=$scratch/prefix
fi
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The prefix boots while the build runs; it is mostly waiting on the disk.
stage "wineboot (in the background)"
"$wine" wineboot -i >"$scratch/wineboot.log" 2>&1 &
wineboot_pid=$!

stage "configure and build the windows preset"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

stage "module exports and imports"
dump=$("$objdump" -p "$module")
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {exit} on {print $NF}' <<<"$dump")
echo "exports: ${exports//$'\n'/ }"
[[ $exports == HmdDriverFactory ]] || fail "the module must export exactly HmdDriverFactory"
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
echo "imports: ${imports//$'\n'/ }"
# System DLLs only: a mingw runtime DLL here would be missing beside the host.
system_dll='^(kernel32|msvcrt|advapi32|ole32|oleaut32|combase|user32|shell32|ws2_32|bcrypt|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r dll; do
  [[ ${dll,,} =~ $system_dll ]] || fail "the module imports $dll, which Windows does not provide"
done <<<"$imports"

stage "waiting for wineboot"
wait "$wineboot_pid" || { cat "$scratch/wineboot.log"; fail "wineboot"; }

stage "test programs under Wine"
# Bounded runs: a hung Deactivate must fail the stage, not stall CI.
run_wine() { (cd "$bin" && timeout --kill-after=10 300 "$wine" "$@"); }
for test in "$bin"/*_tests.exe; do
  echo "$(basename "$test"):"
  run_wine "./$(basename "$test")" --gtest_brief=1 || fail "$(basename "$test")"
done

stage "pose_getter --calibrate under Wine"
tests/tools/pose_getter/calibrate_test.sh "$bin/pose_getter.exe" "$bin/vrclient_x64.dll" "$wine" ||
  fail "pose_getter --calibrate under Wine"

stage "development host smoke run under Wine"
folder=$scratch/driver/vantorelle_k5
mkdir -p "$folder/bin/win64"
printf '{\n  "alwaysActivate": true,\n  "name": "vantorelle_k5",\n  "directory": "",\n  "resourceOnly": false,\n  "hmd_presence": []\n}\n' \
  >"$folder/driver.vrdrivermanifest"
cp "$module" "$folder/bin/win64/"
cp "$bin/pose_getter.exe" "$folder/bin/win64/"
# Wine maps the Linux root to drive Z:.
folder_windows="Z:${folder//\//\\}"
# Into a file, not a pipe: a helper left running would hold a pipe open.
if run_wine ./vk5-host.exe "$folder_windows" --frames 90 --pose-interval 0.5 >"$scratch/host.log" 2>&1; then
  output=$(<"$scratch/host.log")
  echo "$output"
  expected=("host: Init returned 0" "driver: PoseGetter process started." "host: Activate(0) returned 0"
            "host: ran 90 frames" "driver: PoseGetter process terminated." "host: Deactivate returned"
            "host: Cleanup returned")
  for line in "${expected[@]}"; do
    grep -qF "$line" <<<"$output" || fail "vk5-host output lacks \"$line\""
  done
else
  cat "$scratch/host.log"
  fail "vk5-host.exe exited with an error"
fi

stage "installed driver folder and registration under Wine"
install_root=$scratch/install
cmake --install build/windows --prefix "$install_root" >/dev/null
installed=$install_root/vantorelle_k5
installed_windows="Z:${installed//\//\\}"
VK5_TEST_DRIVER_FOLDER=$installed_windows run_wine ./module_tests.exe --gtest_filter='DriverFolder*' --gtest_brief=1 ||
  fail "the folder tests on the installed folder"
# vk5-doctor --register from inside the installed folder, against the
# registry in the prefix's %LOCALAPPDATA%.
local_appdata=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local
registry=$local_appdata/openvr/openvrpaths.vrpath
# Its output is checked, not its exit code: a refusal exits non-zero on purpose.
doctor() { (cd "$installed/bin/win64" && timeout --kill-after=10 120 "$wine" ./vk5-doctor.exe "$@" 2>&1 | tr -d '\r') || true; }
expect_in() { grep -qF -- "$2" <<<"$1" || fail "vk5-doctor output lacks \"$2\": $1"; }
if [[ ! -d $local_appdata ]]; then
  fail "the Wine prefix has no $local_appdata"
else
  out=$(doctor --register)
  echo "$out"
  expect_in "$out" "does not exist"
  [[ ! -e $registry ]] || fail "a refusal created the registry"
  mkdir -p "$(dirname "$registry")"
  printf '{\n\t"external_drivers" : \n\t[\n\t\t"C:\\\\VR\\\\gloves"\n\t],\n\t"jsonid" : "vrpathreg",\n\t"version" : 1\n}\n' \
    >"$registry"
  cp "$registry" "$scratch/registry.original"
  out=$(doctor --register)
  echo "$out"
  expect_in "$out" "verdict: registered; start the host"
  escaped=${installed_windows//\\/\\\\}
  grep -qF "\"$escaped\"" "$registry" || fail "the registry does not list $installed_windows: $(cat "$registry")"
  grep -qF '"C:\\VR\\gloves"' "$registry" || fail "the other driver was lost"
  cmp -s "$scratch/registry.original" "$registry.vk5-backup" || fail "the backup is not the old file"
  out=$(doctor --register)
  expect_in "$out" "already registered"
  out=$(doctor --unregister)
  echo "$out"
  expect_in "$out" "unregistered: removed"
  cmp -s "$scratch/registry.original" "$registry" || fail "unregistering did not give back the original file"
  chmod a-w "$registry"
  out=$(doctor --register)
  expect_in "$out" "read-only"
  cmp -s "$scratch/registry.original" "$registry" || fail "a read-only registry was changed"
fi

stage "registration from folders named outside the ANSI code page under Wine"
# The installed folder under Greek and Japanese names, registered into the
# registry exactly as the host writes it on a fresh install (its JSON writer's
# layout, text mode so CRLF, no newline at the end, the empty list as null).
# Wine reads Unix file names and arguments in the locale's character set.
export LC_ALL=C.UTF-8
wide_parent=$scratch/Ελένη/ドライバー
mkdir -p "$wide_parent"
cp -r "$installed" "$wide_parent/"
wide_installed=$wide_parent/vantorelle_k5
wide_windows="Z:${wide_installed//\//\\}"
fresh=$'{\r\n\t"config" : \r\n\t[\r\n\t\t"C:\\\\vr-runtime\\\\config"\r\n\t],\r\n\t"external_drivers" : null,\r\n'
fresh+=$'\t"jsonid" : "vrpathreg",\r\n\t"log" : \r\n\t[\r\n\t\t"C:\\\\vr-runtime\\\\logs"\r\n\t],\r\n'
fresh+=$'\t"runtime" : \r\n\t[\r\n\t\t"C:\\\\vr-runtime"\r\n\t],\r\n\t"version" : 1\r\n}'
if [[ -d $(dirname "$registry") ]]; then
  chmod u+w "$registry"
  printf '%s' "$fresh" >"$registry"
  out=$( (cd "$wide_installed/bin/win64" && timeout --kill-after=10 120 "$wine" ./vk5-doctor.exe --register 2>&1 | tr -d '\r') || true)
  echo "$out"
  expect_in "$out" "registered: added $wide_windows"
  expect_in "$out" "verdict: registered; start the host"
  printf '%s' "${fresh/null/$'\r\n\t[\r\n\t\t"'"${wide_windows//\\/\\\\}"$'"\r\n\t]'}" >"$scratch/registry.expected"
  cmp "$scratch/registry.expected" "$registry" || fail "the registry is not the fresh one plus our entry: $(cat "$registry")"
  printf '%s' "$fresh" | cmp -s - "$registry.vk5-backup" || fail "the backup is not the fresh registry"
  # The name on the command line, from another folder: the arguments must
  # arrive whole, not through the ANSI code page.
  out=$(doctor --unregister --driver-folder "$wide_windows")
  echo "$out"
  expect_in "$out" "unregistered: removed $wide_windows"
  ! grep -qF "vantorelle_k5" "$registry" || fail "the entry is still listed: $(cat "$registry")"
fi

stage "done"
echo "windows stage took $((SECONDS - t0)) s"
exit "$failed"
