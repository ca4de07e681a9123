#!/usr/bin/env bash
# Prepares a fresh machine: the system packages the build needs, then .venv with slivr installed
# (and its test extra). Safe to run again: it only installs what is missing and rebuilds
# incrementally.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake ninja-build pkg-config libicu-dev nlohmann-json3-dev libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
  python3 -m venv .venv
fi
.venv/bin/python -m pip install -q --disable-pip-version-check --upgrade pip "scikit-build-core>=0.10"
extras="${SLIVR_EXTRAS:-test}"
.venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation ".[${extras}]"
