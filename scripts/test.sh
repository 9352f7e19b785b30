#!/usr/bin/env bash
# Installs what is missing, then builds and tests:
#  - the normal build, its unit suites, and the Debian package made from it;
#  - the AddressSanitizer + UndefinedBehaviorSanitizer build, with every suite
#    but the crash-safety run (the real IRC and XMPP servers run here: the
#    sanitizer proves all the normal build would, and more);
#  - the windowless server built alone, without Qt's GUI libraries;
#  - a short fuzz smoke (scripts/fuzz.sh runs longer).
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
finish_step "install"

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
cmake --preset asan >/dev/null
cmake --build --preset asan
finish_step "build: asan"
ctest --preset asan -j2 -LE crashsafety
finish_step "suites: asan (unit, network)"

# The windowless server builds without Qt Widgets/Gui and does not link them.
echo "== Build: the windowless server alone"
cmake --preset server >/dev/null
cmake --build --preset server --target valdrin-aim-serverd
if ldd build/server/app/server/valdrin-aim-serverd | grep -E 'libQt6(Gui|Widgets)'; then
    echo "valdrin-aim-serverd links Qt's GUI libraries" >&2
    exit 1
fi
finish_step "build: server alone"

# Fuzz smoke: every fuzz target for a short while, from its seed corpus.
echo "== Fuzz smoke"
bash scripts/fuzz.sh 10
finish_step "fuzz: build and smoke"
