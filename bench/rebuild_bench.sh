#!/usr/bin/env bash
# Rebuild benchmark: fatotal-rebuild against the sqlite3 shell replaying the
# very same statements in one transaction, on generated ledgers.
#
#   bench/rebuild_bench.sh [cards ...]      (default: 100000 1000000)
#   ROUNDS=3 bench/rebuild_bench.sh 100000
#
# For each size the statements are first logged in one traced run; then the
# tool and the shell run ROUNDS times each (default 2), alternately, each on a
# fresh copy of the ledger after a sync, and the best wall time of each is
# printed with the tool's peak memory, the CPU seconds of both and the ratio
# of the wall times (target: at most 1.05; peak memory under 100 MB). The
# tool's time includes keeping the old fa_Total in the run history; the last
# columns show that part alone: the fastest of five records of the table as
# fatotal-history-probe writes them, and its share of the tool's time
# (target: at most 1%).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
rounds=${ROUNDS:-2}

scripts/deps.sh
command -v /usr/bin/time > /dev/null || { echo "needs /usr/bin/time (apt-get install time)"; exit 1; }
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build build-release -j2 --target fatotal-demo fatotal-rebuild fatotal_sqlite_ext \
    fatotal-history-probe > /dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=build-release/tools
# The runs' history goes with the work files, not into the user's.
export FATOTAL_STATE_DIR="$work/state"

# Runs a command and prints "<wall s> <cpu s> <peak MB>"; its output is dropped.
measure() {
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>> "$work/stderr"
    awk '{ printf "%s %.2f %.1f\n", $1, $2 + $3, $4 / 1024 }' "$work/time"
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }

printf '%9s %9s %9s %9s %11s %11s %7s %11s %9s\n' cards tool_s tool_MB shell_s tool_cpu_s \
    shell_cpu_s ratio history_ms history_%
for cards in "${sizes[@]}"; do
    rm -rf "$work/demo" "$work/trace"
    mkdir -p "$work/trace"
    "$bin/fatotal-demo" --out "$work/demo" --cards "$cards" > /dev/null
    system="$work/demo/kvsystem/kvsystem.mdb"
    ledger="$work/demo/ZT001/2026/kvdata.mdb"
    cp "$ledger" "$work/original.mdb"

    # One traced run logs the statements as SQLite runs them.
    measure env FATOTAL_SQL_TRACE="$work/trace" "$bin/fatotal-rebuild" --system "$system" \
        --account 001 --year 2026 > /dev/null
    {
        echo ".load $bin/fatotal_sqlite_ext"
        echo "BEGIN;"
        grep -v -x -E 'BEGIN( IMMEDIATE)?;|COMMIT;' "$work/trace/kvdata.mdb.sql"
        echo "COMMIT;"
    } > "$work/replay.sql"
    digest='SELECT group_concat(r, char(10)) FROM (SELECT quote(sDeptNum)||sTypeNum||iPeriod||lCount||dblValue||dblDeprTotal||dblAddValue||dblDecValue||dblYearValue AS r FROM fa_Total ORDER BY 1)'
    expected=$(sqlite3 "$ledger" "$digest")

    tool_s="" shell_s="" tool_mb="" tool_cpu="" shell_cpu=""
    for ((round = 1; round <= rounds; round++)); do
        cp "$work/original.mdb" "$work/replay.mdb"
        read -r s c _ < <(measure sh -c "sqlite3 -bail '$work/replay.mdb' < '$work/replay.sql'")
        shell_s=$(smaller "$s" "$shell_s"); shell_cpu=$(smaller "$c" "$shell_cpu")
        [ "$(sqlite3 "$work/replay.mdb" "$digest")" = "$expected" ] ||
            { echo "the replay ended with another fa_Total" >&2; exit 1; }

        cp "$work/original.mdb" "$ledger"
        read -r s c m < <(measure "$bin/fatotal-rebuild" --system "$system" --account 001 --year 2026)
        tool_s=$(smaller "$s" "$tool_s"); tool_cpu=$(smaller "$c" "$tool_cpu")
        tool_mb=$(awk -v a="$m" -v b="$tool_mb" 'BEGIN { print (a + 0 > b + 0) ? a : b }')
    done
    ratio=$(awk -v a="$tool_s" -v b="$shell_s" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    cp "$work/original.mdb" "$work/probe.mdb"
    read -r history_ms _ < <(FATOTAL_STATE_DIR="$work/probe-state" \
        build-release/bench/fatotal-history-probe "$work/probe.mdb")
    share=$(awk -v h="$history_ms" -v t="$tool_s" 'BEGIN { printf "%.2f", h / 10 / t }')
    printf '%9s %9s %9s %9s %11s %11s %7s %11s %9s\n' "$cards" "$tool_s" "$tool_mb" "$shell_s" \
        "$tool_cpu" "$shell_cpu" "$ratio" "$history_ms" "$share"
done
