#!/usr/bin/env bash
# Installs what is missing, builds, writes the demo databases into demo/ and
# opens the tool on them: press "刷新", then "计算总帐".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only the window and the demo writer: the tests can wait for scripts/test.sh.
scripts/build.sh --target fatotal fatotal-demo
[ -f demo/kvsystem/kvsystem.mdb ] || build/tools/fatotal-demo --out demo
FATOTAL_SYSTEM_DIR="$PWD/demo" exec build/app/fatotal
