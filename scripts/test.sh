#!/usr/bin/env bash
# Installs what is missing, then builds and tests:
#  - the normal build, its unit suites, and the Debian package made from it;
#  - the AddressSanitizer + UndefinedBehaviorSanitizer build (clang), with every
#    suite but the crash-safety run (the real IRC and XMPP servers run here: the
#    sanitizer proves all the normal build would, and more), and the fuzz
#    targets, which it builds too;
#  - the windowless server's binary, which must link no GUI library;
#  - every C++ file formatted as .clang-format has it;
#  - a short fuzz smoke beside the sanitizer suites (scripts/fuzz.sh runs longer).
# Prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=()
step_started=$SECONDS
finish_step() {
    steps+=("$(printf '%-34s %4d s' "$1" $((SECONDS - step_started)))")
    step_started=$SECONDS
}
report() {
    echo "== Time taken"
    printf '%s\n' "${steps[@]}"
    printf '%-34s %4d s\n' "all" "$SECONDS"
}
trap report EXIT

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
# ccache finds a build of another clone of the tree (CI's, a second checkout)
# by paths relative to it, the debug information's folder included.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
finish_step "install"

# Every C++ file as the project's .clang-format has it: the files git keeps in a
# clone, the files found in a tree without .git (a release tarball).
echo "== Format"
if [[ "$(git rev-parse --show-toplevel 2>/dev/null)" == "$PWD" ]]; then
    git ls-files -z '*.cpp' '*.h'
else
    find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0
fi | xargs -0 clang-format --dry-run --Werror
finish_step "format"

echo "== Build and test: dev"
cmake --preset dev >/dev/null
cmake --build --preset dev
finish_step "build: dev"
ctest --preset dev -j2 -LE network
finish_step "suites: dev (unit, crash safety)"

# The Debian package, made from the normal build, installs and runs; its units verify.
echo "== Package check"
bash scripts/check-package.sh dev
finish_step "package"

echo "== Build and test: asan"
# One clang build serves the sanitizer suites and the fuzz targets.
cmake --preset asan >/dev/null
cmake --build --preset asan
finish_step "build: asan (and the fuzz targets)"

# Fuzz smoke: every fuzz target for a short while, from its seed corpus, one
# at a time beside the suites, which mostly wait on the servers' pace.
echo "== Fuzz smoke (beside the suites; its output follows them)"
FUZZ_JOBS=1 bash scripts/fuzz.sh 10 >build/asan/fuzz-smoke.log 2>&1 &
fuzz_pid=$!
# The network suites mostly wait on the servers' pace: four at a time.
suites=0
ctest --preset asan -j4 -LE crashsafety || suites=$?
finish_step "suites: asan (unit, network)"
fuzz=0
wait "$fuzz_pid" || fuzz=$?
echo "== Fuzz smoke"
cat build/asan/fuzz-smoke.log
finish_step "fuzz smoke (the rest of it)"
[[ $suites -eq 0 && $fuzz -eq 0 ]] || exit 1

# The windowless server links no GUI library: proven on the normal build's
# binary (ldd lists every library it loads, its libraries' ones too), without a
# build of its own. `cmake --preset server` still builds it alone.
if ldd build/dev/app/valdrin-aim-serverd | grep -E 'libQt6(Gui|Widgets)'; then
    echo "valdrin-aim-serverd links Qt's GUI libraries" >&2
    exit 1
fi
finish_step "server links no GUI"
