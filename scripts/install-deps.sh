#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with. Idempotent:
# quiet when everything is already there. Run as root (or with sudo available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libbenchmark-dev
  qt6-base-dev libgeographiclib-dev libxlsxwriter-dev libfreexl-dev libzip-dev libexpat1-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core locales proj-bin hyperfine python3
  openbox xdotool python3-xlwt python3-openpyxl qt6-translations-l10n zlib1g-dev
  libgdal-dev gdal-bin libproj-dev
  python3-qgis qgis-providers
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# An Italian locale, so the tests also run with "," as the decimal separator.
if ! locale -a 2>/dev/null | grep -qi '^it_IT\.utf-\?8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *\(it_IT.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^it_IT.UTF-8 UTF-8' /etc/locale.gen || echo 'it_IT.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
