#!/usr/bin/env bash
# Installs what is missing, builds, writes the demo databases into demo/ and
# opens the tool on them: press "刷新", then "计算总帐".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
[ -f demo/kvsystem/kvsystem.mdb ] || build/tools/fatotal-demo --out demo
FATOTAL_SYSTEM_DIR="$PWD/demo" exec build/app/fatotal
