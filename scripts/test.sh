#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
FATOTAL_CMAKE_ARGS="-DFATOTAL_WERROR=ON ${FATOTAL_CMAKE_ARGS:-}" scripts/build.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
