#!/usr/bin/env bash
# Starts a single-node Slurm cluster on this machine (munge, slurmctld,
# slurmd, no systemd), so lumivane-submit and the scaling tests have a real
# scheduler to talk to. Installs Debian's packages when they are missing.
# Running it again while the cluster is up changes nothing; tools/farm/slurm/stop.sh
# stops what this script started, and only that.
#
#   tools/farm/slurm/start.sh          (as root, or through sudo)
set -euo pipefail

[ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "$@"

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tools/farm/slurm/common.sh
. "$HERE/common.sh"

PACKAGES=(slurmctld slurmd munge slurm-client)

install_missing_packages() {
    local missing=() package
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    # The packages' own start-up would race ours (and needs systemd): keep it
    # from starting anything while they install.
    local guard=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        guard=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' >"$guard"
        chmod 755 "$guard"
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
        { [ -n "$guard" ] && rm -f "$guard"; return 1; }
    [ -n "$guard" ] && rm -f "$guard"
    return 0
}

ensure_munge_key() {
    [ -s /etc/munge/munge.key ] && return 0
    install -d -o munge -g munge -m 700 /etc/munge
    (umask 077 && dd if=/dev/urandom of=/etc/munge/munge.key bs=1024 count=1 status=none)
    chown munge:munge /etc/munge/munge.key
    chmod 400 /etc/munge/munge.key
}

start_munge() {
    if munge -n 2>/dev/null | unmunge >/dev/null 2>&1; then return 0; fi
    install -d -o munge -g munge -m 755 /run/munge
    install -d -o munge -g munge -m 700 /var/lib/munge /var/log/munge
    runuser -u munge -- /usr/sbin/munged
    record_started munged
    wait_for "munge to answer" 20 sh -c 'munge -n | unmunge >/dev/null 2>&1'
}

# The node line comes from slurmd itself, so the cluster offers exactly the
# CPUs and memory the machine has.
write_config() {
    local node host config
    node=$(slurmd -C | sed -n 's/^\(NodeName=.*\)$/\1/p' | sed 's/ *UpTime=.*//')
    [ -n "$node" ] || { echo "slurmd -C did not describe this node" >&2; return 1; }
    host=${node#NodeName=}
    host=${host%% *}
    config=$(render_config "$host" "$node")
    if [ -e "$SLURM_CONF_FILE" ] && ! grep -qxF "$CONFIG_MARK" "$SLURM_CONF_FILE"; then
        echo "$SLURM_CONF_FILE was not written by this script; using it as it is"
        FOREIGN_CONFIG=1
        return 0
    fi
    if [ -e "$SLURM_CONF_FILE" ] && [ "$(cat "$SLURM_CONF_FILE")" = "$config" ]; then return 0; fi
    install -d /etc/slurm
    printf '%s\n' "$config" >"$SLURM_CONF_FILE.new"
    mv -f "$SLURM_CONF_FILE.new" "$SLURM_CONF_FILE"
    # Daemons started under an older file would not notice the change.
    if daemon_running slurmd || daemon_running slurmctld; then
        echo "slurm.conf changed: restarting the daemons"
        stop_daemon slurmd
        stop_daemon slurmctld
    fi
}

render_config() {
    local host=$1 node=$2
    cat <<EOF
$CONFIG_MARK
ClusterName=lumivane
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
StateSaveLocation=$STATE_DIR/slurmctld
SlurmdSpoolDir=$STATE_DIR/slurmd
SlurmctldPidFile=$(pid_file slurmctld)
SlurmdPidFile=$(pid_file slurmd)
SlurmctldLogFile=$LOG_DIR/slurmctld.log
SlurmdLogFile=$LOG_DIR/slurmd.log
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
MinJobAge=600
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
}

start_slurm_daemons() {
    # Someone else's cluster that already answers is left as it runs.
    if [ -n "${FOREIGN_CONFIG:-}" ] && sinfo -h >/dev/null 2>&1; then return 0; fi
    install -d "$STATE_DIR/slurmctld" "$STATE_DIR/slurmd" "$LOG_DIR"
    if ! daemon_running slurmctld; then
        slurmctld
        record_started slurmctld
    fi
    if ! daemon_running slurmd; then
        slurmd
        record_started slurmd
    fi
}

node_state() { sinfo -h -N -o '%T' 2>/dev/null | head -n 1; }

# A node that went down with an earlier run comes back once it is resumed.
wait_until_idle() {
    local deadline=$((SECONDS + 90)) state
    while [ $SECONDS -lt $deadline ]; do
        state=$(node_state)
        case "$state" in
            idle | mixed | allocated | completing) echo "Slurm is up: node $state"; return 0 ;;
            down* | drain* | fail*)
                scontrol update NodeName="$(sinfo -h -N -o '%N' | head -n 1)" State=RESUME 2>/dev/null || true ;;
        esac
        sleep 1
    done
    echo "Slurm did not come up (node state: ${state:-no answer}); logs in $LOG_DIR" >&2
    return 1
}

install_missing_packages
ensure_munge_key
start_munge
write_config
start_slurm_daemons
wait_until_idle
