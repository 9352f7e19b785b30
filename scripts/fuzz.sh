#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer with ASan+UBSan, in the sanitizer
# build: the preset asan makes them beside the suites) and runs each for the
# given number of seconds (default 30), starting from the seed corpus kept in
# tests/fuzz/corpus. Findings are written to build/asan/findings/.
#   scripts/fuzz.sh [seconds] [target...]
# FUZZ_JOBS targets run at a time (default 2, one a core).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true

bash scripts/install-deps.sh

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(fuzz_chatcommand fuzz_itemnumber fuzz_rowfile fuzz_listpages fuzz_networkconf fuzz_wiretext)
fi
cmake --preset asan >/dev/null
# The targets and the libraries they link (built already by the test script).
cmake --build --preset asan --target "${targets[@]}"
mkdir -p build/asan/findings
export QT_LOGGING_RULES='valdrin.*=false'
export ASAN_OPTIONS=detect_leaks=0
# The row file target writes files: memory is faster than a disk.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
jobs=${FUZZ_JOBS:-2}
run_target() {
    local target=$1 work
    work=$(mktemp -d)
    cp -r "tests/fuzz/corpus/$target/." "$work/"
    local status=0
    if ! "build/asan/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="build/asan/findings/$target-" "$work" 2> "build/asan/$target.log"; then
        status=1
    fi
    rm -rf "$work"
    return $status
}
status=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
    pids=()
    batch=("${targets[@]:i:jobs}")
    for target in "${batch[@]}"; do
        echo "== ${target} for ${seconds} s"
        run_target "$target" &
        pids+=($!)
    done
    for index in "${!pids[@]}"; do
        target=${batch[$index]}
        if ! wait "${pids[$index]}"; then
            echo "$target found a fault:" >&2
            tail -n 40 "build/asan/$target.log" >&2
            status=1
        fi
        grep -E '^stat::number_of_executed_units' "build/asan/$target.log" || true
    done
done
exit $status
