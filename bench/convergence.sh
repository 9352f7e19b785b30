#!/usr/bin/env bash
# The long run of the convergence test: the sanitizer build of the windowless
# server on a loopback ngircd, reloads that add and take out rooms and
# connections, changed pace and options, server restarts, kicks and members
# coming and going, drawn from a seed, for ten minutes (or the seconds given).
# After each step the rooms served must come to be the rooms of network.conf
# within 30 s, and each must answer. A failure names its seed; give it back to
# replay the same steps.
#
#   bench/convergence.sh [seconds] [seed]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
cmake --preset asan > /dev/null
cmake --build --preset asan --target tst_headless -j2
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='valdrin.*=false' G_DEBUG=fatal-criticals
export VALDRIN_CONVERGENCE_SECONDS="$seconds" QTEST_FUNCTION_TIMEOUT=$(((seconds + 300) * 1000))
[[ -n "${2:-}" ]] && export VALDRIN_CONVERGENCE_SEED="$2"
build/asan/tests/tst_headless roomsServedConvergeToTheSettings -maxwarnings 0
