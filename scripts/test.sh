#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# in the normal build and in the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

for preset in dev asan; do
    echo "== Build and test: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

# The windowless server builds without Qt Widgets/Gui and does not link them.
echo "== Build: the windowless server alone"
cmake --preset server >/dev/null
cmake --build --preset server --target valdrin-aim-serverd
if ldd build/server/app/server/valdrin-aim-serverd | grep -E 'libQt6(Gui|Widgets)'; then
    echo "valdrin-aim-serverd links Qt's GUI libraries" >&2
    exit 1
fi

# The Debian package installs and runs; its systemd units verify.
echo "== Package check"
bash scripts/check-package.sh

# Fuzz smoke: every fuzz target for a short while, from its seed corpus.
echo "== Fuzz smoke"
bash scripts/fuzz.sh 30
