#!/usr/bin/env bash
# The software centre's metadata passes appstreamcli's validation, and the
# screenshot it names is the one kept in the repository.
#
#   check_metainfo.sh METAINFO SCREENSHOT_DIR
# Exits 77 (skipped) where appstreamcli is missing.
set -euo pipefail
METAINFO=$1
SCREENSHOTS=$2

if ! command -v appstreamcli >/dev/null; then
    echo "appstreamcli is missing (package appstream; tools/setup.sh installs it); skipped"
    exit 77
fi
appstreamcli validate --no-net --explain "$METAINFO"
for image in $(sed -n 's|.*<image[^>]*>[^<]*/\([^/<]*\)</image>.*|\1|p' "$METAINFO"); do
    [ -s "$SCREENSHOTS/$image" ] || { echo "FAIL: $image is not in $SCREENSHOTS" >&2; exit 1; }
done
