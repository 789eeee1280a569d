#!/usr/bin/env bash
# Installs what is missing, builds (Release, incremental) and starts Orvane with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
exec build/bin/orvane --version
