#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build and tests need, when missing (needs root or sudo).
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail

# chromium and chromium-driver: the browser test of the demo's pages (tests/browser).
# libnats-dev and nats-server: owgateway's JetStream publisher, its example consumer and
# their tests, which start their own nats-server.
# clang-tidy: scripts/check_naming.sh, the one naming style (a test labelled lint).
# systemd: systemd-analyze and systemd-sysusers check owgateway@.service, and its
# systemd.pc says where a system-wide install puts the unit.
packages=(cmake make g++ pkg-config libexpat1-dev libgtest-dev libgmock-dev mandoc
  chromium chromium-driver libnats-dev nats-server systemd clang-tidy "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
