#!/usr/bin/env bash
# Fails when any C or C++ file differs from what clang-format makes of it, or when README.md
# and docs/ have a broken link or README.md stops being a short front door.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.hpp' '*.c' | xargs -0 -r clang-format --dry-run -Werror
scripts/check-docs.py
