#!/usr/bin/env bash
# The driver on the real Linux Bluetooth stack: Debian's kernel booted under
# QEMU (software emulation) with an initramfs built here, this machine's own
# root shared read-only over 9p, btvirt's two emulated LE controllers, the real
# bluetoothd owning both, a pistol of ours registered through bluetoothd on
# hci1, and the release build's module in vk5-host on hci0. All scenarios run in
# one boot; the runner prints their figures and "N passed, N failed".
#
#   scripts/test-real-bluetooth.sh       (needs the release build; run as root or with sudo)
# On failure the bluetoothd -d, dbus-monitor and btmon records are printed and
# kept in build/real-bluetooth/out.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
dir=$repo/build/real-bluetooth
out=$dir/out
vm_seconds=${VK5_REAL_BT_TIMEOUT:-600}

for f in build/release/bin/vk5-host build/release/bin/vk5-doctor build/release/vantorelle_k5/driver.vrdrivermanifest \
  build/release/vantorelle_k5/bin/linux64/driver_vantorelle_k5.so; do
  [[ -e "$f" ]] || { echo "test-real-bluetooth: missing $f (build the release preset)" >&2; exit 1; }
done
# Its Debian packages (qemu, bluez, busybox-static, ...) come with the rest.
VK5_WITH_WINDOWS=0 VK5_WITH_REAL_BLUETOOTH=1 scripts/setup.sh

# Debian's kernel, unpacked here: nothing is installed in /boot.
kernel_of() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/.*Depends: \(linux-image-6\.1\.[^ ]*-amd64\)$/\1/p' | head -n1; }
kernel_package=$(kernel_of)
if [[ -z "$kernel_package" ]]; then
  # Nothing was installed above, so the package lists may never have been fetched.
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  kernel_package=$(kernel_of)
fi
[[ -n "$kernel_package" ]] || { echo "test-real-bluetooth: no linux-image-6.1 package behind linux-image-amd64" >&2; exit 1; }
kdir=$dir/kernel/$kernel_package
if [[ ! -d "$kdir/root/boot" ]]; then
  rm -rf "$dir/kernel"
  mkdir -p "$kdir"
  (cd "$kdir" && apt-get download -q "$kernel_package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  dpkg-deb -x "$kdir"/*.deb "$kdir/root"
  rm -f "$kdir"/*.deb
fi
vmlinuz=$(ls "$kdir"/root/boot/vmlinuz-*)
moddir=$(ls -d "$kdir"/root/lib/modules/*)

# The initramfs: static busybox, /init, and the modules in dependency order.
rm -rf "$dir/initramfs" "$out"
mkdir -p "$dir/initramfs"/{bin,proc,sys,dev,modules} "$out"
ird=$dir/initramfs
cp /bin/busybox "$ird/bin/busybox"
cp scripts/real-bluetooth/init "$ird/init"
chmod +x "$ird/init"
printf 'REPO=%q\nOUT=%q\n' "$repo" "$out" >"$ird/config"
declare -A loaded=()
order=()
add_module() {
  local name=${1//-/_} file dep
  [[ -n "${loaded[$name]:-}" ]] && return
  loaded[$name]=1
  file=$(find "$moddir" \( -name "$name.ko*" -o -name "${name//_/-}.ko*" \) | head -n1)
  [[ -n "$file" ]] || { echo "test-real-bluetooth: module $name not found" >&2; exit 1; }
  for dep in $(modinfo -F depends "$file" | tr ',' ' '); do add_module "$dep"; done
  case $file in
  *.xz) xz -dc "$file" >"$ird/modules/$name.ko" ;;
  *) cp "$file" "$ird/modules/$name.ko" ;;
  esac
  order+=("$name")
}
for m in virtio_pci 9pnet 9pnet_virtio 9p bluetooth hci_vhci ecdh_generic cmac ecb af_alg algif_hash algif_skcipher; do
  add_module "$m"
done
printf '%s\n' "${order[@]}" >"$ird/modules/order"
(cd "$ird" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$dir/initramfs.cpio.gz")

echo "== booting $(basename "$vmlinuz") under QEMU (software emulation); output in $out"
start=$(date +%s)
set +e
timeout -k 10 "$vm_seconds" qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 1024 -nographic -no-reboot \
  -net none -kernel "$vmlinuz" -initrd "$dir/initramfs.cpio.gz" \
  -append "console=ttyS0 rdinit=/init panic=-1 quiet loglevel=3" \
  -virtfs local,path=/,mount_tag=root,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$out",mount_tag=out,security_model=none </dev/null 2>&1 | tee "$dir/console.log"
qemu_status=${PIPESTATUS[0]}
set -e
echo "== the stage took $(($(date +%s) - start)) s (qemu exit $qemu_status)"

code=$(cat "$out/exit-code" 2>/dev/null || echo none)
if [[ "$code" == 0 ]]; then
  exit 0
fi
echo "test-real-bluetooth: FAILED (runner exit ${code}); the witnesses follow, full copies in $out"
for f in bluetoothd.log dbus-monitor.log host.log doctor.log pistol.log; do
  [[ -s "$out/$f" ]] || continue
  echo "----- $f (last 400 lines)"
  tail -n 400 "$out/$f"
done
if [[ -s "$out/btmon.snoop" ]]; then
  echo "----- btmon (last 400 lines)"
  # Debian 12's btmon -r crashes on some traces; what it printed before that still counts.
  timeout 60 btmon -r "$out/btmon.snoop" 2>&1 | tail -n 400 || true
fi
exit 1
