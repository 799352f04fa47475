#!/usr/bin/env bash
# Builds the tree with AddressSanitizer and UndefinedBehaviorSanitizer in its
# own folder and runs the suite there. Benchmarks are left out of that build,
# and the fuzz test too: its fuzzers are built with both sanitizers always.
# Warnings are errors in the plain build; here GCC's analysis of the
# instrumented code warns falsely, so they are only shown.
#
#   tools/sanitizer_run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-asan}

LUMIVANE_BUILD_DIR=$build \
LUMIVANE_CMAKE_ARGS="-DLUMIVANE_SANITIZE=ON -DLUMIVANE_BUILD_BENCH=OFF ${LUMIVANE_CMAKE_ARGS:-}" \
    tools/setup.sh

# Leaks are not checked: Mesa, fontconfig and Qt keep allocations to the
# process's end by design, and their reports would bury ours.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE '^fuzz$'
