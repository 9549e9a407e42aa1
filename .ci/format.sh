#!/usr/bin/env bash
# The C++ sources follow .clang-format exactly: lists every file whose formatting differs and
# fails if there is one. Run `clang-format -i` on a file to format it.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "Installing clang-format"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format
fi

mapfile -t files < <(git ls-files '*.cpp' '*.hpp')
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "These files differ from their clang-format output; run clang-format -i on them." >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files formatted"
