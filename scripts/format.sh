#!/usr/bin/env bash
# Formats every tracked C++ source of the project with the machine's
# clang-format (Debian 12: clang-format 14) and the committed .clang-format.
# With --check it changes nothing and fails when a source is not formatted.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ "${1:-}" = "--check" ]; then
    git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
else
    git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format -i
fi
