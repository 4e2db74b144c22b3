#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12. Idempotent.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libfmt-dev
  libsystemd-dev dbus-daemon python3-dbusmock
  zip assimp-utils
)
if [[ "${VK5_WITH_REAL_BLUETOOTH:-1}" == 1 ]]; then
  # The real-stack test: a kernel booted under QEMU with btvirt's controllers and bluetoothd.
  packages+=(qemu-system-x86 bluez bluez-test-tools busybox-static python3-dbus python3-gi kmod xz-utils)
fi
if [[ "${VK5_WITH_WINDOWS:-1}" == 1 ]]; then
  packages+=(mingw-w64 wine64)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
