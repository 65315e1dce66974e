#!/usr/bin/env bash
# Sets everything up and runs every test: a developer build with warnings as
# errors, then the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

jobs="$(nproc)"
for preset in dev sanitize; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset tests"
    ctest --preset "$preset" -j "$jobs"
done
