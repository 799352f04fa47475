#!/usr/bin/env bash
# What splitting a render into chunks costs: one render of FRAMES frames split
# into 1, 2 and 4 chunks, run side by side on this machine through
# lumivane-submit --local (chunks, then the join), for a composition that keeps
# state (every chunk pre-rolls from the start) and one that keeps none.
#
#   bench/chunk_bench.sh [--build DIR] [--frames N] [--size WxH] [--blur M] [--chunks 1,2,4]
#
# Wall time and CPU time (user + system of every process) per split; the
# pre-roll share is the CPU a split spends beyond the single render and the
# start-up of its extra processes, over its own CPU: the work done only to
# bring later chunks to the state of their first frame.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
FRAMES=240
SIZE=640x360
SPLITS=1,2,4
BLUR=4
while [ $# -gt 0 ]; do
    case "$1" in
        --build) BUILD=$2; shift ;;
        --frames) FRAMES=$2; shift ;;
        --size) SIZE=$2; shift ;;
        --blur) BLUR=$2; shift ;;
        --chunks) SPLITS=$2; shift ;;
        *) echo "usage: $0 [--build DIR] [--frames N] [--size WxH] [--blur M] [--chunks 1,2,4]" >&2; exit 2 ;;
    esac
    shift
done

export LUMIVANE_CLI=${LUMIVANE_CLI:-$BUILD/bin/LumivaneCLI} LUMIVANE_JOIN=${LUMIVANE_JOIN:-$BUILD/bin/LumivaneJoin}
for program in "$LUMIVANE_CLI" "$LUMIVANE_JOIN"; do
    [ -x "$program" ] || { echo "\"$program\": not built (cmake --build $BUILD)" >&2; exit 1; }
done
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
RATE=24
DURATION=$(awk -v f="$FRAMES" -v r="$RATE" 'BEGIN { printf "%.6f", f / r }')

. "$ROOT/bench/measure.sh"

RENDER=(-w "${SIZE%x*}" -h "${SIZE#*x}" -f "$RATE" -d "$DURATION" -m "$BLUR" -c avc1)
split_render() {
    local out=$TMP/out.mov
    "$ROOT/tools/farm/lumivane-submit" --local --chunks "$1" "${RENDER[@]}" -o "$out" "$2"
    rm -rf "$out" "$out.job"
}

# What every extra process costs whatever it renders: start-up, loading, the
# shader build; one frame of the stateless composition.
read -r _ START < <(measure "$LUMIVANE_CLI" --frames 1-1 "${RENDER[@]}" -o "$TMP/one.mov" \
    "$ROOT/resources/compositions/demo.qtz")

printf '%s frames at %s, %s fps, %s samples per frame, avc1, %s cores; %.2f CPU s per process start\n\n' \
    "$FRAMES" "$SIZE" "$RATE" "$BLUR" "$(nproc)" "$START"
printf '%-12s %7s %9s %9s %10s %14s\n' composition chunks "wall s" "CPU s" "CPU x 1" "pre-roll share"
for composition in trails demo; do
    single_cpu=
    IFS=, read -ra splits <<<"$SPLITS"
    for chunks in "${splits[@]}"; do
        read -r wall cpu < <(measure split_render "$chunks" "$ROOT/resources/compositions/$composition.qtz")
        [ -n "$single_cpu" ] || single_cpu=$cpu
        # Beyond the single render and the extra processes' start-up: the pre-roll.
        awk -v n="$composition" -v k="$chunks" -v w="$wall" -v c="$cpu" -v one="$single_cpu" -v st="$START" \
            'BEGIN { extra = c - one - (k - 1) * st; share = extra > 0 ? extra / c : 0;
                     printf "%-12s %7d %9.2f %9.2f %10.2f %13.0f%%\n", n, k, w, c, c / one, 100 * share }'
    done
done
