#!/usr/bin/env bash
# Installs the Debian packages Aquilevel needs, when any is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools
  qt6-l10n-tools qt6-translations-l10n  # lrelease/lupdate; Qt's own German texts (Yes, No, ...)
  libsqlcipher-dev sqlcipher
  libpq-dev postgresql-15
  libcrypt-dev  # bcrypt (libxcrypt) for the experimenters' passwords
  fonts-dejavu-core
  xvfb xauth xdotool
  dpkg-dev file  # for the Debian package: dpkg-shlibdeps, and file, which cpack needs
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
