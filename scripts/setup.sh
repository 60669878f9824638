#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs every Debian package Lirevo needs to build, run and test. Safe to run
# again: apt-get only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libpcre2-dev libgtest-dev libgmock-dev
  libcpp-httplib-dev libssl-dev openssl
  ffmpeg xvfb xauth x11-utils fonts-wqy-microhei imagemagick
  clang libclang-rt-14-dev
  curl aria2 nginx-light python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine may never have fetched the package lists.
  $sudo apt-get update -qq || true
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
