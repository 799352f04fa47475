#!/usr/bin/env bash
# Fails when a test in the build carries neither "quick" nor "slow", so
# `ctest -L quick` never leaves a test out without anyone choosing it.
#
#   tools/check_test_labels.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR}
unlabelled=$(ctest --test-dir "$build" -N -LE '^(quick|slow)$' | grep -E '^ *Test +#' || true)
if [ -n "$unlabelled" ]; then
    echo "Tests without a quick or slow label:" >&2
    echo "$unlabelled" >&2
    exit 1
fi
quick=$(ctest --test-dir "$build" -N -L '^quick$' | sed -n 's/^Total Tests: //p')
slow=$(ctest --test-dir "$build" -N -L '^slow$' | sed -n 's/^Total Tests: //p')
echo "Every test is labelled: $quick quick, $slow slow"
