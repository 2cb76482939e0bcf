#!/usr/bin/env bash
# Compares the dynamic symbols that a shared library defines with a list.
#   check_exports.sh LIBRARY NAME...
set -euo pipefail
lib=$1; shift
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRW]$/ {print $3}' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the interface:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) functions, as expected"
