#!/usr/bin/env bash
# A render split by lumivane-submit into chunks must give the single render's
# output: an image sequence byte for byte, a lossless movie frame for frame
# with the same times. A chunk that fails is reported with its log, the rest
# is kept, and resubmitting it completes the job.
#
#   check_scaling.sh local|slurm LumivaneCLI LumivaneJoin lumivane-submit composition
# Exits 77 (skipped) in slurm mode when no Slurm cluster answers.
set -euo pipefail

MODE=$1
CLI=$2
JOIN=$3
SUBMIT=$4
COMPOSITION=$5
RENDER=(-w 160 -h 120 -f 24 -d 2 -m 4)
FRAMES=48
TIMEOUT=600

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cluster_answers() {
    command -v sbatch >/dev/null && sinfo -h -o %T 2>/dev/null | grep -qE 'idle|mixed|alloc'
}

# The test starts its own single-node cluster where it may (root, Slurm
# installed) and stops what it started; one already up (CI's) is used as is.
# Taken from the source tree, so an installed lumivane-submit tests as well.
SLURM_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools/farm/slurm" && pwd)
STARTED_CLUSTER=0
if [ "$MODE" = slurm ]; then
    if ! cluster_answers && [ "$(id -u)" -eq 0 ] && command -v slurmctld >/dev/null &&
        command -v slurmd >/dev/null && command -v munged >/dev/null; then
        "$SLURM_TOOLS/start.sh" && STARTED_CLUSTER=1
    fi
    if ! cluster_answers; then
        echo "no Slurm cluster answers here (tools/farm/slurm/start.sh starts one); skipped"
        [ "$STARTED_CLUSTER" -eq 1 ] && "$SLURM_TOOLS/stop.sh"
        exit 77
    fi
    SUBMIT_MODE=()
else
    SUBMIT_MODE=(--local)
fi

