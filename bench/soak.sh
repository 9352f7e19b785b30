#!/usr/bin/env bash
# The soak: the sanitizer build (ASan+UBSan) of the windowless server on a
# loopback ngircd, ten members each sending a command every two seconds plus
# list requests, for ten minutes (or the seconds given). Prints the requests
# answered, the resident memory slope and the sanitizer reports; exits non-zero
# when a request went unanswered or a sanitizer spoke. A measurement, not CI.
#
#   bench/soak.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
cmake --preset asan > /dev/null
cmake --build --preset asan --target valdrin-aim-serverd -j2
cmake --preset bench > /dev/null
cmake --build --preset bench --target bench_soak -j2
build/bench/bench/bench_soak build/asan/app/valdrin-aim-serverd "$seconds"
