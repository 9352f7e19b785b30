#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. Arguments are
# passed on to the program (for instance --data-dir FOLDER).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/app/valdrin-aim-server "$@"
