#!/usr/bin/env bash
# Installs what is missing, builds, and writes pictures of the three windows at
# 1x and 2x scale into screenshots/ (not kept in the repository).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target valdrin-screenshots
for scale in 1 2; do
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale build/dev/app/valdrin-screenshots screenshots "${scale}x"
done
ls screenshots
