#!/usr/bin/env bash
# Installs every Debian package the build (lld: the test script's linker),
# the tests, the fuzz targets, the demo, the network scale tests (ser2net, a
# real serial device server) and the Debian package (scripts/build-deb.sh,
# checked with lintian) need.
# LibreOffice (without its windows) is the spreadsheet program the export is
# tested against.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config lld \
  qt6-base-dev qt6-qpa-plugins libqt6sql6-sqlite libqt6sql6-psql libgl-dev \
  libsqlite3-dev libjpeg62-turbo-dev \
  googletest libgtest-dev \
  clang-14 libclang-rt-14-dev \
  fonts-liberation fonts-wqy-microhei poppler-utils \
  postgresql libpq-dev \
  ser2net \
  xvfb xauth \
  libreoffice-calc-nogui \
  dpkg-dev file lintian
