#!/bin/sh
# A headless race of 40 riders (the local player and 39 computer riders) on
# the motocross starter track: prints the real-time factor (game seconds per
# wall second of the frame loop) and the peak memory of the process.
#
#   tools/bench-race.sh [BUILD_DIR] [GAME_SECONDS] [TRACK]
#
# BUILD_DIR holds the built kessrun and its generated game data (default
# build; use a Release build for numbers); GAME_SECONDS is the race length
# run (default 60); TRACK another starter track (default motocross).
set -eu
build=${1:-build}
seconds=${2:-60}
track=${3:-motocross}
exe="$build/kessrun"
[ -x "$exe" ] || { echo "no kessrun in $build" >&2; exit 1; }
[ -d "$build/tracks/$track" ] || { echo "no generated $track track in $build" >&2; exit 1; }

lineup=1
i=1
while [ $i -lt 40 ]; do lineup="$lineup,2"; i=$((i + 1)); done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/xdg"

env -u DISPLAY -u WAYLAND_DISPLAY -u VELK_LOGFILE -u VELK_LOGFILE_FLAGS SDL_VIDEODRIVER=dummy \
    KR_HOME="$(cd "$build" && pwd)" XDG_DATA_HOME="$scratch/xdg" \
    /usr/bin/time -v -o "$scratch/time.txt" \
    "$exe" --headless --track "$track" --lineup "$lineup" --quit-after "$seconds" >/dev/null 2>"$scratch/stderr.txt" || {
    echo "kessrun failed:" >&2
    cat "$scratch/stderr.txt" >&2
    exit 1
}

log="$scratch/xdg/Kessrun/lastlog.txt"
bikes=$(grep -c "Loading bikes...done" "$log" || true)
ran=$(grep "game seconds in" "$log" | tail -n 1 | sed 's/^\[[^]]*\] //')
peak_kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$scratch/time.txt")
echo "riders: 40  track: $track  game seconds: $seconds"
echo "$ran"
echo "real-time factor: $(echo "$ran" | sed -n 's/.*(\(.*\) x real time).*/\1/p')"
echo "peak memory: $((peak_kb / 1024)) MiB ($peak_kb kB maximum resident set)"
[ "$bikes" -ge 1 ] || echo "warning: the load did not finish" >&2
