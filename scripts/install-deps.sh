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
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