TMP=$(mktemp -d)
cleanup() {
    local job
    for job in "$TMP"/*.job/jobs/*; do
        if [ -f "$job" ]; then scancel "$(cat "$job")" 2>/dev/null || true; fi
    done
    rm -rf "$TMP"
    if [ "$STARTED_CLUSTER" -eq 1 ]; then "$SLURM_TOOLS/stop.sh" || true; fi
}
trap cleanup EXIT
export LUMIVANE_JOIN=$JOIN

# Fails the second chunk's first run the way a lost node would, then renders.
FLAKY=$TMP/flaky-renderer
# shellcheck disable=SC2016
printf '#!/bin/bash\nif [ "$1 $2" = "--frames 13-24" ] && mkdir %q 2>/dev/null; then\n' "$TMP/failed-once" >"$FLAKY"
printf '    echo "injected failure" >&2\n    exit 254\nfi\nexec %q "$@"\n' "$CLI" >>"$FLAKY"
chmod +x "$FLAKY"

# Slurm: waits until the job's chunks and join have all left the queue (a
# failed chunk cancels the join while others still run); then, either way,
# the job directory's status says how it went.
wait_for_job() {
    local workdir=$1 deadline=$((SECONDS + TIMEOUT)) jobs
    if [ "$MODE" = slurm ]; then
        jobs=$(cat "$workdir"/jobs/* | paste -sd,)
        while [ -n "$(squeue -h -o %i -j "$jobs" 2>/dev/null)" ]; do
            [ $SECONDS -lt $deadline ] || fail "jobs $jobs still queued after ${TIMEOUT}s"
            sleep 1
        done
    fi
    "$SUBMIT" --status "$workdir"
}

movie_frames() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 -; }

echo "== single renders"
"$CLI" "${RENDER[@]}" -c public.png -o "$TMP/reference" "$COMPOSITION"
"$CLI" "${RENDER[@]}" -c FFV1 -o "$TMP/reference.mov" "$COMPOSITION"

echo "== image sequence in 4 chunks"
LUMIVANE_CLI=$CLI "$SUBMIT" "${SUBMIT_MODE[@]}" --chunks 4 "${RENDER[@]}" -c public.png \
    -o "$TMP/sequence" "$COMPOSITION"
wait_for_job "$TMP/sequence.job" || fail "the chunked sequence did not join"
[ "$(find "$TMP/sequence" -type f -name 'Image-*' | wc -l)" -eq $FRAMES ] || fail "the sequence does not hold $FRAMES frames"
[ "$(find "$TMP/sequence" -type f -name '.lumivane-chunk-*.txt' | wc -l)" -eq 4 ] || fail "the chunks left no manifests"
diff -r -x '.lumivane-chunk-*' "$TMP/reference" "$TMP/sequence" || fail "the chunked sequence differs from the single render"

echo "== the job directory is private, and its job file data that is never run"
[ "$(stat -c %a "$TMP/sequence.job")" = 700 ] || fail "the job directory is open to others"
HOSTILE=$TMP/hostile.job
cp -r "$TMP/sequence.job" "$HOSTILE"
printf 'touch %q\n' "$TMP/owned" >>"$HOSTILE/job.env"
report=$("$SUBMIT" --status "$HOSTILE" 2>&1) && fail "a job file with a command in it is taken: $report"
grep -qF "not NAME=VALUE; the job file is refused" <<<"$report" || fail "the refusal does not say why: $report"
sed "s|^OUTPUT=.*|OUTPUT=/\$(touch $TMP/owned)|" "$TMP/sequence.job/job.env" >"$HOSTILE/job.env"
report=$("$SUBMIT" --status "$HOSTILE" 2>&1) || fail "a job file of plain values is refused: $report"
grep -qF "into /\$(touch $TMP/owned)" <<<"$report" || fail "a value was not taken as text: $report"
[ ! -e "$TMP/owned" ] || fail "the job file ran a command"
report=$("$SUBMIT" --local --chunks 2 -f 0 -o "$TMP/none.mov" "$COMPOSITION" 2>&1) && fail "a refused count is taken"
grep -qF "(status 255): Framerate must be positive" <<<"$report" || fail "the renderer's refusal is not told: $report"

echo "== movie in 4 chunks through node-local scratch, the second chunk failing once"
mkdir "$TMP/scratch"
status=0
LUMIVANE_CLI=$FLAKY "$SUBMIT" "${SUBMIT_MODE[@]}" --chunks 4 --scratch "$TMP/scratch" "${RENDER[@]}" -c FFV1 \
    -o "$TMP/movie.mov" "$COMPOSITION" 2>"$TMP/submit.err" || status=$?
cat "$TMP/submit.err"
WORK=$TMP/movie.mov.job
report=$(wait_for_job "$WORK" 2>&1) && fail "a job with a failed chunk reports success: $report"
echo "$report"
grep -qF "chunks done: 3 of 4" <<<"$report" || fail "the status does not count 3 of 4 chunks done"
grep -qF "chunk 2 (frames 13-24) failed with status 254" <<<"$report" || fail "the status does not name the failed chunk"
grep -qF "log: $WORK/logs/chunk-2.log" <<<"$report" || fail "the status does not say where the chunk's log is"
grep -qF "injected failure" "$WORK/logs/chunk-2.log" || fail "the chunk's log does not hold its error"
if [ "$MODE" = local ]; then
    [ $status -ne 0 ] || fail "lumivane-submit --local exits 0 although a chunk failed"
    grep -qF "chunk 2 (frames 13-24) failed" "$TMP/submit.err" || fail "the local run does not name the failed chunk"
fi
[ ! -e "$TMP/movie.mov" ] || fail "a movie was joined from 3 of 4 chunks"
for n in 1 3 4; do [ -s "$WORK/chunks/chunk-$n.mov" ] || fail "chunk $n's movie was not kept"; done
[ -z "$(ls -A "$TMP/scratch")" ] || fail "scratch directories are left behind"

"$SUBMIT" --resubmit "$WORK" 2
wait_for_job "$WORK" || fail "the job did not complete after the chunk was resubmitted"
[ "$(movie_frames "$TMP/movie.mov" | grep -vc '^#')" -eq $FRAMES ] || fail "the joined movie does not hold $FRAMES frames"
diff <(movie_frames "$TMP/reference.mov") <(movie_frames "$TMP/movie.mov") ||
    fail "the joined movie's frames or times differ from the single render"
[ -z "$(ls -A "$WORK/chunks")" ] || fail "chunk movies are left after the join"
echo "PASS ($MODE)"
