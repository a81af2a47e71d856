#!/bin/sh
# The systemd units as an install of this build leaves them: the unit reads
# its settings where they were installed (/etc/default for the prefixes /usr
# and /usr/local, as the README says), its user is created by a sysusers.d
# file, and it waits for the network (a base on a server).
#   test_systemd_units.sh BUILD_DIR
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
DESTDIR=$tmp cmake --install "$build" --component systemd-units >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
unit=$tmp$prefix/lib/systemd/system/torvane-transfer.service
fail() { echo "test_systemd_units: $*" >&2; exit 1; }

settings=$(sed -n 's/^EnvironmentFile=//p' "$unit")
[ -f "$tmp$settings" ] || fail "EnvironmentFile=$settings is not where the settings were installed"
case $prefix in
  /usr|/usr/local) [ "$settings" = /etc/default/torvane-transfer ] || fail "settings at $settings, not /etc/default" ;;
esac
user=$(sed -n 's/^User=//p' "$unit")
sysusers=$tmp$prefix/lib/sysusers.d/torvane-transfer.conf
grep -q "^u $user " "$sysusers" || fail "no sysusers.d entry for $user"
if command -v systemd-sysusers >/dev/null 2>&1; then
  systemd-sysusers --dry-run "$sysusers" >/dev/null || fail "systemd-sysusers refuses $sysusers"
fi
grep -qx 'Wants=network-online.target' "$unit" || fail "no Wants=network-online.target"
grep -q '^After=.*network-online.target' "$unit" || fail "no After=network-online.target"
echo "units fine for prefix $prefix"
