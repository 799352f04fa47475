# Sourced by the shell benches: measure prints "WALL CPU" in seconds for one
# command and every process it starts (children's times count once waited for).
measure() {
    local start end before after me=$BASHPID
    before=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$me/stat")
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    after=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$me/stat")
    awk -v s="$start" -v e="$end" -v b="$before" -v a="$after" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.2f %.2f\n", e - s, (a - b) / hz }'
}
