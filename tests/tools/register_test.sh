#!/usr/bin/env bash
# vk5-doctor --register / --unregister as a user runs them: from inside an
# unpacked driver folder, against a registry in a temporary home.
set -euo pipefail
doctor=$1 built_folder=$2
source "$(dirname "$0")/../../scripts/lib/scratch.sh"
expect() { grep -qF -- "$1" <<<"$out" || fail "output lacks \"$1\":"$'\n'"$out"; }

folder=$work/drivers/vantorelle_k5
mkdir -p "$work/drivers"
cp -r "$built_folder" "$folder"
cp "$doctor" "$folder/bin/linux64/"
doctor=$folder/bin/linux64/vk5-doctor
export XDG_CONFIG_HOME=$work/config
registry=$XDG_CONFIG_HOME/openvr/openvrpaths.vrpath
unset VR_PATHREG_OVERRIDE

# The host never ran: nothing to add to, and nothing is created.
out=$("$doctor" --register 2>&1) && fail "registered without a registry"
echo "$out"
expect "refused: $registry does not exist"
expect "start the host once"
[[ ! -e $XDG_CONFIG_HOME ]] || fail "a refusal created files"

mkdir -p "$(dirname "$registry")"
printf '{\n\t"external_drivers" : \n\t[\n\t\t"/opt/gloves"\n\t],\n\t"jsonid" : "vrpathreg",\n\t"version" : 1\n}\n' >"$registry"
cp "$registry" "$work/original"

# The default folder is the one the program sits in; then the folder check.
out=$("$doctor" --register 2>&1) || fail "--register failed:"$'\n'"$out"
echo "$out"
expect "registered: added $folder"
expect "[ ok ] driver.vrdrivermanifest"
expect "verdict: registered; start the host"
grep -qF "\"$folder\"" "$registry" || fail "the registry does not list the folder"
grep -qF '"/opt/gloves"' "$registry" || fail "the other driver was lost"
cmp -s "$work/original" "$registry.vk5-backup" || fail "the backup is not the old file"
cp "$registry" "$work/registered"

out=$("$doctor" --register 2>&1) || fail "registering again failed"
expect "already registered"
cmp -s "$work/registered" "$registry" || fail "registering twice changed the file"

# A running host: refused, untouched.
cp "$(command -v sleep)" "$work/vrserver"
"$work/vrserver" 60 &
pids+=($!)
for _ in $(seq 100); do [[ $(cat "/proc/${pids[0]}/comm" 2>/dev/null) == vrserver ]] && break; sleep 0.05; done
out=$("$doctor" --unregister 2>&1) && fail "unregistered while the host runs"
echo "$out"
expect "Close the host first"
cmp -s "$work/registered" "$registry" || fail "a refusal changed the file"
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()

out=$("$doctor" --unregister --driver-folder "$folder/" 2>&1) || fail "--unregister failed:"$'\n'"$out"
echo "$out"
expect "unregistered: removed $folder"
cmp -s "$work/original" "$registry" || fail "unregistering did not give back the original file"

# Without XDG_CONFIG_HOME the registry is under ~/.config.
mkdir -p "$work/home/.config/openvr"
cp "$work/original" "$work/home/.config/openvr/openvrpaths.vrpath"
out=$(env -u XDG_CONFIG_HOME HOME="$work/home" "$doctor" --register 2>&1) || fail "--register with HOME failed"
expect "registered: added $folder to the host's driver list in $work/home/.config/openvr/openvrpaths.vrpath"

# A folder that is not a driver folder is not registered.
out=$("$doctor" --register --driver-folder "$work" 2>&1) && fail "registered a folder without a manifest"
expect "holds no driver.vrdrivermanifest"
"$doctor" --register --unregister >/dev/null 2>&1 && fail "--register and --unregister together were accepted"
# A folder whose name is not UTF-8 (Latin-1 here) cannot be listed: a message, not an abort.
latin1=$work/$'Bj\xf6rn'
mkdir -p "$latin1"
cp -r "$folder" "$latin1/"
cp "$registry" "$work/before-latin1"
out=$("$doctor" --register --driver-folder "$latin1/vantorelle_k5" 2>&1) && fail "registered a name that is not UTF-8"
expect "is not valid UTF-8"
cmp -s "$work/before-latin1" "$registry" || fail "a refused name changed the registry"

# The registry exactly as the host writes it on a fresh install: its JSON
# writer's layout, no newline at the end, and the empty driver list as null.
fresh=$'{\n\t"config" : \n\t[\n\t\t"/home/u/vr-runtime/config"\n\t],\n\t"external_drivers" : null,\n'
fresh+=$'\t"jsonid" : "vrpathreg",\n\t"log" : \n\t[\n\t\t"/home/u/vr-runtime/logs"\n\t],\n'
fresh+=$'\t"runtime" : \n\t[\n\t\t"/home/u/vr-runtime"\n\t],\n\t"version" : 1\n}'
printf '%s' "$fresh" >"$registry"
out=$("$doctor" --register 2>&1) || fail "--register on a fresh install's registry failed:"$'\n'"$out"
expect "verdict: registered; start the host"
printf '%s' "${fresh/null/$'\n\t[\n\t\t"'"$folder"$'"\n\t]'}" | cmp - "$registry" ||
  fail "the registry is not the fresh one with our entry: $(cat "$registry")"
echo "register test passed"
