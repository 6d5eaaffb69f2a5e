#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from the repository's .clang-format style.
# `cmake --build build --target format` rewrites them.
# Usage: scripts/check-format.sh [REPOSITORY]
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"
if ! command -v clang-format >/dev/null 2>&1; then
  echo "clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
mapfile -d '' sources < <(find src tests bench fuzz server resources -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "unformatted sources: run 'cmake --build build --target format'" >&2
  exit 1
fi
echo "format: ${#sources[@]} sources in the repository's style"
