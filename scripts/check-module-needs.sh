#!/usr/bin/env bash
# What the built Linux module asks of the system it loads on: the newest glibc
# and libstdc++ symbol versions (they set the oldest distribution that can load
# it, which the README states) and the libraries it names. sd-bus is loaded at
# run time, so no systemd library may be named.
#   scripts/check-module-needs.sh [build/release/bin/driver_vantorelle_k5.so]
set -euo pipefail
module=${1:-build/release/bin/driver_vantorelle_k5.so}
max_glibc=2.34
max_glibcxx=3.4.29
failed=0

newest() { objdump -T "$module" | grep -oE "\b$1_[0-9][0-9.]*" | sed "s/^$1_//" | sort -uV | tail -n1; }
at_most() { [[ -z $1 || $(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n1) == "$2" ]]; }

glibc=$(newest GLIBC)
glibcxx=$(newest GLIBCXX)
echo "newest symbol versions: GLIBC_${glibc:-none} (at most $max_glibc), GLIBCXX_${glibcxx:-none} (at most $max_glibcxx)"
at_most "$glibc" "$max_glibc" || { echo "FAILED: the module needs glibc $glibc; the README promises $max_glibc"; failed=1; }
at_most "$glibcxx" "$max_glibcxx" || { echo "FAILED: the module needs GLIBCXX_$glibcxx; at most $max_glibcxx"; failed=1; }

needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "needed libraries: ${needed//$'\n'/ }"
if grep -qE '^lib(systemd|elogind)\.' <<<"$needed"; then
  echo "FAILED: the module names an sd-bus library; it must load it when the link starts"
  failed=1
fi
exit "$failed"
