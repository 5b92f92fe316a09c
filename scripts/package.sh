#!/usr/bin/env bash
# Builds the Debian package build/quelvin_<version>_<arch>.deb with CPack.
# Its dependencies are the runtime libraries only, computed by
# dpkg-shlibdeps, plus those Coin opens by name at run time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$(nproc)" --target quelvin quelvin-thumbnailer quelvin-docs
cd build
cpack -G DEB
ls -1 "$PWD"/quelvin_*.deb
