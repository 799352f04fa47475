#!/usr/bin/env bash
# What a soundtrack costs a render: the demo at 640x480 as H.264, without a
# soundtrack, with a WAV one (AAC in the movie) and with an MP3 one (decoded,
# then AAC), median wall and CPU time of ROUNDS runs each, and the extra over
# the silent render.
#
#   bench/soundtrack_bench.sh [--build DIR] [--seconds S] [--rounds R]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
SECONDS_LONG=10
ROUNDS=3
while [ $# -gt 0 ]; do
    case "$1" in
        --build) BUILD=$2; shift ;;
        --seconds) SECONDS_LONG=$2; shift ;;
        --rounds) ROUNDS=$2; shift ;;
        *) echo "usage: $0 [--build DIR] [--seconds S] [--rounds R]" >&2; exit 2 ;;
    esac
    shift
done
CLI=${LUMIVANE_CLI:-$BUILD/bin/LumivaneCLI}
[ -x "$CLI" ] || { echo "\"$CLI\": not built (cmake --build $BUILD)" >&2; exit 1; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
. "$ROOT/bench/measure.sh"

SONG="aevalsrc=exprs='0.3*sin(2*PI*(200+300*t)*t)|0.3*sin(2*PI*330*t)':s=48000:d=$((SECONDS_LONG + 5))"
ffmpeg -v error -f lavfi -i "$SONG" -c:a pcm_s16le "$TMP/song.wav"
ffmpeg -v error -i "$TMP/song.wav" -c:a libmp3lame -b:a 192k "$TMP/song.mp3"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
run() {
    local walls=() cpus=() wall cpu
    for _ in $(seq "$ROUNDS"); do
        read -r wall cpu < <(measure "$CLI" -w 640 -h 480 -d "$SECONDS_LONG" -c avc1 \
            -o "$TMP/out.mov" "$@" "$ROOT/resources/compositions/demo.qtz")
        walls+=("$wall") cpus+=("$cpu")
    done
    printf '%s %s\n' "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${cpus[@]}" | median)"
}

printf 'demo.qtz, 640x480, %s s at 30 fps, avc1, median of %s; %s cores\n\n' \
    "$SECONDS_LONG" "$ROUNDS" "$(nproc)"
printf '%-22s %8s %8s %8s %8s\n' soundtrack "wall s" "CPU s" "+wall" "+CPU"
read -r base_wall base_cpu < <(run)
printf '%-22s %8.2f %8.2f\n' none "$base_wall" "$base_cpu"
for song in song.wav song.mp3; do
    read -r wall cpu < <(run --audio "$TMP/$song")
    awk -v n="$song" -v w="$wall" -v c="$cpu" -v bw="$base_wall" -v bc="$base_cpu" \
        'BEGIN { printf "%-22s %8.2f %8.2f %7.1f%% %7.1f%%\n", n " (AAC)", w, c, 100 * (w / bw - 1), 100 * (c / bc - 1) }'
done
