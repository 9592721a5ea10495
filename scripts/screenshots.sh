#!/usr/bin/env bash
# Retakes the README's pictures in docs/ from the real program on a virtual X
# server: the main window at start, after "刷新" on the demo data, the
# "整理完毕" box over it, the history that Ctrl+H opens, the window during a
# long run, and the question that Esc asks then. A small window manager gives the windows their frames
# and keeps a message box a window of its own. The X server, the window
# manager and the tools that click and take the pictures serve the pictures
# only; fatotal needs none of them.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."

shoot()
{
    # The window's controls in pixels from its top left corner (twips / 15).
    local refresh=(296 84) run=(296 20) quit=(296 52) yearList=(231 49) secondYear=(140 80)

    snap()
    {
        # The root is one colour: trimming it leaves the framed windows.
        sleep 1
        import -window root png:- | convert - -trim +repage -strip "$1"
    }
    click()
    {
        xdotool mousemove --window "$1" "$2" "$3" click 1
        # The pointer leaves, so no button is pictured lit up under it.
        xdotool mousemove 0 0
    }

    openbox > /dev/null 2>&1 &
    local wm=$!
    sleep 1
    xsetroot -solid '#4a6984'

    build/app/fatotal &
    local app=$!
    local main
    main=$(xdotool search --sync --name '^选择帐套及其年度$' | head -1)
    xdotool windowmove --sync "$main" 60 60
    snap docs/main-window.png

    click "$main" "${refresh[@]}"
    snap docs/after-refresh.png

    click "$main" "${run[@]}"
    local box
    box=$(xdotool search --sync --name '^固定资产总帐整理$' | head -1)
    snap docs/rebuilt.png

    xdotool windowactivate --sync "$box" key Return
    sleep 0.5

    # The history of that account-year, with the run just made.
    xdotool windowactivate --sync "$main" key ctrl+h
    box=$(xdotool search --sync --name '^整理记录' | head -1)
    snap docs/history.png
    xdotool windowactivate --sync "$box" key Escape
    sleep 0.5

    # The large ledger is the year 2026, the second in the list.
    click "$main" "${refresh[@]}"
    click "$main" "${yearList[@]}"
    sleep 0.5
    click "$main" "${secondYear[@]}"
    click "$main" "${run[@]}"
    sleep 2
    snap docs/running.png
    xdotool key Escape
    box=$(xdotool search --sync --name '^固定资产总帐整理$' | head -1)
    snap docs/stop-question.png
    xdotool windowactivate --sync "$box" key y
    sleep 1
    box=$(xdotool search --sync --name '^固定资产总帐整理$' | head -1)
    xdotool windowactivate --sync "$box" key Return
    sleep 0.5
    click "$main" "${quit[@]}"
    wait "$app"
    kill "$wm"
}

# The second call, inside the virtual X server.
if [ "${1:-}" = --on-display ]; then
    shoot
    exit 0
fi

# The X server, the window manager and the picture tools serve the pictures
# only; deps.sh installs them beside what the build needs.
scripts/deps.sh xvfb xauth openbox x11-xserver-utils xdotool imagemagick
scripts/build.sh

# A home of its own: the pictures show a neutral demo folder rather than one
# of this machine, the desktop's own settings stay out, and a copy of the
# tool already running here does not turn this one away.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/....../home/demo" TMPDIR="$scratch" XDG_RUNTIME_DIR="$scratch/run" LC_ALL=C.UTF-8
export FATOTAL_SYSTEM_DIR="$HOME/fatotal-demo" FATOTAL_STATE_DIR="$scratch/state"
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR
# Enough cards in 001/2026 for a run that lasts a while.
build/tools/fatotal-demo --out "$FATOTAL_SYSTEM_DIR" --cards 100000 > /dev/null

xvfb-run -a -s "-screen 0 640x400x24" "$self" --on-display
echo "Pictures written to docs/"
