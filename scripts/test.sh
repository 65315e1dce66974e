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
    # A failing test shows its output. One that fails runs once more: the
    # browser tests drive Chromium on a machine that may be busy with other
    # work, and a real fault fails both times.
    ctest --preset "$preset" -j "$jobs" --output-on-failure --repeat until-pass:2
done
