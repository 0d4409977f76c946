#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quick when all are present:
# the package lists are only refreshed when something must be installed.
set -euo pipefail
PKGS=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev llvm-14
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcurl4-openssl-dev libssl-dev libbz2-dev libzip-dev libjpeg62-turbo-dev
  libpugixml-dev libicu-dev libgpgme-dev libgsf-1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick fonts-dejavu-core
  python3 openssl bzip2
)
# Each part of the program that needs more packages (test servers, viewers) lists them in its own
# scripts/deps/<part>.list: words are package names, "#" starts a comment.
for list in "$(dirname "$0")"/deps/*.list; do
  [ -e "$list" ] || continue
  PKGS+=( $(sed 's/#.*//' "$list") )
done
missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  # Servers installed for the tests (Dovecot) must not start as system services: the tests start
  # their own on a free loopback port. A policy-rc.d refuses every service start during the install.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=1
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}" || status=$?
  if [ "$own_policy" = 1 ]; then $SUDO rm -f "$policy"; fi
  [ "$status" = 0 ] || exit "$status"
  # Keep the system's Dovecot off for good where systemd runs.
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now dovecot.service dovecot.socket >/dev/null 2>&1 || true
  fi
fi
