#!/usr/bin/env bash
# CI: builds the Debian packages, holds them to lintian (errors fail), runs
# the packaging test's checks on them (unpacked into a scratch root, the
# renderer renders the demo, the application shows its versioned window),
# then the farm scaling test once with the unpacked renderer, joiner and
# farm script: on Slurm where a cluster answers, else as local processes.
#
#   tools/package_check.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD_DIR=${LUMIVANE_BUILD_DIR:-build}
PACKAGES=$BUILD_DIR/packages

rm -f "$PACKAGES"/*.deb
tools/setup.sh --package

echo "== lintian"
lintian --fail-on error --display-info "$PACKAGES"/*.deb

echo "== the packages unpacked"
bash tests/packaging/check_package.sh "$BUILD_DIR" "$PACKAGES"

echo "== farm scaling with the unpacked programs"
ROOT=$(mktemp -d)
trap 'rm -rf "$ROOT"' EXIT
for deb in "$PACKAGES"/lumivane-cli_*.deb; do dpkg-deb -x "$deb" "$ROOT"; done
mode=local
if command -v sinfo >/dev/null && sinfo -h -o %T 2>/dev/null | grep -qE 'idle|mixed|alloc'; then mode=slurm; fi
bash tests/scaling/check_scaling.sh $mode "$ROOT/usr/bin/LumivaneCLI" "$ROOT/usr/bin/LumivaneJoin" \
    "$ROOT/usr/bin/lumivane-submit" tests/scaling/data/feedback.qtz
