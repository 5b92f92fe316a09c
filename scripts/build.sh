#!/usr/bin/env bash
# Installs what is missing and builds Quelvin into build/ (or build-asan/
# with --sanitize: address and undefined-behaviour sanitizers, leak checks on).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELVIN_SANITIZE=ON)
fi
# CI sets QUELVIN_WERROR=ON: a warning fails its build, not a user's.
flags+=(-DQUELVIN_WERROR="${QUELVIN_WERROR:-OFF}")
cmake -S . -B "$dir" "${flags[@]}" > /dev/null
cmake --build "$dir" -j "$(nproc)"
