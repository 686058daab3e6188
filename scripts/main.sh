#!/usr/bin/env bash
# Builds tallyvet and runs its main job on the embedded sample account set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTALLYVET_TESTS=OFF -DTALLYVET_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
tv=build/release/cli/tallyvet
"$tv" --version
