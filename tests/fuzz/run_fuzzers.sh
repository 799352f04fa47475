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

targets=(RecordingLoaderFuzzer EventPropertyListFuzzer LinkFrameFuzzer CompositionHeaderFuzzer)
for target in "${targets[@]}"; do
    if [[ ! -x "$fuzzer_dir/$target" ]]; then
        echo "$target was not built (clang++ with libFuzzer missing at configure time): fuzzing skipped"
        exit $skip
    fi
done

# Lists nested around the readers' depth limit, made here
# rather than stored: XML arrays, and binary one-element arrays each holding
# the next (8-byte offsets, 4-byte references).
nesting_seeds() {
    local depth
    for depth in 512 513; do
        python3 - "$1" "$depth" <<'PY' || return 0
import struct, sys
folder, depth = sys.argv[1], int(sys.argv[2])
xml = '<plist>' + '<array>' * depth + '<true/>' + '</array>' * depth + '</plist>'
open(f'{folder}/nested-{depth}.xml', 'w').write(xml)
header = '/*{"LABELS": ' + '[' * depth + '1' + ']' * depth + '}*/\nvoid main() {}\n'
open(f'{folder}/nested-{depth}.qtz', 'w').write(header)
body, offsets = bytearray(b'bplist00'), []
for i in range(depth):
    offsets.append(len(body))
    body += bytes([0xA1]) + struct.pack('>I', i + 1) if i + 1 < depth else bytes([0xA0])
table = len(body)
for offset in offsets:
    body += struct.pack('>Q', offset)
body += bytes(6) + bytes([8, 4]) + struct.pack('>QQQ', depth, 0, table)
open(f'{folder}/nested-{depth}.bplist', 'wb').write(body)
PY
    done
}

status=0
for target in "${targets[@]}"; do
    # Inputs the run finds go to a scratch corpus, never into the sources.
    corpus="$work_dir/corpus-$target"
    artifacts="$work_dir/artifacts-$target"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$source_dir"/tests/fuzz/corpus/* "$corpus"/
    nesting_seeds "$corpus"
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
