#!/usr/bin/env bash
# Configures and builds into build/ (two jobs: the machines here have two cores);
# arguments go to the build step, e.g. --target fatotal.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${FATOTAL_CMAKE_ARGS:-} > /dev/null
cmake --build build -j2 "$@"
