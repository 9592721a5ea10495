#!/usr/bin/env bash
# Configures and builds into build/ (two jobs: the machines here have two cores).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${FATOTAL_CMAKE_ARGS:-} > /dev/null
cmake --build build -j2
