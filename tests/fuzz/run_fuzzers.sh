#!/usr/bin/env bash
# Runs each fuzz target on the seed corpus for a few seconds. The build makes
# the targets; exit 77 (skipped) when it could not (no clang with libFuzzer).
# Usage: run_fuzzers.sh <source dir> <fuzzer dir> <work dir> [seconds per target]
set -u
source_dir=$1
fuzzer_dir=$2
work_dir=$3
seconds=${4:-5}
skip=77

targets=(RecordingLoaderFuzzer EventPropertyListFuzzer)
for target in "${targets[@]}"; do
    if [[ ! -x "$fuzzer_dir/$target" ]]; then
        echo "$target was not built (clang++ with libFuzzer missing at configure time): fuzzing skipped"
        exit $skip
    fi
done

status=0
for target in "${targets[@]}"; do
    # Inputs the run finds go to a scratch corpus, never into the sources.
    corpus="$work_dir/corpus-$target"
    artifacts="$work_dir/artifacts-$target"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$source_dir"/tests/fuzz/corpus/* "$corpus"/
    echo "== $target for ${seconds}s"
    if ! "$fuzzer_dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
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
