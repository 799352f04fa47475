#!/usr/bin/env bash
# What audio inputs cost a render (soundtrack_bench.sh times the muxing alone,
# on the demo): the spectrum ring at 640x480 without and with a soundtrack
# (muxing, plus decoding, the FFT and the texture uploads of its audio inputs
# at every render). The ring is timed with a silent soundtrack too: its frames
# then stay as simple to encode as without one, so the difference is what
# hearing costs; with the song the moving picture also costs the encoder
# more. Wall and CPU seconds, the median of RUNS runs each, and the extra
# wall and CPU time in per cent. An uncompressed codec (--codec AYUV) costs
# the same for any picture, which leaves the song's row with hearing alone.
#
#   bench/audio_inputs_bench.sh [--build DIR] [--frames N] [--size WxH] [--runs R] [--codec C]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
FRAMES=300
SIZE=640x480
RUNS=3
CODEC=avc1
while [ $# -gt 0 ]; do
    case "$1" in
        --build) BUILD=$2; shift ;;
        --frames) FRAMES=$2; shift ;;
        --size) SIZE=$2; shift ;;
        --runs) RUNS=$2; shift ;;
        --codec) CODEC=$2; shift ;;
        *) echo "usage: $0 [--build DIR] [--frames N] [--size WxH] [--runs R] [--codec C]" >&2; exit 2 ;;
    esac
    shift
done
CLI=$BUILD/bin/LumivaneCLI
COMPOSITIONS=$BUILD/share/lumivane/compositions
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
RATE=30
DURATION=$(awk -v f="$FRAMES" -v r="$RATE" 'BEGIN { printf "%.6f", f / r }')
RENDER=(-w "${SIZE%x*}" -h "${SIZE#*x}" -f "$RATE" -d "$DURATION" -c "$CODEC")

. "$ROOT/bench/measure.sh"

median() {
    local i
    for ((i = 0; i < RUNS; i++)); do (measure "$@"); done | sort -n | sed -n "$(((RUNS + 1) / 2))p"
}

# Soundtracks as long as the render, stereo 44.1 kHz: a song-like rising
# tone and beat, and silence.
python3 - "$TMP" "$DURATION" <<'PY'
import math, struct, sys, wave
rate, seconds = 44100, float(sys.argv[2])
song, silence = bytearray(), bytearray()
for i in range(int(rate * seconds)):
    t = i / rate
    tone = 0.4 * math.sin(2 * math.pi * (110 * t + 40 * t * t))
    beat = 0.4 * math.exp(-20 * (t % 0.5)) * math.sin(2 * math.pi * 60 * t)
    song += struct.pack("<hh", int(32767 * tone), int(32767 * (tone + beat) / 1.5))
    silence += bytes(4)
for name, frames in (("song", song), ("silence", silence)):
    with wave.open(f"{sys.argv[1]}/{name}.wav", "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(frames))
PY

# One composition without a soundtrack, then with each one named.
row() {
    local composition=$1 without with sound
    shift
    without=$(median "$CLI" "${RENDER[@]}" -o "$TMP/out.mov" "$COMPOSITIONS/$composition")
    for sound in "$@"; do
        with=$(median "$CLI" "${RENDER[@]}" --audio "$TMP/$sound.wav" -o "$TMP/out.mov" \
            "$COMPOSITIONS/$composition")
        awk -v n="$composition + $sound" -v a="$without" -v b="$with" 'BEGIN {
            split(a, x, " "); split(b, y, " ");
            printf "%-26s without %6.2f s wall %6.2f s CPU, with %6.2f s wall %6.2f s CPU: %+5.1f %% wall %+5.1f %% CPU\n",
                   n, x[1], x[2], y[1], y[2], 100 * (y[1] - x[1]) / x[1], 100 * (y[2] - x[2]) / x[2] }'
    done
}

echo "rendering $FRAMES frames at $SIZE, codec $CODEC, median of $RUNS" >&2
row spectrum-ring.qtz silence song
