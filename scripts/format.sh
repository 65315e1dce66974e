#!/usr/bin/env bash
# Formats every C++ source of the project with the machine's clang-format
# (Debian 12: clang-format 14) and the committed .clang-format.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files -- '*.cpp' '*.h' | xargs clang-format -i
