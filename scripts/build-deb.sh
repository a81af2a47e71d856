#!/usr/bin/env bash
# Builds the Debian package torvane_<version>_<arch>.deb from a checkout.
#
#   scripts/build-deb.sh            # package into dist/
#   OUT_DIR=/tmp scripts/build-deb.sh
#
# It reuses an existing normal build in $BUILD_DIR (default build/, as
# scripts/build.sh and scripts/test.sh leave it) and only installs it into a
# staging root; without one it configures and builds the programs alone.
# A sanitizer build is refused: its programs cannot be shipped.
# Needs dpkg-dev (dpkg-shlibdeps); scripts/install-deps.sh installs it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-build}
OUT_DIR=${OUT_DIR:-dist}
PKG=torvane

if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  if grep -Eq '^TORVANE_(SANITIZE|TSAN):BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
    echo "build-deb: $BUILD_DIR is a sanitizer build; use a normal one (BUILD_DIR=...)" >&2
    exit 2
  fi
  # Installed paths written into files at configure time (systemd units)
  # must say /usr; changing the prefix recompiles nothing.
  cmake -S . -B "$BUILD_DIR" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  # Brings it up to date (nothing to do right after scripts/build.sh).
  cmake --build "$BUILD_DIR" -j"$(nproc)"
else
  BUILD_DIR="$BUILD_DIR" scripts/build.sh -DCMAKE_INSTALL_PREFIX=/usr -DTORVANE_BUILD_TESTS=OFF -DTORVANE_BUILD_BENCH=OFF
fi

VERSION=$(dpkg-parsechangelog -l packaging/changelog -S Version)
PROJECT_VERSION=$(sed -n 's/^project(Torvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ "${VERSION%-*}" != "$PROJECT_VERSION" ]; then
  echo "build-deb: packaging/changelog says $VERSION but CMakeLists.txt says $PROJECT_VERSION" >&2
  exit 2
fi
ARCH=$(dpkg --print-architecture)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
STAGE=$WORK/$PKG
umask 022
DESTDIR=$STAGE cmake --install "$BUILD_DIR" >/dev/null

# Programs without debugging symbols; manual pages and the changelog
# compressed the way Debian wants them (reproducibly, -n).
for f in "$STAGE"/usr/bin/*; do
  if file -b "$f" | grep -q '^ELF'; then
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$f"
  fi
done
find "$STAGE/usr/share/man" -type f -name '*.[0-9]' -exec gzip -9n {} +
DOC=$STAGE/usr/share/doc/$PKG
install -d "$DOC"
install -m 644 packaging/copyright "$DOC/copyright"
gzip -9nc packaging/changelog >"$DOC/changelog.Debian.gz"
install -m 644 README.md "$DOC/README.md"
install -m 644 docs/transmitter.md "$DOC/transmitter.md"
install -d "$STAGE/usr/share/lintian/overrides"
install -m 644 packaging/lintian-overrides "$STAGE/usr/share/lintian/overrides/$PKG"

# Shared-library dependencies from the programs, plus what Qt loads at run
# time and no linker sees: the SQLite driver and the window-system plugins.
install -d "$WORK/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$PKG" "$PKG" >"$WORK/debian/control"
BINARIES=()
for f in "$STAGE"/usr/bin/*; do
  if file -b "$f" | grep -q '^ELF'; then BINARIES+=("$f"); fi
done
SHLIBS=$(cd "$WORK" && dpkg-shlibdeps -O "${BINARIES[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
DEPENDS="$SHLIBS, libqt6sql6-sqlite, qt6-qpa-plugins"
rm -rf "$WORK/debian"

SIZE=$(du -sk --apparent-size "$STAGE" | cut -f1)
install -d "$STAGE/DEBIAN"
sed -e "s/@VERSION@/$VERSION/" -e "s/@ARCH@/$ARCH/" -e "s/@SIZE@/$SIZE/" -e "s/@DEPENDS@/$DEPENDS/" \
  packaging/control.in >"$STAGE/DEBIAN/control"
(cd "$STAGE" && find . -type f ! -path './DEBIAN/*' ! -path './etc/*' -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$STAGE/DEBIAN/md5sums"
chmod 644 "$STAGE/DEBIAN/control" "$STAGE/DEBIAN/md5sums"
# Files under /etc are the shop's settings: dpkg keeps their edits.
if [ -d "$STAGE/etc" ]; then
  (cd "$STAGE" && find etc -type f | sort | sed 's|^|/|') >"$STAGE/DEBIAN/conffiles"
  chmod 644 "$STAGE/DEBIAN/conffiles"
fi
# dpkg triggers refresh the menu, the icon cache and the manual-page index;
# the one maintainer script creates the service's user (sysusers.d).
install -m 755 packaging/postinst "$STAGE/DEBIAN/postinst"

mkdir -p "$OUT_DIR"
DEB=$OUT_DIR/${PKG}_${VERSION}_${ARCH}.deb
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$DEB" >/dev/null
echo "$DEB"
