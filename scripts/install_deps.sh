#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine, if it is missing; with
# package names as arguments, those instead (scripts/ci_fuzz.sh asks for its compiler so).
set -euo pipefail
packages=(cmake g++ make libgtest-dev libbenchmark-dev libmpfr-dev
          python3 python3-numpy python3-matplotlib python3-pytest python3-vtk9 python3-mpmath
          python3-distributed man-db)
(($#)) && packages=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=; [[ $(id -u) == 0 ]] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
