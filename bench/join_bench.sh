#!/usr/bin/env bash
# What the join's checks cost: a ProRes movie rendered in chunks is joined, and
# a PNG sequence checked, by each LumivaneJoin given (say an older build's
# beside this one's), RUNS times each; prints wall and CPU seconds (median)
# and what reading the files once costs (cat to /dev/null, page cache warm).
#
#   bench/join_bench.sh [--build DIR] [--frames N] [--size WxH] [--chunks K] [--runs R] [JOIN...]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
FRAMES=300
SIZE=640x480
CHUNKS=4
RUNS=3
JOINS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build) BUILD=$2; shift ;;
        --frames) FRAMES=$2; shift ;;
        --size) SIZE=$2; shift ;;
        --chunks) CHUNKS=$2; shift ;;
        --runs) RUNS=$2; shift ;;
        -*) echo "usage: $0 [--build DIR] [--frames N] [--size WxH] [--chunks K] [--runs R] [JOIN...]" >&2; exit 2 ;;
        *) JOINS+=("$1") ;;
    esac
    shift
done
CLI=$BUILD/bin/LumivaneCLI
[ ${#JOINS[@]} -gt 0 ] || JOINS=("$BUILD/bin/LumivaneJoin")
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
RATE=30
DURATION=$(awk -v f="$FRAMES" -v r="$RATE" 'BEGIN { printf "%.6f", f / r }')
RENDER=(-w "${SIZE%x*}" -h "${SIZE#*x}" -f "$RATE" -d "$DURATION")
COMPOSITION=$ROOT/resources/compositions/demo.qtz

. "$ROOT/bench/measure.sh"

# The median run of RUNS.
median() {
    local i
    for ((i = 0; i < RUNS; i++)); do (measure "$@"); done | sort -n | sed -n "$(((RUNS + 1) / 2))p"
}

echo "rendering $FRAMES frames at $SIZE: ProRes 422 in $CHUNKS chunks, and PNG" >&2
PIECES=()
for ((k = 1; k <= CHUNKS; k++)); do
    first=$(((k - 1) * FRAMES / CHUNKS + 1)) last=$((k * FRAMES / CHUNKS))
    "$CLI" "${RENDER[@]}" -c apcn --frames "$first-$last" -o "$TMP/piece-$k.mov" "$COMPOSITION"
    PIECES+=("$TMP/piece-$k.mov")
done
"$CLI" "${RENDER[@]}" -c public.png -o "$TMP/frames" "$COMPOSITION"
echo "movie: $(du -cb "$TMP"/piece-*.mov | tail -n 1 | cut -f1) bytes in pieces;" \
    "sequence: $(du -cb "$TMP"/frames/* | tail -n 1 | cut -f1) bytes" >&2

printf '%-44s %8s %8s\n' "step" "wall s" "CPU s"
printf '%-44s %8s %8s\n' "read the pieces once (cat)" $(median cat "${PIECES[@]}")
printf '%-44s %8s %8s\n' "read the frames once (cat)" $(median sh -c "cat '$TMP'/frames/*")
for join in "${JOINS[@]}"; do
    name=$(realpath --relative-to="$ROOT/.." "$join" 2>/dev/null || echo "$join")
    printf '%-44s %8s %8s\n' "$name -o" $(median "$join" -o "$TMP/out.mov" "${PIECES[@]}")
    if "$join" --help | grep -q -- --verify; then
        printf '%-44s %8s %8s\n' "$name --verify -o" \
            $(median "$join" --verify -o "$TMP/out.mov" "${PIECES[@]}")
    fi
    printf '%-44s %8s %8s\n' "$name --sequence" $(median "$join" --sequence "$TMP/frames" "$FRAMES")
done
