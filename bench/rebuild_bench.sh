#!/usr/bin/env bash
# Rebuild benchmark: fatotal-rebuild against the sqlite3 shell replaying the
# very same statements in one transaction, on generated ledgers.
#
#   bench/rebuild_bench.sh [cards ...]      (default: 100000 1000000)
#
# For each size it prints the tool's wall time and peak memory, the shell's
# wall time, and their ratio (target: at most 1.05, peak memory under 100 MB).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)

scripts/deps.sh
command -v /usr/bin/time > /dev/null || { echo "needs /usr/bin/time (apt-get install time)"; exit 1; }
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build build-release -j2 --target fatotal-demo fatotal-rebuild fatotal_sqlite_ext > /dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=build-release/tools

# Prints "<seconds> <peak MB>" for a command; its output goes to /dev/null.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2>> "$work/stderr"
    awk '{ printf "%s %.1f\n", $1, $2 / 1024 }' "$work/time"
}

printf '%10s %10s %10s %10s %8s\n' cards tool_s tool_MB sqlite3_s ratio
for cards in "${sizes[@]}"; do
    rm -rf "$work/demo" "$work/trace"
    mkdir -p "$work/trace"
    "$bin/fatotal-demo" --out "$work/demo" --cards "$cards" > /dev/null
    ledger="$work/demo/ZT001/2026/kvdata.mdb"
    cp "$ledger" "$work/original.mdb"

    read -r tool_s tool_mb < <(measure env FATOTAL_SQL_TRACE="$work/trace" \
        "$bin/fatotal-rebuild" --system "$work/demo/kvsystem/kvsystem.mdb" --account 001 --year 2026)

    # The same statements, in one transaction, on an untouched copy.
    {
        echo ".load $bin/fatotal_sqlite_ext"
        echo "BEGIN;"
        grep -v -x -E 'BEGIN;|COMMIT;' "$work/trace/kvdata.mdb.sql"
        echo "COMMIT;"
    } > "$work/replay.sql"
    cp "$work/original.mdb" "$work/replay.mdb"
    read -r shell_s _ < <(measure sh -c "sqlite3 -bail '$work/replay.mdb' < '$work/replay.sql'")

    # Both must end with the same summary.
    digest='SELECT group_concat(r, char(10)) FROM (SELECT quote(sDeptNum)||sTypeNum||iPeriod||lCount||dblValue||dblDeprTotal||dblAddValue||dblDecValue||dblYearValue AS r FROM fa_Total ORDER BY 1)'
    if [ "$(sqlite3 "$ledger" "$digest")" != "$(sqlite3 "$work/replay.mdb" "$digest")" ]; then
        echo "the replay ended with another fa_Total" >&2
        exit 1
    fi
    ratio=$(awk -v a="$tool_s" -v b="$shell_s" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    printf '%10s %10s %10s %10s %8s\n' "$cards" "$tool_s" "$tool_mb" "$shell_s" "$ratio"
done
