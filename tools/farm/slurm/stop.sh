#!/usr/bin/env bash
# Stops the daemons tools/farm/slurm/start.sh started (slurmd, slurmctld, munged),
# and only those; with nothing started it does nothing.
set -euo pipefail

[ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "$@"

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tools/farm/slurm/common.sh
. "$HERE/common.sh"

[ -r "$STARTED_FILE" ] || exit 0
# Jobs first, so none is left half-run for the next start to recover.
if grep -qxF slurmctld "$STARTED_FILE" && daemon_running slurmctld; then
    scancel --full --quiet --state=PENDING 2>/dev/null || true
    scancel --full --quiet 2>/dev/null || true
fi
for daemon in slurmd slurmctld munged; do
    if grep -qxF "$daemon" "$STARTED_FILE"; then
        stop_daemon "$daemon"
        echo "Stopped $daemon"
    fi
done
rm -f "$STARTED_FILE"
