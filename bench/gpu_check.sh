#!/usr/bin/env bash
# The pipeline's figures on a machine with a GPU that has none of our build
# dependencies: `pack` gathers the benchmarks, the renderer and the shared
# libraries they need (all but the C runtime and the GL dispatch libraries,
# which the GPU machine's driver provides) into .gl/ of the checkout (ignored
# by git); `run`, on the GPU machine from the checkout's root, unpacks them and
# prints engine_bench's readback, conversion and blur lines, end_to_end_bench
# at 640x480 and 1080p (all cores, then pinned; each with the CPU's and the
# GPU's conversion to YUV) and a 1080p render of the demo with either.
#
#   bench/gpu_check.sh pack [BUILD_DIR]     here (default build dir: build)
#   bench/gpu_check.sh run                  there, as root
#
# OpenImageIO is not carried (it is loaded only for image files), which keeps
# the bundle near 50 MiB.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUNDLE=$ROOT/.gl
PROGRAMS=(engine_bench end_to_end_bench LumivaneCLI)
# Provided on the GPU machine: the C runtime, and GL through its driver.
SYSTEM_LIBRARIES='/libc\.so|/libm\.so|libstdc\+\+|libgcc_s|ld-linux|/libpthread|/libdl\.so|/librt\.so|libEGL\.so|libGL\.so|libGLX|libGLdispatch|libOpenGL|libGLES'

pack() {
    local build=${1:-$ROOT/build} program
    mkdir -p "$BUNDLE/bin"
    for program in "${PROGRAMS[@]}"; do
        install -m 755 "$build/bin/$program" "$BUNDLE/bin/$program"
        strip "$BUNDLE/bin/$program"
    done
    (cd "$build/bin" && ldd "${PROGRAMS[@]}") | awk '$3 ~ /^\// {print $3}' | sort -u |
        grep -Ev "$SYSTEM_LIBRARIES" >"$BUNDLE/libraries.txt"
    tar -chf - -T "$BUNDLE/libraries.txt" 2>/dev/null | xz -6 -T0 >"$BUNDLE/libs.tar.xz"
    # The GL dispatch libraries the driver plugs into, from this distribution.
    local apt=(-oAPT::Architecture=amd64 -oAPT::Architectures=amd64 -oDir::State::Lists=/tmp/amd64)
    mkdir -p /tmp/amd64/partial
    apt-get "${apt[@]}" update -qq
    (cd "$BUNDLE" && apt-get "${apt[@]}" download libegl1 libglvnd0 libopengl0 libgl1 libglx0 libgles2)
    du -sh "$BUNDLE"
}

run() {
    local deb bin=$BUNDLE/bin demo=$ROOT/resources/compositions/demo.qtz
    for deb in "$BUNDLE"/*.deb; do dpkg -x "$deb" /; done
    ldconfig
    export __EGL_VENDOR_LIBRARY_FILENAMES=${__EGL_VENDOR_LIBRARY_FILENAMES:-/usr/local/nvidia/share/glvnd/egl_vendor.d/10_nvidia.json}
    mkdir -p /tmp/lumivane-libs
    tar -xJf "$BUNDLE/libs.tar.xz" -C /tmp/lumivane-libs
    export LD_LIBRARY_PATH=/tmp/lumivane-libs/usr/lib/x86_64-linux-gnu:/tmp/lumivane-libs/lib/x86_64-linux-gnu
    nvidia-smi -L || true
    echo "== engine_bench: readback at 1080p"
    timeout 120 "$bin/engine_bench" --composition "$demo" --readback only
    echo "== engine_bench: frames for a yuv420p encoder, converted on the GPU and by swscale"
    timeout 120 "$bin/engine_bench" --composition "$demo" --convert only
    echo "== engine_bench: pipeline and blur against the bare draws"
    timeout 180 "$bin/engine_bench" --composition "$demo" --readback 0 --convert 0
    echo "== end_to_end_bench 640x480 avc1, all cores"
    timeout 120 "$bin/end_to_end_bench" --composition "$demo" --frames 480 --size 640x480 \
        --png-frames 0
    echo "== end_to_end_bench 1080p avc1, all cores"
    timeout 150 "$bin/end_to_end_bench" --composition "$demo" --frames 240 --size 1920x1080 \
        --png-frames 0
    echo "== end_to_end_bench 1080p avc1, encoder on one thread"
    timeout 150 "$bin/end_to_end_bench" --composition "$demo" --frames 120 --size 1920x1080 \
        --pinned 1 --png-frames 0
    echo "== LumivaneCLI: 10 s of the demo at 1080p, converted on the GPU"
    time timeout 120 "$bin/LumivaneCLI" -v -w 1920 -h 1080 -d 10 -o /tmp/demo.mov "$demo"
    echo "== LumivaneCLI: the same, converted by swscale (LUMIVANE_GPU_CONVERT=0)"
    time LUMIVANE_GPU_CONVERT=0 timeout 120 "$bin/LumivaneCLI" -v -w 1920 -h 1080 -d 10 \
        -o /tmp/demo.mov "$demo"
}

case "${1:-}" in
    pack) pack "${2:-}" ;;
    run) run ;;
    *) echo "usage: $0 pack [BUILD_DIR] | run" >&2; exit 2 ;;
esac
