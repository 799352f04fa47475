#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each on the seed corpus for a
# few seconds. Exit 77 (skipped) when clang with libFuzzer is not available.
# Usage: run_fuzzers.sh <source dir> <work dir> [seconds per target]
set -u
source_dir=$1
work_dir=$2
seconds=${3:-5}
skip=77

clangxx=$(command -v clang++ || true)
if [[ -z "$clangxx" ]]; then
    echo "clang++ not found: fuzzing skipped"
    exit $skip
fi
mkdir -p "$work_dir"
probe="$work_dir/probe.cpp"
printf '%s\n' '#include <cstdint>' '#include <cstddef>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$probe"
if ! "$clangxx" -fsanitize=fuzzer,address,undefined "$probe" -o "$work_dir/probe" 2>/dev/null; then
    echo "clang++ cannot build libFuzzer programs: fuzzing skipped"
    exit $skip
fi

build_dir="$work_dir/build"
cmake -S "$source_dir/tests/fuzz/project" -B "$build_dir" -G Ninja \
    -DCMAKE_CXX_COMPILER="$clangxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work_dir/configure.log" 2>&1 \
    || { cat "$work_dir/configure.log"; exit 1; }
cmake --build "$build_dir" -j2 >"$work_dir/build.log" 2>&1 || { cat "$work_dir/build.log"; exit 1; }

status=0
for target in RecordingLoaderFuzzer EventPropertyListFuzzer; do
    # Inputs the run finds go to a scratch corpus, never into the sources.
    corpus="$work_dir/corpus-$target"
    artifacts="$work_dir/artifacts-$target"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$source_dir"/tests/fuzz/corpus/* "$corpus"/
    echo "== $target for ${seconds}s"
    if ! "$build_dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -close_fd_mask=2 -artifact_prefix="$artifacts/" "$corpus" \
        >"$work_dir/$target.log" 2>&1; then
        tail -n 60 "$work_dir/$target.log"
        echo "$target failed; inputs kept in $artifacts"
        status=1
    else
        grep -E '^Done [0-9]+ runs' "$work_dir/$target.log" | tail -n 1
    fi
done
exit $status
