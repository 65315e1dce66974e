#!/usr/bin/env bash
# Sets everything up and runs every test: the format check, a developer build
# with warnings as errors, then the same tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

echo "== format"
if ! scripts/format.sh --check; then
    echo "Sources differ from .clang-format: scripts/format.sh formats them." >&2
    exit 1
fi

jobs="$(nproc)"
for preset in dev sanitize; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset tests"
    ctest --preset "$preset" -j "$jobs"
done
