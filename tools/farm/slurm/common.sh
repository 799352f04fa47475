# Shared by start.sh and stop.sh: where the single-node cluster keeps its
# files, and which daemons this machine's start.sh started.
# shellcheck shell=bash disable=SC2034

SLURM_CONF_FILE=/etc/slurm/slurm.conf
CONFIG_MARK="# Single-node cluster written by Lumivane's tools/farm/slurm/start.sh"
STATE_DIR=/var/lib/lumivane-slurm
LOG_DIR=/var/log/lumivane-slurm
# What start.sh started, so stop.sh leaves daemons it found running alone.
STARTED_FILE=$STATE_DIR/started

pid_file() {
    case "$1" in
        munged) echo /run/munge/munged.pid ;;
        *) echo "/run/lumivane-$1.pid" ;;
    esac
}

daemon_pid() {
    local file pid
    file=$(pid_file "$1")
    [ -r "$file" ] || return 1
    pid=$(tr -dc '0-9' <"$file")
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
    # A stale file may name a process that has since reused the number.
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$1" ] || return 1
    echo "$pid"
}

daemon_running() { daemon_pid "$1" >/dev/null; }

record_started() {
    install -d "$STATE_DIR"
    grep -qxF "$1" "$STARTED_FILE" 2>/dev/null || echo "$1" >>"$STARTED_FILE"
}

# Polls a command until it succeeds: wait_for WHAT SECONDS COMMAND...
wait_for() {
    local what=$1 limit=$2 deadline
    shift 2
    deadline=$((SECONDS + limit))
    until "$@"; do
        if [ $SECONDS -ge $deadline ]; then
            echo "gave up waiting for $what after ${limit}s" >&2
            return 1
        fi
        sleep 0.5
    done
}

stop_daemon() {
    local pid
    pid=$(daemon_pid "$1") || return 0
    kill -TERM "$pid"
    if ! wait_for "$1 to stop" 30 sh -c "! kill -0 $pid 2>/dev/null"; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
}
