#!/usr/bin/env bash
# Checks a built package: lintian (warnings and errors fail; the overrides
# in packaging/lintian-overrides are explained there), then unpacks it into
# a temporary root and starts every program from there.
#
#   scripts/check-deb.sh dist/torvane_1.0-1_amd64.deb
set -euo pipefail
DEB=${1:?usage: scripts/check-deb.sh PACKAGE.deb}

set +e
report=$(lintian --fail-on error,warning "$DEB" 2>&1)
rc=$?
set -e
printf '%s\n' "$report" | grep -v '^running with root privileges' || true
if [ "$rc" -ne 0 ]; then echo "check-deb: lintian found warnings or errors" >&2; exit 1; fi

ROOT=$(mktemp -d)
trap 'rm -rf "$ROOT"' EXIT
dpkg-deb -x "$DEB" "$ROOT/root"
BIN=$ROOT/root/usr/bin
# A home of its own, so nothing is remembered in the caller's settings.
export HOME=$ROOT/home XDG_CONFIG_HOME=$ROOT/home/.config XDG_DATA_HOME=$ROOT/home/.local/share
mkdir -p "$HOME"

for p in Torvane Rirodidovu torvane-createdb torvane-scalesim torvane-products; do
  # A program that ignores --version would start working instead: end it.
  out=$(timeout 20 "$BIN/$p" --version)
  echo "check-deb: $out"
  case $out in "$p "[0-9]*) ;; *) echo "check-deb: $p --version said '$out'" >&2; exit 1 ;; esac
  timeout 20 "$BIN/$p" --help >/dev/null
done
for p in Torvane Rirodidovu torvane-createdb torvane-scalesim torvane-products; do
  [ -s "$ROOT/root/usr/share/man/man1/$p.1.gz" ] || { echo "check-deb: no manual page for $p" >&2; exit 1; }
done

# The windows on a demo database made by the packaged tool: each program
# must still be running after a few seconds (no missing library or plugin),
# then it is stopped.
DATA=$ROOT/shop
mkdir -p "$DATA"
"$BIN/torvane-createdb" --demo "$DATA/vendabase.accdb" >/dev/null
for p in Torvane Rirodidovu; do
  set +e
  QT_QPA_PLATFORM=offscreen timeout 4 "$BIN/$p" --data-folder="$DATA" >"$ROOT/$p.log" 2>&1
  rc=$?
  set -e
  if [ "$rc" -ne 124 ]; then
    echo "check-deb: $p ended with status $rc before its window was closed:" >&2
    cat "$ROOT/$p.log" >&2
    exit 1
  fi
  echo "check-deb: $p showed its window on $DATA"
done
echo "check-deb: $DEB is fine"
