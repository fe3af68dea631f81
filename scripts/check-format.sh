#!/usr/bin/env bash
# Fails when a C++ file of the repository is not as clang-format (.clang-format) lays it out.
# With --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run -Werror "${files[@]}"
  echo "clang-format: ${#files[@]} files clean"
fi
